// What the fuzz targets share: settings from the fuzzer's bytes, standard output caught in
// a file, a private working directory for the pictures, and the checks of a report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "analysis/settings.h"

// Takes values from the front of the fuzzer's bytes; once they run out every read
// gives 0, so every input, even an empty one, describes a complete case.
class byte_reader {
  public:
    byte_reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t u16() {
        const unsigned low = u8();
        return static_cast<uint16_t>(low | u8() << 8);
    }
    // A value in low..high (inclusive, low <= high).
    int range(int low, int high) {
        const unsigned span = static_cast<unsigned>(high - low) + 1;
        return low + static_cast<int>((span > 256 ? u16() : u8()) % span);
    }
    const uint8_t* rest() const { return data_ + pos_; } // the bytes not read yet
    size_t rest_size() const { return size_ - pos_; }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Standard output goes to a private temporary file (standard input to /dev/null), once;
// stdout_text() returns what was printed since stdout_clear(). With the environment
// variable DELOGO_FUZZ_VERBOSE set output stays on the terminal, to see what an input does,
// and the text is always empty: nothing is checked.
void stdout_clear();
std::string stdout_text();

// While alive, the working directory is the process's private scratch directory (made on
// first use, removed at exit) with no pictures in it; the previous one comes back
// afterwards, so that relative corpus and artifact paths keep their meaning.
class in_scratch_dir {
  public:
    in_scratch_dir();
    ~in_scratch_dir();
    in_scratch_dir(const in_scratch_dir&) = delete;
    in_scratch_dir& operator=(const in_scratch_dir&) = delete;

  private:
    int previous_ = -1; // descriptor of the previous working directory
};

// 32-bit mix of three values: deterministic noise for generated pixels.
uint32_t mix3(uint32_t a, uint32_t b, uint32_t c);

// Prints `what` and the output on standard error and aborts: a finding.
[[noreturn]] void fail(const std::string& what, const std::string& report);

// Checks the analysis lines of one run: `report` holds only crop=, delogo= and
// removelogo= lines (anything else is a finding), `run` the settings before the run.
// Crop and delogo boxes lie inside the frame, a delogo box inside its corner's band; at
// most one corner is reported, with one line per rectangle; every picture a line names
// was written to the working directory and decodes with FFmpeg's own decoders at the
// size it must have.
void check_report(const std::string& report, const Settings& run, int band_w2, int band_h2,
                  int frame_width, int frame_height);
