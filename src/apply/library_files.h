// A logo library's directory: per known logo NAME.png (its model as --save-logo writes it:
// frame-sized RGBA, the colour in RGB, the opacity in alpha) beside NAME.stats (its
// statistics, logo_statistics.h), the candidates in .candidates (the same files, and
// NAME.from: the fingerprint of the recording that added one), and the lock file .lock.
// Each file is written under a temporary name and renamed over its own, so a reader never
// sees half a file; a run that changes the library holds the lock (flock, exclusive) from
// reading the library to the last rename, and readers hold it shared, so two runs at once
// never lose each other's work nor read a logo's picture of one state and its statistics
// of another.
#pragma once

#include <string>
#include <vector>

#include "logo/logo_model.h"
#include "logo/logo_statistics.h"

// A known logo.
struct library_entry {
    std::string name;
    frame_logo logo;
    logo_statistics stats;
};

// The library's lock, held while it lives: shared or exclusive. An empty error() when held.
class library_lock {
  public:
    library_lock(const std::string& dir, bool exclusive);
    ~library_lock();
    library_lock(const library_lock&) = delete;
    library_lock& operator=(const library_lock&) = delete;
    const std::string& error() const { return error_; }

  private:
    int fd_ = -1;
    std::string error_;
};

// The names of the logos in `dir` (every NAME.stats), sorted.
std::vector<std::string> library_names(const std::string& dir);

// The logos of `dir` for frames of width x height whose chroma is subsampled by the shifts
// (1 plane for grey pictures, else 3); logos of other frames are passed over. A logo that
// cannot be read is left out, with a line saying why in `notes`.
std::vector<library_entry> read_library(const std::string& dir, int width, int height,
                                        int shift_x, int shift_y, int planes,
                                        std::vector<std::string>& notes);

// Writes `e` into `dir`: its picture, then its statistics, each under a temporary name
// renamed over its own. Returns "" or what went wrong (nothing half-written is left).
std::string write_entry(const std::string& dir, const library_entry& e);

// A small note beside the entries, `file` in `dir`: written under a temporary name renamed
// over its own (returns "" or what went wrong); read whole ("" when missing).
std::string write_note(const std::string& dir, const std::string& file, const std::string& text);
std::string read_note(const std::string& dir, const std::string& file);

// Removes entry `name` of `dir` (its statistics first: without them it is no entry) and its
// note NAME.from.
void remove_entry(const std::string& dir, const std::string& name);

// Whether `name` names a file of a logo in `dir` (its picture or its statistics, readable
// or not).
bool name_taken(const std::string& dir, const std::string& name);
