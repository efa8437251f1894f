// The VigilNT program's shell: command line, foreground and service modes, signals, the main
// thread that initialises the agent and runs its monitor loop every 2 seconds.
//
//   VigilNT -b [options]   runs in the foreground of a terminal: trace on standard error,
//                          message boxes as lines on standard output; Ctrl-C (SIGINT) or
//                          SIGTERM stops the agent
//   VigilNT [options]      runs as the service under systemd (recognised by INVOCATION_ID);
//                          SIGTERM stops it; states go to systemd (Type=notify), the event log
//                          to syslog, the trace to the settings' trace file or nowhere.
//                          Started any other way it says why and exits with status 1.
//
// Options (as the agent parses them): -c adapter, -d serial device, -g read community,
// -s write community, -x mode; "/b" is the same as "-b".
//
// A stop never does its work in a signal handler: the signals are taken by a thread of their
// own (sigwait), which posts the terminate command (block 27 branch 1) to system_queue, as a
// stop control of the service manager does; the next monitor pass stops the agent, writes
// the record files and ends the program.
//
// Settings and data directory: see platform/service_settings.h. A settings file with a bad
// line, or a data directory that cannot be entered, stops the program at once with status 1.
// A stop that could not write every record file ends it with kRecordFilesUnwrittenExitStatus
// (2; the trace and the system log name the files).
#pragma once

// The program: returns the process's exit status.
int VigilNtMain(int argc, char** argv);

// Both agent programs refuse to start while another agent runs on the machine (the guard
// "Tremona Agent Is Running"): this text, exit status 1; and with the second text when the
// guard cannot be taken. A second line on standard error says what was found at its name.
inline constexpr const char* kAgentAlreadyRunningText = "The Agent is already running.";
inline constexpr const char* kAgentGuardUnavailableText =
    "The Agent does not start: it cannot make sure that no other agent runs (its guard \"Tremona Agent Is "
    "Running\" cannot be taken).";
inline constexpr int kAgentAlreadyRunningExitStatus = 1;
// Exit status when the program was not started by the service manager (nor with -b).
inline constexpr int kNotAServiceExitStatus = 1;
// The service controller's error code for that case, as the message names it.
inline constexpr int kFailedServiceControllerConnect = 1063;
// Milliseconds between two monitor passes.
inline constexpr int kMonitorIntervalMs = 2000;
