// Tremmail: sends one e-mail notice for the agent and ends.
//
// The agent writes the notice into "tremmail.txt" in the mail sender's working directory and
// starts it with the recipient as its command line. The first line of the file (at most 80
// characters, without its line end) is the mail text; the subject is always
// "Tremona Mail System"; the recipient is the whole command line, its arguments joined by single
// blanks, so a name with blanks stays one recipient. The mail goes through the SMTP layer with
// the mail settings of the working directory (platform/mail_settings.h).
//
// Outcome: exit code 1 when the mail was sent, 0 on any failure. Each failure writes exactly
// one error report to standard error, "Tremona Mail Error: " and the message text (the text a
// message box would show), followed by a line "Tremmail: " with the technical reason when there
// is one. Nothing is retried.
#pragma once

#include <cstdio>
#include <string>

namespace tremmail {

inline constexpr const char* kMessageFile = "tremmail.txt";
inline constexpr const char* kSubject = "Tremona Mail System";
inline constexpr const char* kErrorTitle = "Tremona Mail Error";
inline constexpr int kMaxTextLength = 80;

// The advice that ends most failure texts.
inline constexpr const char* kAdvice =
    "\n\n1) Verify that a valid E-mail solution is installed.\n\n"
    "2) Verify that a default MAPI user profile is properly configured.";

// The mail text from the message file: the first line, at most kMaxTextLength characters,
// without its line end ("\n" or "\r\n"). An empty file gives an empty text.
std::string ReadMailText(std::FILE* file);

// The recipient named by the command line: the arguments after the program name joined by
// single blanks.
std::string RecipientFromCommandLine(int argc, char** argv);

// The failure texts for a logon result and a send result (Simple MAPI codes).
std::string LogonFailureText(unsigned long result);
std::string SendFailureText(unsigned long result);

// The whole program; returns the exit code. Error reports go to `err`.
int SendNotificationMail(int argc, char** argv, std::FILE* err);

}  // namespace tremmail
