// Command line of delogo-apply: delogo's analysis options, its own long options, INPUT,
// OUTPUT and the ffmpeg options after "--".
#pragma once

#include <string>
#include <vector>

#include "analysis/settings.h"

struct apply_options {
    Settings analysis; // delogo's options, parsed as delogo parses them
    std::string input;
    std::string output;
    std::string preview;              // --preview FILE.png ("" when not asked)
    bool force = false;               // --force: replace OUTPUT, mask, preview; clean anyway
    bool force_logo = false;          // --force-logo: remove a logo the analysis doubts
    bool dry_run = false;             // --dry-run: print the command; write only its mask
    std::string detector = "model";   // --detector: model, static or edges (-y)
    std::string save_logo;            // --save-logo FILE.png ("" when not asked)
    std::string logo;                 // --logo FILE.png: a saved model instead of estimating
    std::string logos;                // --logos DIR, else $DELOGO_LOGOS: the logo library ("": none)
    std::string name;                 // --name NAME: the name of a new logo in the library
    std::string filter;               // --filter: restore, ffmpeg, or "" (restore; -m: ffmpeg)
    bool custom_encoder = false;      // the ffmpeg options' "--" was given
    std::vector<std::string> encoder; // the words after it
};

// How parsing ended.
enum class apply_parse { run, help, bad };

// Parses argv. A "--" before INPUT ends the options (INPUT and OUTPUT may then start with
// '-'), and a second "--" after them starts the ffmpeg options; a first "--" after INPUT
// starts the ffmpeg options. On `bad`, `error` holds the message (without the program's
// name).
apply_parse parse_apply_options(int argc, char** argv, apply_options& out, std::string& error);

// Whether `name` may name a logo of a library: 1 to 64 letters, digits, '.', '-' and '_',
// not starting with '.'.
bool valid_logo_name(const std::string& name);

// Prints the help text on standard output.
void apply_usage();
