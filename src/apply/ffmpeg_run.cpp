// The ffmpeg child of delogo-apply: spawning, progress, errors and signals.
#include "apply/ffmpeg_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "apply/filter_chain.h"
#include "apply/output_files.h"

extern char** environ;

namespace {

// The signal ffmpeg is sent for one we caught: the same, except that SIGQUIT becomes
// SIGTERM (ffmpeg ends on both, but SIGQUIT would leave a core file behind).
int forwarded_signal(int number) {
    return number == SIGQUIT ? SIGTERM : number;
}

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
    bool finished = false; // "progress=end" was read
    std::string pending;   // an incomplete line
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
        } else if (line == "progress=end") {
            p.finished = true;
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

std::vector<std::string> ffmpeg_command(const std::string& input,
                                        const std::vector<std::string>& streams,
                                        const std::string& chain,
                                        const std::vector<std::string>& encoder, bool overwrite,
                                        const std::string& output) {
    std::vector<std::string> a{"ffmpeg", "-hide_banner",          "-nostdin", "-loglevel",
                               "error",  overwrite ? "-y" : "-n", "-i",       file_url(input)};
    a.insert(a.end(), streams.begin(), streams.end());
    if (!chain.empty()) a.insert(a.end(), {"-vf", chain});
    a.insert(a.end(), encoder.begin(), encoder.end());
    a.insert(a.end(), {"-progress", "pipe:1", "-nostats", file_url(output)});
    return a;
}

std::string shell_line(const std::vector<std::string>& argv) {
    std::string line;
    for (const std::string& word : argv) {
        if (!line.empty()) line += ' ';
        bool plain = !word.empty();
        for (char c : word)
            if (!isalnum(static_cast<unsigned char>(c)) && !strchr("_./:=@%+,-", c)) plain = false;
        if (plain) {
            line += word;
            continue;
        }
        line += '\'';
        for (char c : word)
            line += c == '\'' ? std::string("'\\''") : std::string(1, c);
        line += '\'';
    }
    return line;
}

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

std::string progress_text(int64_t done_us, int64_t duration_us, double speed, bool finished) {
    char text[96];
    std::string out;
    if (finished) {
        out = "100%";
    } else if (duration_us > 0) {
        const int64_t shown = done_us < duration_us ? done_us : duration_us;
        snprintf(text, sizeof text, "%3d%%", static_cast<int>(shown * 100 / duration_us));
        out += text;
    } else {
        out += clock_text(done_us / 1000000) + " done";
    }
    if (speed > 0) {
        snprintf(text, sizeof text, "  speed %.2fx", speed);
        out += text;
        if (!finished && duration_us > done_us)
            out += "  " +
                   clock_text(static_cast<int64_t>((duration_us - done_us) / 1e6 / speed + 0.5)) +
                   " left";
    }
    // The last stamp falls on the last frame's start: rounded, it reads as the length.
    if (finished) out += "  " + clock_text((done_us + 500000) / 1000000) + " written";
    return out;
}

namespace {

// The one-line bar on a terminal: filled to the part of the duration done.
void draw_bar(const progress_state& p, int64_t duration_us) {
    const int width = 30;
    int filled = p.finished        ? width
                 : duration_us > 0 ? static_cast<int>(p.done_us * width / duration_us)
                                   : 0;
    if (filled > width) filled = width;
    fprintf(stderr, "\r[%s%s] %s\033[K", std::string(filled, '#').c_str(),
            std::string(width - filled, '.').c_str(),
            progress_text(p.done_us, duration_us, p.speed, p.finished).c_str());
}

// Sends ffmpeg every signal the run caught that it was not sent yet: a second interrupt
// makes it stop at once, as it would on its own terminal.
void forward_signals(pid_t pid, int& forwarded) {
    while (forwarded < interrupt_count()) {
        kill(pid, forwarded_signal(interrupt_signal()));
        ++forwarded;
    }
}

} // namespace

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

    // The caught signals go back to their defaults in ffmpeg by the exec itself, ignored
    // ones stay ignored (nohup); SIGPIPE, which the run ignores, is ffmpeg's own business.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
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
        forward_signals(pid, forwarded);
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
            if (terminal) {
                draw_bar(progress, duration_us);
                bar_shown = true;
            } else if (clock::now() - last_line >= std::chrono::seconds(10)) {
                fprintf(
                    stderr, "delogo-apply: %s\n",
                    progress_text(progress.done_us, duration_us, progress.speed, progress.finished)
                        .c_str());
                last_line = clock::now();
            }
        }
    }
    progress_in.reset();
    error_in.reset();
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR)
        forward_signals(pid, forwarded);
    if (bar_shown) fputc('\n', stderr);
    signal_number = interrupt_signal();
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
