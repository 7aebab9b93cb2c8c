// What the fuzz targets share: reading settings from the fuzzer's bytes, a quiet
// process, and a private working directory for the pictures the code under test writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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
    // The bytes not read yet.
    const uint8_t* rest() const { return data_ + pos_; }
    size_t rest_size() const { return size_ - pos_; }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Sends standard output (and input) to /dev/null, once: the code under test prints its
// report lines, and printing them would only slow the fuzzer down. With the environment
// variable DELOGO_FUZZ_VERBOSE set, output stays, to see what an input does.
void quiet_stdio();

// Like quiet_stdio, but standard output goes to a private temporary file whose text
// stdout_text() returns: what was printed since the last stdout_clear(). Not capturing
// (DELOGO_FUZZ_VERBOSE set), stdout_capturing() is false and the text always empty.
void capture_stdout();
bool stdout_capturing();
void stdout_clear();
std::string stdout_text();

// While alive, the working directory is the process's private scratch directory (made
// on first use, removed at exit), so the mask pictures written by the code under test
// land there. The previous working directory comes back afterwards, so that relative
// corpus and artifact paths of the fuzzer keep their meaning.
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
