// Debug log, fatal path and crash reporting.
//
// The log file "luxdebug.txt" is opened in the current directory by static initialisation,
// before main runs, and starts with the version header. Every module writes lines through
// `logf`, each beginning with its four-letter prefix ("WNMN: ", "NCCF: " ...) and ending
// with "\n" written by the caller.
//
// `fatal` is the one way out for errors the program cannot continue from: it logs the
// message, runs the fatal-close handler (device, music, window) and the exit callbacks,
// shows the error dialog (standard error when there is no display) and ends the process
// with a non-zero status. Processor faults (access violation, invalid opcode, integer
// division by zero or overflow, stack overflow) are turned into the same path by
// `installCrashHandlers`, which static initialisation calls.
//
// The log is the lowest piece of the program: every subsystem may include this header.
#pragma once

#include <cstddef>

// printf-style; writes exactly the formatted characters. Returns what the write returns
// (-1 while the log is closed).
int logf(const char* format, ...) __attribute__((format(printf, 1, 2)));

[[noreturn]] void fatal(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Pushes a function on the exit callbacks; they run newest first at normal exit and on
// the fatal path.
void addExitCallback(void (*function)());

// What the fatal path closes before it writes the log: set by start-up once the device,
// music and window exist. Failures inside it are not reported.
void setFatalCloseHandler(void (*handler)());

// Fuzz-target support: called first by fatal, with the message already in errorText(). A
// trap that does not return (it jumps back into the target) keeps the process alive for
// the next input. The program never sets one.
void setFatalTrap(void (*trap)());

// Runs and frees the exit callbacks, then closes the log (normal process end).
void runExitCallbacks();
void closeLog();

// The text the error dialog shows: the fixed heading, a blank line, the message.
const char* errorText();

// Installs the fault handlers; static initialisation calls it once.
void installCrashHandlers();

// Creates (truncates) the log file and writes the version header; static initialisation
// calls it with kLogFileName.
void openLogFile(const char* path);

// Test and tool support: send the log to another file (truncated, no header), or
// turn the error dialog off so that the fatal text only goes to standard error.
void logSetFile(const char* path);
// The log file's absolute path ("" before it was opened).
const char* logFilePath();
void setErrorDialogEnabled(bool enabled);

// The file the log was opened on by static initialisation.
constexpr const char* kLogFileName = "luxdebug.txt";
constexpr size_t kLogLineSize = 4096;
constexpr size_t kErrorTextSize = 4096;
