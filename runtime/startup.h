#pragma once
// The program's start-up values: where it was launched from, where its file
// lives, its title and its arguments.
//
// RuntimeStartup(argc, argv) is the explicit start-up call of a main program:
// it sets every value and makes ProgramDirectory the working directory, so
// relative names (data files beside the program) resolve there. Without that
// call (test binaries, tools) the values are computed on first use and the
// working directory is left alone; ProgramArguments is then empty.

#include <string>
#include <vector>

// Sets the start-up values from argc/argv and changes the working directory to
// ProgramDirectory(). Call once, first thing in main.
void RuntimeStartup(int argc, char** argv);

// The arguments of main as UTF-8 text, program name first: argv itself on
// POSIX; on Windows, for the C runtime's own argv, the wide command line,
// since that argv is in the ANSI code page and loses every character outside
// it (an argv made by the caller is taken as it is).
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// The working directory at launch.
const std::string& LaunchDirectory();
// The full path of the program file ("/" separators).
const std::string& ProgramFile();
// ProgramFile up to its last "/" (kept when it is the root "/", or follows a
// drive's ":"); empty when the path has no "/".
const std::string& ProgramDirectory();
// Window and message-box caption; "Ferrumkit Application" unless changed.
const std::string& ApplicationTitle();
// Replaces ApplicationTitle.
void SetApplicationTitle(const std::string& title);
// The command-line arguments as CommandLineArguments gave them (argv[0] first).
const std::vector<std::string>& ProgramArguments();

// True when path is absolute on this platform ("/x"; on Windows also "C:/x",
// "C:\\x" and "\\x"), so it does not depend on the working directory.
bool IsAbsolutePath(const std::string& path);

// The directory part of a program path by the rule of ProgramDirectory.
std::string DirectoryOfProgram(const std::string& programFile);
