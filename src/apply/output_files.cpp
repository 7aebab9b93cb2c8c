// Temporary files put in place by rename or link, and the signals of a run.
#include "apply/output_files.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

std::string temporary_pattern(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t name = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = path.rfind('.');
    // A leading dot names a hidden file, not an extension.
    if (dot == std::string::npos || dot <= name) dot = path.size();
    return path.substr(0, name) + "." + path.substr(name, dot - name) + ".XXXXXX" +
           path.substr(dot);
}

temporary_file::~temporary_file() {
    if (fd_ >= 0) close(fd_);
    if (!path_.empty() && !kept_) unlink(path_.c_str());
}

bool temporary_file::create(const std::string& final_path, std::string& error) {
    const std::string pattern = temporary_pattern(final_path);
    const size_t x = pattern.rfind("XXXXXX");
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device seed;
    std::mt19937 random(seed());
    // A name taken by another run (or by anything else) is never reused: try another.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = pattern;
        for (size_t i = 0; i < 6; ++i)
            candidate[x + i] = letters[random() % (sizeof letters - 1)];
        const int fd =
            open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0) {
            fd_ = fd;
            path_ = candidate;
            final_ = final_path;
            return true;
        }
        if (errno != EEXIST) {
            error = "cannot create a file beside " + final_path + ": " + strerror(errno);
            return false;
        }
    }
    error = "cannot find a free temporary name beside " + final_path;
    return false;
}

int temporary_file::release_descriptor() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

commit_end temporary_file::commit(bool replace, std::string& error) {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    // The data must be on disk before the name moves: otherwise a crash right after a
    // replacing rename could leave neither the old file nor the new one.
    const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
    if (replace) {
        if (rename(path_.c_str(), final_.c_str()) != 0) {
            error = strerror(errno);
            return commit_end::failed;
        }
        path_.clear();
        return commit_end::done;
    }
    // link() gives the name only if nothing holds it, atomically; where the file system
    // has no hard links, a rename that refuses to replace does the same.
    int why = link(path_.c_str(), final_.c_str()) == 0 ? 0 : errno;
    if (why == 0)
        unlink(path_.c_str());
    else if (why != EEXIST)
        why = renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, final_.c_str(), RENAME_NOREPLACE) == 0
                  ? 0
                  : errno;
    if (why != 0) {
        error = strerror(why);
        return why == EEXIST ? commit_end::exists : commit_end::failed;
    }
    path_.clear();
    return commit_end::done;
}

namespace {

volatile sig_atomic_t first_signal = 0;
volatile sig_atomic_t signal_total = 0;

void on_signal(int number) {
    if (!first_signal) first_signal = number;
    signal_total = signal_total + 1;
}

constexpr int caught_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction previous[sizeof caught_signals / sizeof caught_signals[0]];
struct sigaction previous_pipe;

} // namespace

interrupt_guard::interrupt_guard() {
    first_signal = 0;
    signal_total = 0;
    // No SA_RESTART: a signal must wake the wait for ffmpeg's output at once.
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < sizeof caught_signals / sizeof caught_signals[0]; ++i) {
        sigaction(caught_signals[i], nullptr, &previous[i]);
        if (previous[i].sa_handler != SIG_IGN) sigaction(caught_signals[i], &action, nullptr);
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &previous_pipe);
}

interrupt_guard::~interrupt_guard() {
    for (size_t i = 0; i < sizeof caught_signals / sizeof caught_signals[0]; ++i)
        sigaction(caught_signals[i], &previous[i], nullptr);
    sigaction(SIGPIPE, &previous_pipe, nullptr);
}

int interrupt_signal() {
    return first_signal;
}

int interrupt_count() {
    return signal_total;
}
