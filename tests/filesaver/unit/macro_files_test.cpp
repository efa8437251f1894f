// The File Saver's file rules: names, the fixed little-endian layouts of macro records and the
// recording file, sequence numbers, and building the replay files (refusals included).
#include "filesaver/macro_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace filesaver;
using testing_support::ReadFileBytes;
using testing_support::TempDir;

uint32_t U32At(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

std::string TextAt(const std::vector<uint8_t>& b, size_t at, size_t size) {
  std::string s(reinterpret_cast<const char*>(&b[at]), size);
  return s.substr(0, s.find('\0'));
}

TEST(FileSaverNames, MapProgramsMacrosAndExecutables) {
  struct Case {
    const char* rule;
    std::function<std::string(std::string_view)> fn;
    const char* in;
    const char* out;
  };
  const std::vector<Case> cases = {
      {"macro", MacroNameFromProgram, "EDIT.EXE", "EDIT.MAC"},
      {"macro", MacroNameFromProgram, "edit.exe", "EDIT.MAC"},
      {"macro", MacroNameFromProgram, "EDIT", "EDIT.MAC"},  // no ".EXE": still ".MAC"
      {"macro", MacroNameFromProgram, "A.EXE.EXE", "A.MAC"},
      {"program", ProgramNameFromMacro, "EDIT.MAC", "EDIT.EXE"},
      {"program", ProgramNameFromMacro, "edit.mac", "EDIT.EXE"},
      {"program", ProgramNameFromMacro, "edit", "EDIT"},  // no ".MAC": unchanged but upper case
      {"exe", EnsureExeSuffix, "edit", "EDIT.EXE"},       // an executable shown without extension
      {"exe", EnsureExeSuffix, "Edit.Exe", "EDIT.EXE"},
      {"executable", ProgramNameFromExecutable, "/opt/tools/testpad", "TESTPAD.EXE"},
      {"executable", ProgramNameFromExecutable, "/usr/bin/python3.11", "PYTHON3.EXE"},
      {"executable", ProgramNameFromExecutable, "/usr/bin/gnome-text-editor", "GNOME-TE.EXE"},  // cut to 8
      {"executable", ProgramNameFromExecutable, "/usr/bin/.hidden", ""},
      {"executable", ProgramNameFromExecutable, "", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.fn(c.in), c.out) << c.rule << " " << c.in;
  // Every program name of an executable fits its 13-byte field and maps to a macro and back.
  for (const char* path : {"/bin/x", "/usr/bin/gnome-text-editor", "/usr/lib/firefox/firefox-bin.real"}) {
    const std::string program = ProgramNameFromExecutable(path);
    EXPECT_LE(program.size(), kProgramBytes - 1) << path;
    EXPECT_EQ(ProgramNameFromMacro(MacroNameFromProgram(program)), program) << path;
  }
}

// N events of a recording become N records of 324 bytes and, for the program, come back as
// an 8 + 20N byte recording with the same events in the same order; records of other programs
// in the same file are skipped. A recording without events leaves no macro.
TEST(FileSaverFiles, RecordingToMacroAndBack) {
  struct Case {
    size_t events;
    size_t foreign_every;  // a record of another program after every k-th (0: none)
  };
  for (const Case& c : std::vector<Case>{{1, 0}, {7, 0}, {6, 2}, {0, 0}}) {
    SCOPED_TRACE(testing::Message() << c.events << " events, foreign every " << c.foreign_every);
    TempDir dir;
    std::vector<EventMsg> events;
    for (uint32_t i = 0; i < c.events; ++i)
      events.push_back(EventMsg{i % 2 ? kKeyUp : kKeyDown, 38 + i, 0x61 + i, 5000 + 30 * i, 0x400007});
    const RecordingHeader header{static_cast<uint32_t>(c.events), 4990};
    ASSERT_TRUE(WriteRecordingFile(kRecordingFile, header, events));
    const MacroSubject subject{std::string(300, 'T'), "EDIT.EXE", "SEQ", "TXT",
                               WindowRect{-10, 20, 630, 500}};
    if (c.events == 0) {
      EXPECT_FALSE(ConvertRecording(subject));
      EXPECT_FALSE(fs::exists("EDIT.MAC"));
      EXPECT_EQ(BuildPlaybackFile("EDIT.EXE"), 0);
      continue;
    }
    ASSERT_TRUE(ConvertRecording(subject));

    const std::vector<uint8_t> macro = ReadFileBytes("EDIT.MAC");
    ASSERT_EQ(macro.size(), c.events * kMacroRecordBytes);
    for (size_t i = 0; i < c.events; ++i) {
      const size_t at = i * kMacroRecordBytes;
      EXPECT_EQ(TextAt(macro, at, 256), std::string(255, 'T'));  // cut so the terminator fits
      EXPECT_EQ(TextAt(macro, at + 256, 13), "EDIT.EXE");
      EXPECT_EQ(TextAt(macro, at + 269, 5), "SEQ");
      EXPECT_EQ(TextAt(macro, at + 274, 4), "TXT");
      EXPECT_EQ(U32At(macro, at + 278) & 0xFFFF, 0u);
      EXPECT_EQ(static_cast<int32_t>(U32At(macro, at + 280)), -10);
      EXPECT_EQ(U32At(macro, at + 292), 500u);
      EXPECT_EQ(U32At(macro, at + 296), events[i].message);
      EXPECT_EQ(U32At(macro, at + 300), events[i].param_l);
      EXPECT_EQ(U32At(macro, at + 308), events[i].time);
      EXPECT_EQ(U32At(macro, at + 312), 0x400007u);
      EXPECT_EQ(U32At(macro, at + 316), header.event_count);
      EXPECT_EQ(U32At(macro, at + 320), 4990u);
    }

    if (c.foreign_every) {
      // Interleave records of another program (the file as someone else's tool might leave it).
      std::vector<uint8_t> mixed;
      MacroRecord other{
          MacroSubject{"x", "OTHER.EXE", "NULL", "TMP", {}}, EventMsg{kKeyDown, 1, 2, 3, 4}, {}};
      for (size_t i = 0; i < c.events; ++i) {
        mixed.insert(mixed.end(), macro.begin() + i * kMacroRecordBytes,
                     macro.begin() + (i + 1) * kMacroRecordBytes);
        if ((i + 1) % c.foreign_every == 0) {
          const auto r = EncodeMacroRecord(other);
          mixed.insert(mixed.end(), r.begin(), r.end());
        }
      }
      testing_support::WriteFileBytes("EDIT.MAC", mixed);
    }
    ASSERT_EQ(BuildPlaybackFile("edit.exe"), 1);
    const std::vector<uint8_t> back = ReadFileBytes(kRecordingFile);
    ASSERT_EQ(back.size(), kRecordingHeaderBytes + c.events * kEventBytes);
    RecordingHeader h;
    std::vector<EventMsg> got;
    ASSERT_TRUE(ReadRecordingFile(kRecordingFile, &h, &got));
    EXPECT_EQ(h, header);
    EXPECT_EQ(got, events);
    EXPECT_EQ(ReadPrefixFile(), fs::current_path().string() + "/FILES/SEQ0000.TXT");
    EXPECT_EQ(ReadFileBytes(kPrefixFile).size(), kPrefixFileBytes);
  }
}

TEST(FileSaverFiles, SequenceNumbers) {
  struct Case {
    std::vector<std::string> files;
    int next;
  };
  const std::vector<Case> cases = {
      {{}, 0},
      {{"NULL0000.TMP", "NULL0001.TMP.x"}, 2},
      {{"null0000.tmp"}, 1},                  // names compared ignoring case
      {{"NULL0000.TMPX", "NULL0000"}, 0},     // neither is the file nor it with an extension
      {{"NULL0000.TMP", "NULL0002.TMP"}, 1},  // the first free number
      {{"SEQ0000.TXT", "NULL0001.TMP"}, 0},   // other prefixes do not count
  };
  for (const Case& c : cases) {
    TempDir dir;
    fs::create_directory("FILES");
    for (const std::string& f : c.files) testing_support::WriteFileText("FILES/" + f, "");
    EXPECT_EQ(NextSequenceNumber("FILES", "NULL", "TMP"), c.next) << testing::PrintToString(c.files);
  }
  // After 9999 the numbering starts again at 0.
  TempDir dir;
  fs::create_directory("FILES");
  for (int n = 0; n <= 9999; ++n)
    testing_support::WriteFileText(SequenceFilePath("FILES", "NULL", n, "TMP"), "");
  EXPECT_EQ(NextSequenceNumber("FILES", "NULL", "TMP"), 0);
  EXPECT_EQ(NextSequenceNumber("MISSING", "NULL", "TMP"), 0);
}

// Refusals of BuildPlaybackFile leave the replay files as they were.
TEST(FileSaverFiles, BuildPlaybackFileRefusals) {
  struct Case {
    const char* what;
    std::function<void()> arrange;
    const char* program;
  };
  const std::vector<Case> cases = {
      {"macro deleted after it was listed", [] { fs::remove("EDIT.MAC"); }, "EDIT.EXE"},
      {"empty macro", [] { fs::resize_file("EDIT.MAC", 0); }, "EDIT.EXE"},
      {"program without a name", [] {}, ""},
      {"path too long for PREFIX.TMP",
       [] {
         // A working directory so deep that <dir>/FILES/NULL0000.TMP passes 255 bytes.
         std::string deep = fs::current_path().string();
         while (deep.size() < 250) {
           deep += "/" + std::string(40, 'd');
           fs::create_directory(deep);
         }
         fs::copy_file("EDIT.MAC", deep + "/EDIT.MAC");
         fs::current_path(deep);
         testing_support::WriteFileText(kRecordingFile, "old");
         testing_support::WriteFileText(kPrefixFile, "old");
       },
       "EDIT.EXE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    ASSERT_TRUE(WriteRecordingFile(kRecordingFile, {1, 0}, {EventMsg{kKeyDown, 38, 0x61, 10, 0}}));
    ASSERT_TRUE(ConvertRecording(MacroSubject{"Edit", "EDIT.EXE", "NULL", "TMP", {}}));
    testing_support::WriteFileText(kRecordingFile, "old");
    testing_support::WriteFileText(kPrefixFile, "old");
    c.arrange();
    EXPECT_EQ(BuildPlaybackFile(c.program), 0);
    EXPECT_EQ(testing_support::ReadFileText(kRecordingFile), "old");
    EXPECT_EQ(testing_support::ReadFileText(kPrefixFile), "old");
  }
}

// A link planted under the name of a file the library writes is replaced, never written through.
TEST(FileSaverFiles, WritesNeverFollowLinks) {
  TempDir dir;
  testing_support::WriteFileText("target", "untouched");
  ASSERT_TRUE(WriteRecordingFile(kRecordingFile, {1, 0}, {EventMsg{kKeyDown, 38, 0x61, 10, 0}}));
  ASSERT_TRUE(ConvertRecording(MacroSubject{"Edit", "EDIT.EXE", "NULL", "TMP", {}}));
  for (const char* name : {kPrefixFile, kRecordingFile}) {
    fs::remove(name);
    fs::create_symlink("target", name);
  }
  EXPECT_EQ(BuildPlaybackFile("EDIT.EXE"), 1);
  EXPECT_EQ(testing_support::ReadFileText("target"), "untouched");
  EXPECT_FALSE(fs::is_symlink(kPrefixFile));
  EXPECT_EQ(ReadFileBytes(kPrefixFile).size(), kPrefixFileBytes);
  fs::remove("EDIT.MAC");
  fs::create_symlink("target", "EDIT.MAC");
  ASSERT_TRUE(ConvertRecording(MacroSubject{"Edit", "EDIT.EXE", "NULL", "TMP", {}}));
  EXPECT_EQ(testing_support::ReadFileText("target"), "untouched");
  // A recording for a program without a name writes no ".MAC".
  EXPECT_FALSE(ConvertRecording(MacroSubject{"Edit", "", "NULL", "TMP", {}}));
  EXPECT_FALSE(fs::exists(".MAC"));
}

TEST(FileSaverFiles, MacroListLookupAndRectangle) {
  TempDir dir;
  for (const char* name : {"b.mac", "A.MAC", "notes.txt", "C.MACX"})
    testing_support::WriteFileText(name, "x");
  testing_support::WriteFileText("E.MAC", "");  // empty: no macro
  fs::create_directory("D.MAC");                // a folder is no macro
  EXPECT_EQ(ListMacroFiles(), (std::vector<std::string>{"A.MAC", "b.mac"}));
  EXPECT_EQ(FindMacroFile("B.MAC"), fs::current_path().string() + "/b.mac");
  EXPECT_EQ(FindMacroFile("notes.txt"), "");
  EXPECT_EQ(FindMacroFile("E.MAC"), "");
  EXPECT_EQ(FindMacroFile("F.MAC"), "");

  bool ok = true;
  EXPECT_EQ(ReadMacroWindowRect("A.MAC", &ok), WindowRect{});
  EXPECT_FALSE(ok);  // no whole record
  ASSERT_TRUE(WriteRecordingFile(kRecordingFile, {1, 0}, {EventMsg{kMouseMove, 5, 6, 10, 0}}));
  ASSERT_TRUE(ConvertRecording(MacroSubject{"Edit", "A.EXE", "NULL", "TMP", WindowRect{1, 2, 301, 202}}));
  EXPECT_EQ(ReadMacroWindowRect("a.mac", &ok), (WindowRect{1, 2, 301, 202}));
  EXPECT_TRUE(ok);

  EXPECT_TRUE(EnsureFilesFolder());
  EXPECT_TRUE(fs::is_directory("FILES"));
  testing_support::WriteFileText("PLAIN", "");
  EXPECT_FALSE(EnsureFilesFolder("PLAIN"));  // something of that name is there: left alone
  EXPECT_TRUE(RemoveMarkerFile());           // none there counts as removed
  EXPECT_TRUE(CreateMarkerFile());
  EXPECT_TRUE(fs::exists(kMarkerFile));
  EXPECT_TRUE(RemoveMarkerFile());
  EXPECT_FALSE(fs::exists(kMarkerFile));
}

}  // namespace
