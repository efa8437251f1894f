#include "filesaver/msg_src.h"

namespace filesaver {

CMsgSrc MsgSrc;

struct CMsgSrc::Impl {};

CMsgSrc::CMsgSrc() : impl_(std::make_unique<Impl>()) {}
CMsgSrc::~CMsgSrc() = default;
DisplayState CMsgSrc::InitHook(WindowId, HookNotifier, const std::string&) { return DisplayState::kNoDisplay; }
void CMsgSrc::ClearNotifier() {}
DisplayState CMsgSrc::display_state() const { return DisplayState::kNoDisplay; }
int CMsgSrc::SetHook(int) { return 0; }
int CMsgSrc::FreeHook(int) { return 1; }
bool CMsgSrc::recording() const { return false; }
bool CMsgSrc::playing() const { return false; }
bool CMsgSrc::WaitForPlayback(int) { return true; }
bool CMsgSrc::last_playback_complete() const { return false; }

}  // namespace filesaver
