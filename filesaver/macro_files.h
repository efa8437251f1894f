// The File Saver's files: per application one macro file of recorded input events, the
// recording file the recorder writes and the replayer reads, the sequence file that names the
// file the next replay saves to, and the output folder. Everything lies in the process's
// current directory. Integers are little-endian; texts are 8-bit, NUL-terminated, in fixed
// fields zero-filled behind the terminator.
//
//   macro file NAME.MAC    a sequence of 324-byte records, one per event, no file header:
//                            0 256 window title      256 13 program name   269 5 file-name prefix
//                          274   4 file extension    278  2 zero
//                          280  16 window rectangle (left, top, right, bottom; s32 each)
//                          296  20 event (below)     316  8 the recording's two header words
//   ZIRERURI.MAA           8-byte header (event count, start time in ms) + 20-byte events:
//                          message, paramL, paramH, time in ms, window (u32 each)
//   PREFIX.TMP             exactly 256 bytes: the NUL-terminated path of the next saved file,
//                          <current directory>/FILES/<prefix><NNNN>.<extension>
//
// No writer here follows a symbolic link: a link planted under one of these names makes the
// write fail and leaves the link's target alone.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace filesaver {

inline constexpr size_t kTitleBytes = 256;
inline constexpr size_t kProgramBytes = 13;  // at most 12 characters, an 8.3 name
inline constexpr size_t kPrefixBytes = 5;
inline constexpr size_t kExtensionBytes = 4;
inline constexpr size_t kMacroRecordBytes = 324;
inline constexpr size_t kEventBytes = 20;
inline constexpr size_t kRecordingHeaderBytes = 8;
inline constexpr size_t kPrefixFileBytes = 256;
inline constexpr size_t kMaxPrefixChars = 4;
inline constexpr size_t kMaxExtensionChars = 3;

inline constexpr const char* kRecordingFile = "ZIRERURI.MAA";
inline constexpr const char* kPrefixFile = "PREFIX.TMP";
inline constexpr const char* kFilesFolder = "FILES";
// Created by the recorder when F11 is pressed in a recording (the replay types the saved
// file's path there); removed when a recording with sequential file names is stopped.
inline constexpr const char* kMarkerFile = "insert11.now";
// Prefix and extension of every macro recorded without sequential file names.
inline constexpr const char* kDefaultPrefix = "NULL";
inline constexpr const char* kDefaultExtension = "TMP";

// Event messages, as the Windows journal numbers them.
inline constexpr uint32_t kKeyDown = 0x100;
inline constexpr uint32_t kKeyUp = 0x101;
inline constexpr uint32_t kMouseMove = 0x200;
inline constexpr uint32_t kLeftButtonDown = 0x201;
inline constexpr uint32_t kLeftButtonUp = 0x202;
inline constexpr uint32_t kRightButtonDown = 0x204;
inline constexpr uint32_t kRightButtonUp = 0x205;
inline constexpr uint32_t kMiddleButtonDown = 0x207;
inline constexpr uint32_t kMiddleButtonUp = 0x208;

// One recorded input event. Keys: paramL the X keycode, paramH its keysym; pointer events:
// paramL the root x, paramH the root y. Time is the X server's in ms; window the focus window.
struct EventMsg {
  uint32_t message = 0;
  uint32_t param_l = 0;
  uint32_t param_h = 0;
  uint32_t time = 0;
  uint32_t window = 0;
  bool operator==(const EventMsg&) const = default;
};

// The two header words of a recording: its event count and its start time (server ms). Macro
// files carry them unchanged in every record.
struct RecordingHeader {
  uint32_t event_count = 0;
  uint32_t start_time = 0;
  bool operator==(const RecordingHeader&) const = default;
};

// Screen coordinates of a window: left, top, right, bottom (right and bottom exclusive).
struct WindowRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  bool operator==(const WindowRect&) const = default;
};

// The application data every record of a macro repeats.
struct MacroSubject {
  std::string title;      // as chosen in the list of applications (cut to 255 bytes)
  std::string program;    // program name, such as EDIT.EXE
  std::string prefix;     // at most 4 characters; "NULL" without sequential file names
  std::string extension;  // at most 3 characters; "TMP" without sequential file names
  WindowRect rect;        // the application's window when the recording started
};

struct MacroRecord {
  MacroSubject subject;
  EventMsg event;
  RecordingHeader header;
};

std::array<uint8_t, kEventBytes> EncodeEvent(const EventMsg& event);
EventMsg DecodeEvent(const uint8_t* bytes);  // kEventBytes bytes
// Texts longer than their field are cut so that the terminator fits.
std::array<uint8_t, kMacroRecordBytes> EncodeMacroRecord(const MacroRecord& record);
MacroRecord DecodeMacroRecord(const uint8_t* bytes);  // kMacroRecordBytes bytes

// The recording file at `path`. Writing never follows a link; false when it cannot be written.
bool WriteRecordingFile(const std::string& path, const RecordingHeader& header,
                        const std::vector<EventMsg>& events);
// False when the file cannot be opened or holds no whole header; a partial event at the end
// is dropped.
bool ReadRecordingFile(const std::string& path, RecordingHeader* header, std::vector<EventMsg>* events);

// Name rules. EDIT.EXE <-> EDIT.MAC; a name without ".EXE" still gets ".MAC"; a name
// without ".MAC" comes back from ProgramNameFromMacro unchanged (upper case).
std::string MacroNameFromProgram(std::string_view program);
std::string ProgramNameFromMacro(std::string_view macro);
std::string EnsureExeSuffix(std::string_view name);
// The program name of an executable: its file name up to the first ".", upper case, cut to 8
// characters, then ".EXE" (/usr/bin/gedit -> GEDIT.EXE). Empty for an empty file name.
std::string ProgramNameFromExecutable(std::string_view path);

// The "*.MAC" files of the current directory (the suffix in any case), sorted by name. An
// empty file is no macro: it is left out.
std::vector<std::string> ListMacroFiles();
// The current directory, "/" and the name as it is on disk, when a listed "*.MAC" file of that
// name exists there (names compared ignoring case); else empty.
std::string FindMacroFile(std::string_view macro_name);
// The rectangle of the macro file's first record; a zero rectangle (and *ok false) when the
// file cannot be found or holds no whole record.
WindowRect ReadMacroWindowRect(std::string_view macro_name, bool* ok = nullptr);
// The first n from 0 such that no file <folder>/<prefix><NNNN>.<extension> exists, with or
// without further extensions (names compared ignoring case); 0 again after 9999.
int NextSequenceNumber(const std::string& folder, const std::string& prefix, const std::string& extension);
// <folder>/<prefix><NNNN>.<extension>.
std::string SequenceFilePath(const std::string& folder, const std::string& prefix, int number,
                             const std::string& extension);

// Turns ZIRERURI.MAA into the macro file of `subject.program` (MacroNameFromProgram), one record
// per whole event. False, with nothing written, when the recording cannot be read, holds no
// event or the program has no name; false when the macro file cannot be written.
bool ConvertRecording(const MacroSubject& subject);

// Before a replay for `program`: writes ZIRERURI.MAA from the records of the program's macro
// file (others' records skipped, names compared ignoring case) and PREFIX.TMP with the next
// free file of the first record's prefix and extension in FILES. 1 when both were written.
// 0 when the program has no name, its macro file cannot be read (deleted since it was listed),
// or the path does not fit PREFIX.TMP's 256 bytes (nothing written then), or a file cannot be
// written. A macro without a record of the program gives an empty ZIRERURI.MAA and still a
// PREFIX.TMP (with "NULL" and "TMP").
int BuildPlaybackFile(std::string_view program);

// Creates the folder (a name in the current directory) when nothing of that name exists.
// True when it exists afterwards as a folder.
bool EnsureFilesFolder(const std::string& folder = kFilesFolder);

// The marker file in `directory`. Removing counts a missing marker as removed.
bool CreateMarkerFile(const std::string& directory = ".");
bool RemoveMarkerFile(const std::string& directory = ".");

// The path PREFIX.TMP holds, or empty when it cannot be read.
std::string ReadPrefixFile(const std::string& path = kPrefixFile);

}  // namespace filesaver
