#include "filesaver/program_lookup.h"

namespace filesaver {

const char* DisplayStateText(DisplayState state) {
  switch (state) {
    case DisplayState::kUsable:
      return "the X display can record and replay";
    case DisplayState::kNoDisplay:
      return "no X display";
    case DisplayState::kNoRecord:
      return "the X display has no RECORD extension";
    case DisplayState::kNoXTest:
      return "the X display has no XTEST extension";
  }
  return "no X display";
}

struct ProgramLookup::Impl {};

ProgramLookup::ProgramLookup(const std::string&) : impl_(std::make_unique<Impl>()) {}
ProgramLookup::~ProgramLookup() = default;
DisplayState ProgramLookup::state() const { return DisplayState::kNoDisplay; }
std::vector<AppWindow> ProgramLookup::ListAppWindows() { return {}; }
std::string ProgramLookup::WindowTitle(WindowId) { return {}; }
std::string ProgramLookup::GetWindowProgramName(WindowId) { return {}; }
WindowId ProgramLookup::FindAppWindow(int, std::string_view) { return 0; }
int ProgramLookup::MacroExistsForWindow(std::string_view) { return 0; }
WindowRect ProgramLookup::GetWindowRect(WindowId) { return {}; }
bool ProgramLookup::ActivateWindow(WindowId) { return false; }
bool ProgramLookup::PlaceAppWindow(WindowId, const WindowRect&, int) { return false; }
int ProgramLookup::BuildPlaybackFile(WindowId window) {
  return filesaver::BuildPlaybackFile(GetWindowProgramName(window));
}

}  // namespace filesaver
