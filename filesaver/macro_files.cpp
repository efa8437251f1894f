#include "filesaver/macro_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>

namespace filesaver {

namespace {

namespace fs = std::filesystem;

void PutU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// Cuts a text to at most `max` bytes without splitting a UTF-8 sequence.
std::string CutText(std::string_view text, size_t max) {
  if (text.size() <= max) return std::string(text);
  size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return std::string(text.substr(0, n));
}

void PutText(uint8_t* field, size_t size, std::string_view text) {
  const std::string cut = CutText(text, size - 1);
  std::memcpy(field, cut.data(), cut.size());  // the rest of the field is zero already
}

std::string GetText(const uint8_t* field, size_t size) {
  const void* end = std::memchr(field, 0, size);
  const size_t n = end ? static_cast<size_t>(static_cast<const uint8_t*>(end) - field) : size;
  return std::string(reinterpret_cast<const char*>(field), n);
}

std::string Upper(std::string_view text) {
  std::string s(text);
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

bool EndsWithIgnoringCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && Upper(text.substr(text.size() - suffix.size())) == suffix;
}

std::string CurrentDirectory() {
  std::error_code ec;
  const fs::path p = fs::current_path(ec);
  return ec ? std::string() : p.string();
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bytes->clear();
  uint8_t buffer[8192];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    bytes->insert(bytes->end(), buffer, buffer + n);
  }
  ::close(fd);
  return ok;
}

// Writes the file anew without ever writing through what is there: the bytes go into a fresh
// file beside it, which then replaces the name. A link planted under the name is replaced,
// its target left alone. The file is the user's only (mkostemp's mode 0600): a recording
// holds what was typed.
bool ReplaceFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = true;
  size_t done = 0;
  while (ok && done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

std::vector<uint8_t> RecordingBytes(const RecordingHeader& header, const std::vector<EventMsg>& events) {
  std::vector<uint8_t> bytes(kRecordingHeaderBytes);
  PutU32(bytes.data(), header.event_count);
  PutU32(bytes.data() + 4, header.start_time);
  bytes.reserve(kRecordingHeaderBytes + events.size() * kEventBytes);
  for (const EventMsg& e : events) {
    const auto b = EncodeEvent(e);
    bytes.insert(bytes.end(), b.begin(), b.end());
  }
  return bytes;
}

}  // namespace

std::array<uint8_t, kEventBytes> EncodeEvent(const EventMsg& event) {
  std::array<uint8_t, kEventBytes> b{};
  PutU32(&b[0], event.message);
  PutU32(&b[4], event.param_l);
  PutU32(&b[8], event.param_h);
  PutU32(&b[12], event.time);
  PutU32(&b[16], event.window);
  return b;
}

EventMsg DecodeEvent(const uint8_t* bytes) {
  return EventMsg{GetU32(bytes), GetU32(bytes + 4), GetU32(bytes + 8), GetU32(bytes + 12),
                  GetU32(bytes + 16)};
}

std::array<uint8_t, kMacroRecordBytes> EncodeMacroRecord(const MacroRecord& record) {
  std::array<uint8_t, kMacroRecordBytes> b{};
  const MacroSubject& s = record.subject;
  PutText(&b[0], kTitleBytes, s.title);
  PutText(&b[256], kProgramBytes, s.program);
  PutText(&b[269], kPrefixBytes, s.prefix);
  PutText(&b[274], kExtensionBytes, s.extension);
  PutU32(&b[280], static_cast<uint32_t>(s.rect.left));
  PutU32(&b[284], static_cast<uint32_t>(s.rect.top));
  PutU32(&b[288], static_cast<uint32_t>(s.rect.right));
  PutU32(&b[292], static_cast<uint32_t>(s.rect.bottom));
  const auto e = EncodeEvent(record.event);
  std::copy(e.begin(), e.end(), b.begin() + 296);
  PutU32(&b[316], record.header.event_count);
  PutU32(&b[320], record.header.start_time);
  return b;
}

MacroRecord DecodeMacroRecord(const uint8_t* b) {
  MacroRecord r;
  r.subject.title = GetText(b, kTitleBytes);
  r.subject.program = GetText(b + 256, kProgramBytes);
  r.subject.prefix = GetText(b + 269, kPrefixBytes);
  r.subject.extension = GetText(b + 274, kExtensionBytes);
  r.subject.rect = WindowRect{static_cast<int32_t>(GetU32(b + 280)), static_cast<int32_t>(GetU32(b + 284)),
                              static_cast<int32_t>(GetU32(b + 288)), static_cast<int32_t>(GetU32(b + 292))};
  r.event = DecodeEvent(b + 296);
  r.header = RecordingHeader{GetU32(b + 316), GetU32(b + 320)};
  return r;
}

bool WriteRecordingFile(const std::string& path, const RecordingHeader& header,
                        const std::vector<EventMsg>& events) {
  return ReplaceFile(path, RecordingBytes(header, events));
}

bool ReadRecordingFile(const std::string& path, RecordingHeader* header, std::vector<EventMsg>* events) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, &bytes) || bytes.size() < kRecordingHeaderBytes) return false;
  *header = RecordingHeader{GetU32(bytes.data()), GetU32(bytes.data() + 4)};
  events->clear();
  for (size_t at = kRecordingHeaderBytes; at + kEventBytes <= bytes.size(); at += kEventBytes)
    events->push_back(DecodeEvent(bytes.data() + at));
  return true;
}

std::string MacroNameFromProgram(std::string_view program) {
  std::string s = Upper(program);
  const size_t exe = s.find(".EXE");
  if (exe != std::string::npos) s.resize(exe);
  return s + ".MAC";
}

std::string ProgramNameFromMacro(std::string_view macro) {
  std::string s = Upper(macro);
  const size_t mac = s.find(".MAC");
  if (mac == std::string::npos) return s;
  s.resize(mac);
  return s + ".EXE";
}

std::string EnsureExeSuffix(std::string_view name) {
  std::string s = Upper(name);
  if (s.find(".EXE") == std::string::npos) s += ".EXE";
  return s;
}

std::string ProgramNameFromExecutable(std::string_view path) {
  const size_t slash = path.rfind('/');
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  name = name.substr(0, name.find('.'));
  if (name.empty()) return std::string();
  return Upper(CutText(name, 8)) + ".EXE";
}

std::vector<std::string> ListMacroFiles() {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(".", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code type_ec;
    if (!EndsWithIgnoringCase(name, ".MAC") || !it->is_regular_file(type_ec)) continue;
    // An empty macro replays nothing: it counts as none (no listing, no replay, no refusal of
    // a new recording for its program, which then replaces it).
    std::error_code size_ec;
    const uintmax_t size = it->file_size(size_ec);
    if (!size_ec && size == 0) continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string FindMacroFile(std::string_view macro_name) {
  if (macro_name.empty()) return std::string();
  const std::string wanted = Upper(macro_name);
  for (const std::string& name : ListMacroFiles())
    if (Upper(name) == wanted) return CurrentDirectory() + "/" + name;
  return std::string();
}

WindowRect ReadMacroWindowRect(std::string_view macro_name, bool* ok) {
  if (ok) *ok = false;
  const std::string path = FindMacroFile(macro_name);
  if (path.empty()) return WindowRect{};
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return WindowRect{};
  uint8_t record[kMacroRecordBytes];
  size_t got = 0;
  while (got < sizeof record) {
    const ssize_t n = ::read(fd, record + got, sizeof record - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  if (got < sizeof record) return WindowRect{};
  if (ok) *ok = true;
  return DecodeMacroRecord(record).subject.rect;
}

std::string SequenceFilePath(const std::string& folder, const std::string& prefix, int number,
                             const std::string& extension) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%04d", number % 10000);
  return folder + "/" + prefix + digits + "." + extension;
}

int NextSequenceNumber(const std::string& folder, const std::string& prefix, const std::string& extension) {
  // Every name of the folder, and every part of one ending before a ".": a number is taken
  // when its name is there as it is or with further extensions.
  std::set<std::string> taken;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = Upper(it->path().filename().string());
    taken.insert(name);
    for (size_t dot = name.find('.'); dot != std::string::npos; dot = name.find('.', dot + 1))
      taken.insert(name.substr(0, dot));
  }
  for (int n = 0; n <= 9999; ++n) {
    const std::string path = SequenceFilePath("", prefix, n, extension);
    if (!taken.contains(Upper(path.substr(1)))) return n;
  }
  return 0;
}

bool ConvertRecording(const MacroSubject& subject) {
  if (subject.program.empty()) return false;
  RecordingHeader header;
  std::vector<EventMsg> events;
  if (!ReadRecordingFile(kRecordingFile, &header, &events)) return false;
  // Nothing recorded (stopped before anything was typed): no macro, which would replay nothing.
  if (events.empty()) return false;
  std::vector<uint8_t> bytes;
  bytes.reserve(events.size() * kMacroRecordBytes);
  for (const EventMsg& e : events) {
    const auto record = EncodeMacroRecord(MacroRecord{subject, e, header});
    bytes.insert(bytes.end(), record.begin(), record.end());
  }
  return ReplaceFile(MacroNameFromProgram(subject.program), bytes);
}

int BuildPlaybackFile(std::string_view program) {
  if (program.empty()) return 0;
  // The macro may have been deleted since it was listed: nothing is written then.
  const std::string macro = FindMacroFile(MacroNameFromProgram(program));
  std::vector<uint8_t> bytes;
  if (macro.empty() || !ReadWholeFile(macro, &bytes)) return 0;

  const std::string wanted = Upper(program);
  bool matched = false;
  RecordingHeader header;
  std::vector<EventMsg> events;
  std::string prefix = kDefaultPrefix;
  std::string extension = kDefaultExtension;
  for (size_t at = 0; at + kMacroRecordBytes <= bytes.size(); at += kMacroRecordBytes) {
    const MacroRecord r = DecodeMacroRecord(bytes.data() + at);
    if (Upper(r.subject.program) != wanted) continue;
    if (!matched) {
      matched = true;
      header = r.header;
      prefix = r.subject.prefix;
      extension = r.subject.extension;
    }
    events.push_back(r.event);
  }

  const std::string cwd = CurrentDirectory();
  if (cwd.empty()) return 0;
  const std::string folder = cwd + "/" + kFilesFolder;
  const std::string target =
      SequenceFilePath(folder, prefix, NextSequenceNumber(folder, prefix, extension), extension);
  if (target.size() + 1 > kPrefixFileBytes) return 0;
  std::vector<uint8_t> block(kPrefixFileBytes, 0);
  std::memcpy(block.data(), target.data(), target.size());

  const std::vector<uint8_t> recording = matched ? RecordingBytes(header, events) : std::vector<uint8_t>();
  if (!ReplaceFile(kRecordingFile, recording)) return 0;
  if (!ReplaceFile(kPrefixFile, block)) return 0;
  return 1;
}

bool EnsureFilesFolder(const std::string& folder) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(folder, ec))) ::mkdir(folder.c_str(), 0755);
  return fs::is_directory(folder, ec);
}

bool CreateMarkerFile(const std::string& directory) {
  const std::string path = directory + "/" + kMarkerFile;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool RemoveMarkerFile(const std::string& directory) {
  const std::string path = directory + "/" + kMarkerFile;
  return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

std::string ReadPrefixFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, &bytes) || bytes.size() < kPrefixFileBytes) return std::string();
  return GetText(bytes.data(), kPrefixFileBytes);
}

}  // namespace filesaver
