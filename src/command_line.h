// Command line and help text of delogo.
#pragma once

#include "settings.h"

// Parses argv into `out` (defaults first, then options in order). Returns 0 when a
// video file was named, 1 when the help text is due (help asked, bad option, no file).
int parse_options(int argc, char** argv, Settings& out);

// Fills sw from the command line; prints the help text and exits 0 when parsing fails.
void program_options(int argc, char** argv);

// Prints the help text for program name `prog` (values shown are sw's) and exits 0.
[[noreturn]] void usage(const char* prog);
