// ffmpeg's "-progress" lines read and shown as a bar or as plain lines.
#include "apply/progress_view.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

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

} // namespace

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

int watch(pid_t pid, pid_t also, fd_owner& progress_in, fd_owner& error_in, int64_t duration_us,
          std::string& errors) {
    const bool terminal = isatty(2) != 0;
    using clock = std::chrono::steady_clock;
    clock::time_point last_line = clock::now();
    progress_state progress;
    bool bar_shown = false;
    int forwarded = 0, forwarded_also = 0;
    pollfd fds[2] = {{progress_in.fd, POLLIN, 0}, {error_in.fd, POLLIN, 0}};
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        forward_signals(pid, forwarded);
        if (also >= 0) forward_signals(also, forwarded_also);
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
    const int status = wait_for(pid, forwarded);
    if (also >= 0) forward_signals(also, forwarded_also);
    if (bar_shown) fputc('\n', stderr);
    return status;
}
