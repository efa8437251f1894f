// Inside the File Saver library only (it includes Xlib, which no Qt code may see): opening a
// connection of its own to an X display, so that a dead server or a vanished window never ends
// the process.
#pragma once

#include <X11/Xlib.h>

#include <string>

#include "filesaver/program_lookup.h"

namespace filesaver::x11 {

// Opens `name` (empty: $DISPLAY); null when there is none or it cannot be opened. X errors on
// the connection (a window gone meanwhile) are ignored; when the server goes away, calls on the
// connection fail instead of ending the process.
Display* Open(const std::string& name);
// Closes a connection Open made (null is fine).
void Close(Display* display);
// Whether the server has gone away.
bool Broken(Display* display);
// kUsable when the display has the RECORD and XTEST extensions; kNoDisplay for null.
DisplayState Check(Display* display);

}  // namespace filesaver::x11
