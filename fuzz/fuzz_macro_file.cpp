// Fuzzes the File Saver's readers of its own files: a macro file (*.MAC, 324-byte records), a
// recording (ZIRERURI.MAA) and PREFIX.TMP. Any bytes: the window rectangle is read or refused,
// the playback file built from the macro holds no more events than the macro has whole records,
// a recording reads to no more events than its whole 20-byte blocks, and PREFIX.TMP gives a path
// of at most its 256 bytes.
#include <filesystem>
#include <string>
#include <vector>

#include "filesaver/macro_files.h"
#include "fuzz/console_files.h"

using fuzz_console::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_console::WriteInput("TESTPAD.MAC", data, size);
  fuzz_console::WriteInput("SAVED.MAA", data, size);
  fuzz_console::WriteInput("SAVED.TMP", data, size);
  fuzz_console::InScratch([&] {
    bool ok = false;
    (void)filesaver::ReadMacroWindowRect("testpad.mac", &ok);
    Check(!ok || size >= filesaver::kMacroRecordBytes);
    // An empty file is no macro.
    Check(filesaver::FindMacroFile("TESTPAD.MAC").empty() == (size == 0));
    if (filesaver::BuildPlaybackFile("TESTPAD.EXE") == 1) {
      filesaver::RecordingHeader header;
      std::vector<filesaver::EventMsg> events;
      // Without a record of the program the recording is empty (no header either).
      if (filesaver::ReadRecordingFile(filesaver::kRecordingFile, &header, &events)) {
        Check(events.size() <= size / filesaver::kMacroRecordBytes);
      } else {
        std::error_code ec;
        Check(std::filesystem::file_size(filesaver::kRecordingFile, ec) == 0 && !ec);
      }
      Check(filesaver::ReadPrefixFile().size() < filesaver::kPrefixFileBytes);
    }
    filesaver::RecordingHeader header;
    std::vector<filesaver::EventMsg> events;
    if (filesaver::ReadRecordingFile("SAVED.MAA", &header, &events)) {
      Check(size >= filesaver::kRecordingHeaderBytes);
      Check(events.size() <= (size - filesaver::kRecordingHeaderBytes) / filesaver::kEventBytes);
    }
    Check(filesaver::ReadPrefixFile("SAVED.TMP").size() <= filesaver::kPrefixFileBytes);
    return 0;
  });
  return 0;
}
