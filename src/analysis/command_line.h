// Command line and help text of delogo; its option parsing is shared with delogo-apply.
#pragma once

#include "analysis/settings.h"

struct option; // getopt_long's

// Applies option `opt` (its short letter) with argument `arg` (null when it takes none)
// to `out` as delogo does. false when `opt` is no option of delogo's analysis.
bool analysis_option(int opt, const char* arg, Settings& out);

// delogo's long options for getopt_long, ended by an all-zero entry; each one's `val` is
// its short letter.
const option* delogo_long_options();

// Parses argv into `out` (defaults first, then options in order). Returns 0 when a
// video file was named, 1 when the help text is due (help asked, bad option, no file).
int parse_options(int argc, char** argv, Settings& out);

// Fills sw from the command line; prints the help text and exits 0 when parsing fails.
void program_options(int argc, char** argv);

// Prints the help text for program name `prog` (values shown are sw's) and exits 0.
[[noreturn]] void usage(const char* prog);
