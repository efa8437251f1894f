// Fuzzes the reader of "preport.dat", the problem report's saved entries (four strings ended by
// zero bytes): any bytes give entries within their fields' lengths, and entries read are saved
// and read back unchanged.
#include <QByteArray>

#include "dialogs/eventlog/bug_dlg.h"
#include "fuzz/console_files.h"

using fuzz_console::Check;

namespace {

bool Same(const CBugDlg::Entries& a, const CBugDlg::Entries& b) {
  return a.name == b.name && a.phone == b.phone && a.email == b.email && a.description == b.description;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const CBugDlg::Entries entries = CBugDlg::ParseDataFile(bytes);
  Check(entries.name.size() <= CBugDlg::kMaxName && entries.phone.size() <= CBugDlg::kMaxPhone);
  Check(entries.email.size() <= CBugDlg::kMaxEmail && entries.description.size() <= CBugDlg::kMaxDescription);
  Check(Same(CBugDlg::ParseDataFile(CBugDlg::DataFileBytes(entries)), entries));
  return 0;
}
