#include "fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

std::string& scratch_path() {
    static std::string path;
    return path;
}

void remove_scratch() {
    std::error_code ignored;
    if (!scratch_path().empty()) std::filesystem::remove_all(scratch_path(), ignored);
}

const std::string& scratch_dir() {
    std::string& path = scratch_path();
    if (path.empty()) {
        char name[] = "/tmp/delogo-fuzz-XXXXXX";
        if (!mkdtemp(name)) {
            perror("mkdtemp");
            abort();
        }
        path = name;
        atexit(remove_scratch);
    }
    return path;
}

} // namespace

void quiet_stdio() {
    static const bool done = [] {
        if (getenv("DELOGO_FUZZ_VERBOSE")) return true; // to see what an input does
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "r", stdin)) abort();
        return true;
    }();
    (void)done;
}

namespace {
bool capturing = false;
}

void capture_stdout() {
    static const bool done = [] {
        if (getenv("DELOGO_FUZZ_VERBOSE")) return true;
        char name[] = "/tmp/delogo-fuzz-stdout-XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0 || !freopen(name, "w+", stdout) || !freopen("/dev/null", "r", stdin)) abort();
        close(fd);
        unlink(name); // the open stream keeps the file while the process lives
        capturing = true;
        return true;
    }();
    (void)done;
}

bool stdout_capturing() {
    return capturing;
}

void stdout_clear() {
    if (!capturing) return;
    fflush(stdout);
    if (ftruncate(fileno(stdout), 0) != 0) abort();
    rewind(stdout);
}

std::string stdout_text() {
    if (!capturing) return "";
    fflush(stdout);
    const long size = ftell(stdout);
    std::string text(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (!text.empty() && pread(fileno(stdout), &text[0], text.size(), 0) != size) abort();
    return text;
}

in_scratch_dir::in_scratch_dir() {
    const std::string& dir = scratch_dir();
    previous_ = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (previous_ < 0 || chdir(dir.c_str()) != 0) {
        perror("entering the scratch directory");
        abort();
    }
}

in_scratch_dir::~in_scratch_dir() {
    if (fchdir(previous_) != 0) {
        perror("leaving the scratch directory");
        abort();
    }
    close(previous_);
}

uint32_t mix3(uint32_t a, uint32_t b, uint32_t c) {
    uint32_t h = a * 0x9E3779B1u ^ b * 0x85EBCA77u ^ c * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}
