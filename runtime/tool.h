#pragma once
// The edges every command-line tool shares: an error that escapes the tool,
// and output that did not reach standard output each fail the run with a
// message instead of passing unnoticed (files: stream/replacing_file.h).

#include <cstdio>
#include <functional>
#include <string>

// Exit status of a tool whose output or work failed.
constexpr int kToolFailed = 1;
// Exit status of a tool started with a bad command line.
constexpr int kToolBadUsage = 2;

// Runs body as the whole of the tool called name and returns its status; an
// exception that escapes body is reported as "name: what" ("name: out of
// memory" for a failed allocation) and gives errorStatus. From then on,
// however the process exits (a return from main or std::exit), output that
// did not reach standard output is reported as "name: cannot write standard
// output" and makes the status kToolFailed.
int RunTool(const char* name, const std::function<int()>& body, int errorStatus = kToolFailed);

// Flushes standard output now, for a tool that prints as it goes; false when
// anything written so far did not arrive (the exit check then says why).
bool FlushStandardOutput();

// Reads text as a whole decimal number (an optional "-", then digits only) in
// [least, most]; false, value untouched, for anything else.
bool WholeNumberIn(const std::string& text, long long least, long long most, long long& value);

// The project's version ("0.3.0"), as the build was configured.
const char* FerrumkitVersion();

// For --help or -h: prints the usage on stdout and ends the tool with status 0;
// for --version likewise prints "name version" (the name RunTool was given).
// Whether the text arrived is checked at exit, as for all output.
void ExitWithUsageIfAsked(const std::string& arg, const char* usage);

// Prints "name: why" and the usage on stderr and ends the tool with kToolBadUsage.
[[noreturn]] void ExitWithUsage(const std::string& why, const char* usage);

// The value given for option as a whole number in [least, most]; any other
// text ends the tool through ExitWithUsage.
long long OptionNumber(const char* option, const std::string& text, long long least, long long most, const char* usage);
