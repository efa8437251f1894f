// Runs the user-interface thread's events from outside an event loop: for programs and tests
// that drive the dialogs headless and wait for them (a worker's notices among the events).
#pragma once

#include <functional>

// Sends the posted events (deferred deletions too) and processes the others until done() holds
// or boundMs passed; true when done. Between rounds `step` is called when given, and the thread
// sleeps 2 ms when there was no step or it did nothing (returned 0 or less).
bool PumpEventsUntil(const std::function<bool()>& done, int boundMs,
                     const std::function<int()>& step = nullptr);
