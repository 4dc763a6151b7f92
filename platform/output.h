// Standard output and stop requests: the one part of the platform that writes anything, keeps
// lines back, and ends the process by a signal. Directory operations never touch it.
//
// The process entry calls output_start before anything is printed and output_finish last. In
// between, a stop request (SIGINT, SIGTERM, SIGHUP or SIGQUIT on Linux and macOS; Ctrl+C,
// Ctrl+Break or closing the console window on Windows) only sets a flag: the walk asks
// stop_requested between entries and returns at once, and output_finish then writes what is kept
// and ends the process as that request would (by the signal; on Windows with the status of
// Ctrl+C). Whatever the process is doing, it ends so within STOP_GRACE_MILLISECONDS of the
// request, so that a reader that has stalled, or a directory call that hangs, can hold it no
// longer: only the lines that reader did not take are lost.
#pragma once

#include <cstddef>

inline constexpr int STOP_GRACE_MILLISECONDS = 500;

// Sets output up: decides whether lines are written at once (a terminal) or kept back in whole
// lines (a file or a pipe), and takes the signals it relies on, whatever mask or dispositions the
// process inherited, but a stop signal ignored by whoever started the tool (nohup, for one),
// which stays ignored. A pipe whose reader has gone fails writes from then on instead of ending
// the process. Called once, first.
void output_start();

// Writes `units` code units of text, a whole line or several, waiting for an output that is not
// ready (a non-blocking pipe) to take it; or keeps it back, to be written with the lines before
// it when they fill the buffer or at output_finish. Returns true when the text was written or
// kept; on failure the text is lost and nothing else is affected.
bool console_write(const char16_t* text, std::size_t units);

// True once a stop has been requested. The walk asks it between entries.
bool stop_requested();

// Writes out what is kept back. When a stop was requested, before or meanwhile, ends the process
// as that request would and never returns; otherwise returns exit_code.
int output_finish(int exit_code);
