// The ffmpeg child of delogo-apply: spawning, progress, errors and signals.
#include "apply/ffmpeg_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace {

volatile sig_atomic_t received_signal = 0;
volatile sig_atomic_t signal_count = 0;

void on_signal(int number) {
    if (!received_signal) received_signal = number;
    signal_count = signal_count + 1;
}

// Catches SIGINT and SIGTERM while it lives (without SA_RESTART, so that poll wakes up),
// and puts the previous handlers back.
struct signal_catcher {
    struct sigaction old_int {};
    struct sigaction old_term {};
    signal_catcher() {
        received_signal = 0;
        signal_count = 0;
        struct sigaction a {};
        a.sa_handler = on_signal;
        sigemptyset(&a.sa_mask);
        sigaction(SIGINT, &a, &old_int);
        sigaction(SIGTERM, &a, &old_term);
    }
    ~signal_catcher() {
        sigaction(SIGINT, &old_int, nullptr);
        sigaction(SIGTERM, &old_term, nullptr);
    }
};

struct fd_owner {
    int fd = -1;
    ~fd_owner() {
        if (fd >= 0) close(fd);
    }
    void reset() {
        if (fd >= 0) close(fd);
        fd = -1;
    }
};

std::string clock_text(int64_t seconds) {
    char text[32];
    snprintf(text, sizeof text, "%d:%02d:%02d", static_cast<int>(seconds / 3600),
             static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return text;
}

// What the "-progress" lines told so far.
struct progress_state {
    int64_t done_us = 0;
    double speed = 0;
    std::string pending; // an incomplete line
};

// Takes in a chunk of "key=value" lines.
void read_progress(progress_state& p, const char* data, size_t size) {
    p.pending.append(data, size);
    size_t start = 0, end;
    while ((end = p.pending.find('\n', start)) != std::string::npos) {
        const std::string line = p.pending.substr(start, end - start);
        start = end + 1;
        if (line.compare(0, 12, "out_time_us=") == 0) {
            const long long value = strtoll(line.c_str() + 12, nullptr, 10);
            if (value > 0) p.done_us = value;
        } else if (line.compare(0, 6, "speed=") == 0) {
            p.speed = strtod(line.c_str() + 6, nullptr);
        }
    }
    p.pending.erase(0, start);
}

// The last `count` non-empty lines of `text`, joined by newlines.
std::string last_lines(const std::string& text, size_t count) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    std::string out;
    for (size_t i = lines.size() > count ? lines.size() - count : 0; i < lines.size(); ++i)
        out += (out.empty() ? "" : "\n") + lines[i];
    return out;
}

} // namespace

bool found_in_path(const char* name) {
    const char* path = getenv("PATH");
    if (!path) return false;
    std::string dirs = path;
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        const std::string file = (dir.empty() ? std::string(".") : dir) + "/" + name;
        struct stat info;
        if (stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(file.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

std::string progress_text(int64_t done_us, int64_t duration_us, double speed) {
    char text[96];
    std::string out;
    if (duration_us > 0) {
        const int64_t shown = done_us < duration_us ? done_us : duration_us;
        snprintf(text, sizeof text, "%3d%%", static_cast<int>(shown * 100 / duration_us));
        out += text;
    } else {
        out += clock_text(done_us / 1000000) + " done";
    }
    if (speed > 0) {
        snprintf(text, sizeof text, "  speed %.2fx", speed);
        out += text;
        if (duration_us > done_us)
            out += "  " +
                   clock_text(static_cast<int64_t>((duration_us - done_us) / 1e6 / speed + 0.5)) +
                   " left";
    }
    return out;
}

ffmpeg_end run_ffmpeg(const std::vector<std::string>& argv, int64_t duration_us,
                      int& signal_number) {
    signal_number = 0;
    int progress_pipe[2], error_pipe[2];
    if (pipe2(progress_pipe, O_CLOEXEC) != 0) return ffmpeg_end::failed;
    fd_owner progress_in{progress_pipe[0]}, progress_out{progress_pipe[1]};
    if (pipe2(error_pipe, O_CLOEXEC) != 0) return ffmpeg_end::failed;
    fd_owner error_in{error_pipe[0]}, error_out{error_pipe[1]};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, progress_out.fd, 1);
    posix_spawn_file_actions_adddup2(&actions, error_out.fd, 2);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    // Caught from before the spawn, so that no interrupt can slip between the two.
    signal_catcher catcher;
    // ffmpeg starts with SIGINT and SIGTERM at their defaults, whatever ours are.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    progress_out.reset();
    error_out.reset();
    if (spawned != 0) {
        if (spawned == ENOENT) return ffmpeg_end::not_found;
        fprintf(stderr, "delogo-apply: cannot run %s: %s\n", args[0], strerror(spawned));
        return ffmpeg_end::failed;
    }

    const bool terminal = isatty(2) != 0;
    using clock = std::chrono::steady_clock;
    clock::time_point last_line = clock::now();
    progress_state progress;
    std::string errors;
    bool bar_shown = false;
    int forwarded = 0;
    pollfd fds[2] = {{progress_in.fd, POLLIN, 0}, {error_in.fd, POLLIN, 0}};
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        // Every interrupt goes on to ffmpeg: a second one makes it stop at once.
        while (forwarded < signal_count) {
            kill(pid, received_signal);
            ++forwarded;
        }
        if (poll(fds, 2, 250) < 0 && errno != EINTR) break;
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[4096];
            const ssize_t n = read(fds[k].fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                fds[k].fd = -1;
                continue;
            }
            if (k == 1) {
                errors.append(buffer, static_cast<size_t>(n));
                // Only the end is ever shown.
                if (errors.size() > 16384) errors.erase(0, errors.size() - 8192);
                continue;
            }
            read_progress(progress, buffer, static_cast<size_t>(n));
            const std::string text = progress_text(progress.done_us, duration_us, progress.speed);
            if (terminal) {
                const int width = 30;
                int filled =
                    duration_us > 0 ? static_cast<int>(progress.done_us * width / duration_us) : 0;
                if (filled > width) filled = width;
                fprintf(stderr, "\r[%s%s] %s\033[K", std::string(filled, '#').c_str(),
                        std::string(width - filled, '.').c_str(), text.c_str());
                bar_shown = true;
            } else if (clock::now() - last_line >= std::chrono::seconds(10)) {
                fprintf(stderr, "delogo-apply: %s\n", text.c_str());
                last_line = clock::now();
            }
        }
    }
    progress_in.reset();
    error_in.reset();
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        while (forwarded < signal_count) {
            kill(pid, received_signal);
            ++forwarded;
        }
    }
    if (bar_shown) fputc('\n', stderr);
    signal_number = received_signal;
    if (signal_number) return ffmpeg_end::interrupted;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return ffmpeg_end::done;
    if (WIFEXITED(status))
        fprintf(stderr, "delogo-apply: ffmpeg failed (exit status %d):\n", WEXITSTATUS(status));
    else
        fprintf(stderr, "delogo-apply: ffmpeg ended by signal %d:\n", WTERMSIG(status));
    const std::string tail = last_lines(errors, 5);
    if (!tail.empty()) fprintf(stderr, "%s\n", tail.c_str());
    return ffmpeg_end::failed;
}
