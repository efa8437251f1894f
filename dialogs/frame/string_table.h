// The library's string table: every text that the dialogs and the consoles show, by id.
//
// The table is one map from id to text for the whole process. The frame's source unit holds
// the texts known so far; a dialog's source unit may add the texts only it uses with a
// StringTableRegistrar at namespace scope:
//
//   static const StringTableRegistrar kStrings{{1374, "View Meters"}, {3276, "No meter types selected"}};
//
// An id registered twice with two different texts is a fault of the sources: the first text
// stays and the id is listed by StringTableConflicts() (a test checks that list is empty).
// In texts, "\n" is a line break.
#pragma once

#include <QString>
#include <initializer_list>
#include <vector>

// Ids the frame itself uses.
enum FrameStringId : int {
  IDS_MANAGE_DIAG_TEST = 3198,    // "Manage Diagnostic Test"
  IDS_UNABLE_TO_RETRIEVE = 3330,  // "Unable to retrieve data from the Agent"
  IDS_PRINT_FAILED = 3331,        // "Unable to complete the print job."
};

// The text of an id; an empty string when the table has none.
QString LoadString(int id);
bool HasString(int id);

struct StringTableEntry {
  int id;
  const char* text;  // UTF-8
};

class StringTableRegistrar {
 public:
  StringTableRegistrar(std::initializer_list<StringTableEntry> entries);
};

// Ids registered twice with different texts (see above).
std::vector<int> StringTableConflicts();
