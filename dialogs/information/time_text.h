// Time texts of the information dialogs, in the local zone.
#pragma once

#include <QString>
#include <cstdint>

// strftime of a time (seconds since 1970) in the local zone.
QString LocalTimeText(int64_t seconds, const char* format);
// The default date-and-time text: "%x %X".
QString DefaultTimeText(int64_t seconds);
