// Which serial device names the agent opens. The name arrives in the configuration, which
// consoles change over the network, so it must name a terminal device and nothing else: a
// device such as a watchdog acts on the mere opening, so the check never opens the file.
#pragma once

#include <string>

// True when the name, with every symbolic link followed, is a character device under /dev
// that belongs to the kernel's terminal subsystem (serial ports, USB serial adapters, and
// pseudo-terminals).
bool IsAllowedSerialDevice(const std::string& name);
