#pragma once
// The edges every command-line tool shares: a run whose output did not reach
// standard output fails with a message, and so does a file it wrote.

#include <cstdio>
#include <functional>

// Exit status of a tool whose output or work failed.
constexpr int kToolFailed = 1;

// Runs body as the whole of the tool called name and returns its status. From
// then on, however the process exits (a return from main or std::exit), output
// that did not reach standard output is reported as "name: cannot write
// standard output" and makes the status kToolFailed.
int RunTool(const char* name, const std::function<int()>& body);

// Flushes standard output now, for a tool that prints as it goes; false when
// anything written so far did not arrive (the exit check then says why).
bool FlushStandardOutput();

// Closes a file the tool wrote; false, with errno telling why, when any of
// what was written to it did not arrive.
bool CloseOutputFile(std::FILE* file);
