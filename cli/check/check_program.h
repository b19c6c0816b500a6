// check_program.h - the tabladex-check command: its options, its output and its exit status.
//
//   tabladex-check [--quiet] [-v] [--rhythm | --playlist] FILE...
//
// Problem lines go to out, one per problem (see problem.h); messages about the command
// itself (bad usage) go to err as "tabladex-check: text", option names in single quotes,
// followed by the usage line "Usage: tabladex-check [options] FILE...". Exit status: 0 when no file has an error (warnings alone
// keep 0), 1 when some file has one, 2 when the command could not run (bad usage, no files,
// output that cannot be written).
//
// Threads: one call at a time. Ownership: the streams stay the caller's.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

enum CheckStatus { checkClean = 0, checkFoundErrors = 1, checkCouldNotRun = 2 };

// args are the command line without the program's name.
int runCheck(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);
