#include "dialogs/widgets/graph_archive.h"

#include <QByteArray>

#include "dialogs/widgets/graph_bar.h"
#include "dialogs/widgets/graph_data.h"
#include "dialogs/widgets/graph_plot.h"

namespace {
constexpr uint16_t kNullTag = 0;
constexpr uint16_t kNewClassTag = 0xFFFF;
constexpr uint16_t kClassTag = 0x8000;
constexpr uint16_t kBigCount = 0xFFFF;
constexpr uint8_t kLongText = 0xFF;
}  // namespace

void GraphArchive::WriteU8(uint8_t v) {
  bytes_.push_back(v);
}

void GraphArchive::WriteU16(uint16_t v) {
  bytes_.push_back(static_cast<uint8_t>(v & 0xFF));
  bytes_.push_back(static_cast<uint8_t>(v >> 8));
}

void GraphArchive::WriteI32(int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(u >> (8 * i)));
}

void GraphArchive::WriteString(const QString& s) {
  const QByteArray b = s.toUtf8();
  const auto n = static_cast<uint32_t>(b.size());
  if (n < kLongText) {
    WriteU8(static_cast<uint8_t>(n));
  } else if (n < 0xFFFE) {
    WriteU8(kLongText);
    WriteU16(static_cast<uint16_t>(n));
  } else {
    WriteU8(kLongText);
    WriteU16(0xFFFF);
    WriteI32(static_cast<int32_t>(n));
  }
  bytes_.insert(bytes_.end(), b.begin(), b.end());
}

void GraphArchive::WriteCount(uint32_t n) {
  if (n < kBigCount) {
    WriteU16(static_cast<uint16_t>(n));
  } else {
    WriteU16(kBigCount);
    WriteI32(static_cast<int32_t>(n));
  }
}

void GraphArchive::WriteObject(KtGraphObject* object) {
  if (object == nullptr) {
    WriteU16(kNullTag);
    return;
  }
  const std::string name = object->RuntimeClassName();
  auto it = stored_classes_.find(name);
  if (it == stored_classes_.end()) {
    WriteU16(kNewClassTag);
    WriteU16(object->Schema());
    WriteU16(static_cast<uint16_t>(name.size()));
    bytes_.insert(bytes_.end(), name.begin(), name.end());
    stored_classes_[name] = map_count_++;
  } else {
    WriteU16(static_cast<uint16_t>(kClassTag | it->second));
  }
  ++map_count_;  // the object's own index
  object->Serialize(*this);
}

bool GraphArchive::Take(size_t n) {
  if (failed_ || bytes_.size() - pos_ < n) {
    failed_ = true;
    return false;
  }
  return true;
}

uint8_t GraphArchive::ReadU8() {
  if (!Take(1)) return 0;
  return bytes_[pos_++];
}

uint16_t GraphArchive::ReadU16() {
  if (!Take(2)) return 0;
  const uint16_t v = static_cast<uint16_t>(bytes_[pos_] | (bytes_[pos_ + 1] << 8));
  pos_ += 2;
  return v;
}

int32_t GraphArchive::ReadI32() {
  if (!Take(4)) return 0;
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= static_cast<uint32_t>(bytes_[pos_ + i]) << (8 * i);
  pos_ += 4;
  return static_cast<int32_t>(u);
}

QString GraphArchive::ReadString() {
  uint32_t n = ReadU8();
  if (n == kLongText) {
    n = ReadU16();
    if (n == 0xFFFF) n = static_cast<uint32_t>(ReadI32());
  }
  if (!Take(n)) return QString();
  const QString s =
      QString::fromUtf8(reinterpret_cast<const char*>(bytes_.data() + pos_), static_cast<qsizetype>(n));
  pos_ += n;
  return s;
}

uint32_t GraphArchive::ReadCount() {
  uint32_t n = ReadU16();
  if (n == kBigCount) n = static_cast<uint32_t>(ReadI32());
  return n;
}

KtGraphObject* GraphArchive::ReadObject() {
  const uint16_t tag = ReadU16();
  if (failed_ || tag == kNullTag) return nullptr;
  std::string name;
  if (tag == kNewClassTag) {
    ReadU16();  // schema
    const uint16_t len = ReadU16();
    if (!Take(len)) return nullptr;
    name.assign(reinterpret_cast<const char*>(bytes_.data() + pos_), len);
    pos_ += len;
    loaded_classes_[map_count_++] = name;
  } else if ((tag & kClassTag) != 0) {
    auto it = loaded_classes_.find(tag & ~kClassTag);
    if (it == loaded_classes_.end()) {
      failed_ = true;
      return nullptr;
    }
    name = it->second;
  } else {
    failed_ = true;  // references to earlier objects are never written by the graph classes
    return nullptr;
  }
  ++map_count_;
  // Bounded so that a crafted archive of objects inside objects cannot exhaust the stack.
  if (depth_ >= kGraphArchiveMaxNesting) {
    failed_ = true;
    return nullptr;
  }
  KtGraphObject* object = CreateGraphObject(name);
  if (object == nullptr) {
    failed_ = true;
    return nullptr;
  }
  ++depth_;
  object->Serialize(*this);
  --depth_;
  if (failed_) {
    delete object;  // a half-read object is not handed out
    return nullptr;
  }
  return object;
}

KtGraphObject* CreateGraphObject(const std::string& className) {
  if (className == "KtGraphData") return new KtGraphData;
  if (className == "KtGraphBase") return new KtGraphBase;
  if (className == "KtGraphPlot") return new KtGraphPlot;
  if (className == "KtGraphBar") return new KtGraphBar;
  return nullptr;
}
