// Reply handling of the Smart-UPS protocol: the agent sends a one-character command (or "@"
// with three digits) and the UPS answers with one short text line ending in CR LF. Besides its
// answers the UPS sends single alert characters unasked ('!' the mains failed, '$' they
// returned), which may arrive in front of or inside a reply.
//
// These functions work on bytes already read; every one is bounded by the bytes it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Bytes read for one reply at first; a longer reply is read on up to its line end.
inline constexpr size_t kApcReadCapacity = 8;
// Longest reply kept; anything beyond is dropped.
inline constexpr size_t kApcMaxReply = 64;

// Alert characters the UPS sends unasked, and the answer of a command that was carried out.
inline constexpr char kApcAlertMainsFailed = '!';
inline constexpr char kApcAlertMainsReturned = '$';
inline constexpr char kApcCarriedOut = '*';

// True when the bytes hold a whole reply line: a line feed after the line breaks that may be
// left in front of it.
bool ApcHasWholeLine(const std::string& bytes);
// The reply line of the bytes: leading CR and LF skipped, everything up to the next line feed
// (or the end), at most kApcMaxReply bytes.
std::string ApcReplyLine(const std::string& bytes);
// The text of a reply: the line less the alert characters, the '*' and every control
// character.
std::string ApcReplyText(const std::string& line);
// A number reply ("230.4", "0045:"): the digits before the first '.' or, failing that, the
// first ':'. False when there is no separator or nothing but digits (an optional '-' first,
// at most nine digits) stands before it.
bool ApcReplyNumber(const std::string& text, int* value);
// The status register: exactly two hexadecimal digits. False for anything else.
bool ApcStatusRegister(const std::string& text, uint8_t* value);
