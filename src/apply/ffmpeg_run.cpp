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
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "apply/filter_chain.h"
#include "apply/output_files.h"
#include "video/av_ptr.h"

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

std::vector<std::string> decoder_command(const std::string& input, int video) {
    // In the frame's own orientation (the model's), every frame with its own timestamp
    // as the file has it (none dropped or doubled, none moved), in the demuxer's time base.
    return {"ffmpeg",       "-hide_banner",     "-nostdin",     "-loglevel",
            "error",        "-noautorotate",    "-copyts",      "-i",  file_url(input),
            "-map",         "0:" + std::to_string(video),       "-c:v",
            "rawvideo",     "-fps_mode",        "passthrough",  "-enc_time_base:v",
            demuxer_time_base_word(),           "-f",           "nut",  "pipe:1"};
}

std::vector<std::string> restoring_command(const std::string& input,
                                           const std::vector<std::string>& streams,
                                           const std::string& chain,
                                           const std::vector<std::string>& encoder,
                                           bool overwrite, const std::string& output,
                                           int64_t offset_us) {
    // INPUT stays input 0 (its other streams, its metadata and chapters come from it as
    // before); the restored frames are input 1. Timestamps are the file's own on both
    // (-copyts), and both inputs move back by the file's start (-start_at_zero moves each
    // input by its own start: the frames', where the video starts, is undone by -itsoffset),
    // so the video keeps its place beside the audio whatever ffmpeg makes of either.
    const int64_t magnitude = offset_us < 0 ? -offset_us : offset_us;
    char offset[48];
    snprintf(offset, sizeof offset, "%s%lld.%06lld", offset_us < 0 ? "-" : "",
             static_cast<long long>(magnitude / 1000000),
             static_cast<long long>(magnitude % 1000000));
    std::vector<std::string> a{"ffmpeg",          "-hide_banner", "-nostdin",    "-loglevel",
                               "error",           overwrite ? "-y" : "-n",       "-copyts",
                               "-start_at_zero",  "-i",           file_url(input),
                               "-itsoffset",      offset,         "-f",          "nut",
                               "-i",              "pipe:0"};
    // The stream arguments start with the video's "-map 0:N": that one becomes the frames'.
    // A stream's metadata (language, title) comes with it from its input, so the video's
    // is asked for from INPUT; asking for one stream's turns off the others', so all are.
    std::vector<std::string> maps = streams, metadata;
    int output_stream = 0;
    for (size_t k = 0; k + 1 < maps.size(); ++k) {
        if (maps[k] != "-map") continue;
        const std::string from = maps[k + 1];
        metadata.insert(metadata.end(), {"-map_metadata:s:" + std::to_string(output_stream++),
                                         "0:s:" + from.substr(2)});
        if (output_stream == 1) maps[k + 1] = "1:0";
    }
    a.insert(a.end(), maps.begin(), maps.end());
    a.insert(a.end(), metadata.begin(), metadata.end());
    if (!chain.empty()) a.insert(a.end(), {"-vf", chain});
    a.insert(a.end(), {"-fps_mode:v", "passthrough"});
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

namespace {

// Starts argv (argv[0] looked up in PATH) with the given descriptors as its standard input,
// output and error. 0 and the child's pid, or the error number.
int spawn(const std::vector<std::string>& argv, int in, int out, int err, pid_t& pid) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in < 0)
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    else
        posix_spawn_file_actions_adddup2(&actions, in, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
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
    const int spawned = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return spawned;
}

// Waits for a child, passing it the signals caught meanwhile. Its wait status.
int wait_for(pid_t pid, int& forwarded) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR)
        forward_signals(pid, forwarded);
    return status;
}

// Says how a child that did not succeed ended, with the last lines of its errors. true
// when it succeeded.
bool succeeded(int status, const char* name, const std::string& errors) {
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    if (WIFEXITED(status))
        fprintf(stderr, "delogo-apply: %s failed (exit status %d):\n", name, WEXITSTATUS(status));
    else
        fprintf(stderr, "delogo-apply: %s ended by signal %d:\n", name, WTERMSIG(status));
    const std::string tail = last_lines(errors, 5);
    if (!tail.empty()) fprintf(stderr, "%s\n", tail.c_str());
    return false;
}

// Shows the progress of the ffmpeg `pid` from its "-progress" pipe and keeps its errors,
// until both pipes close; every caught signal goes to `pid` and to `also` (when >= 0).
// Then waits for `pid`; its wait status.
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

// A file for a child's error messages that nobody else sees: created in /tmp, removed at
// once, read back at the end.
struct error_file {
    fd_owner file;
    error_file() {
        char name[] = "/tmp/delogo-apply-errors-XXXXXX";
        file.fd = mkostemp(name, O_CLOEXEC);
        if (file.fd >= 0) unlink(name);
    }
    std::string text() const {
        std::string out;
        if (file.fd < 0) return out;
        char buffer[4096];
        ssize_t n;
        off_t at = 0;
        while ((n = pread(file.fd, buffer, sizeof buffer, at)) > 0) {
            out.append(buffer, size_t(n));
            at += n;
        }
        return out;
    }
};

} // namespace

ffmpeg_end run_ffmpeg(const std::vector<std::string>& argv, int64_t duration_us,
                      int& signal_number) {
    signal_number = 0;
    int progress_pipe[2], error_pipe[2];
    if (pipe2(progress_pipe, O_CLOEXEC) != 0) return ffmpeg_end::failed;
    fd_owner progress_in{progress_pipe[0]}, progress_out{progress_pipe[1]};
    if (pipe2(error_pipe, O_CLOEXEC) != 0) return ffmpeg_end::failed;
    fd_owner error_in{error_pipe[0]}, error_out{error_pipe[1]};
    pid_t pid = -1;
    const int spawned = spawn(argv, -1, progress_out.fd, error_out.fd, pid);
    progress_out.reset();
    error_out.reset();
    if (spawned != 0) {
        if (spawned == ENOENT) return ffmpeg_end::not_found;
        fprintf(stderr, "delogo-apply: cannot run %s: %s\n", argv[0].c_str(), strerror(spawned));
        return ffmpeg_end::failed;
    }
    std::string errors;
    const int status = watch(pid, -1, progress_in, error_in, duration_us, errors);
    signal_number = interrupt_signal();
    if (signal_number) return ffmpeg_end::interrupted;
    return succeeded(status, "ffmpeg", errors) ? ffmpeg_end::done : ffmpeg_end::failed;
}

ffmpeg_end run_restoring(const std::vector<std::string>& decoder, const encoder_command& encoder,
                         const change_maker& make_change, int64_t duration_us,
                         int& signal_number) {
    signal_number = 0;
    int frames_in[2], frames_out[2], progress_pipe[2], error_pipe[2];
    if (pipe2(frames_in, O_CLOEXEC) != 0) return ffmpeg_end::failed;
    fd_owner decoded{frames_in[0]}, decoder_out{frames_in[1]};
    if (pipe2(frames_out, O_CLOEXEC) != 0) return ffmpeg_end::failed;
    fd_owner encoder_in{frames_out[0]}, restored{frames_out[1]};
    if (pipe2(progress_pipe, O_CLOEXEC) != 0) return ffmpeg_end::failed;
    fd_owner progress_in{progress_pipe[0]}, progress_out{progress_pipe[1]};
    if (pipe2(error_pipe, O_CLOEXEC) != 0) return ffmpeg_end::failed;
    fd_owner error_in{error_pipe[0]}, error_out{error_pipe[1]};
    error_file decoder_errors;
    if (decoder_errors.file.fd < 0) {
        fprintf(stderr, "delogo-apply: cannot make a file in /tmp: %s\n", strerror(errno));
        return ffmpeg_end::failed;
    }

    pid_t decoder_pid = -1;
    int spawned = spawn(decoder, -1, decoder_out.fd, decoder_errors.file.fd, decoder_pid);
    decoder_out.reset();
    if (spawned != 0) {
        if (spawned == ENOENT) return ffmpeg_end::not_found;
        fprintf(stderr, "delogo-apply: cannot run %s: %s\n", decoder[0].c_str(), strerror(spawned));
        return ffmpeg_end::failed;
    }
    int forwarded_decoder = 0;

    // The frames go through a thread of their own, from the decoder's pipe to the encoder's:
    // the main thread meanwhile shows the progress and passes signals on. The encoder is
    // started once the first frames told where the stream starts.
    struct shared_state {
        std::mutex lock;
        std::condition_variable changed;
        bool opened = false;
        int64_t start_us = 0;
        std::string error;
    } state;
    frame_pipe_input in;
    const int restored_fd = restored.fd;
    restored.fd = -1; // the thread's from here on: pass_frames closes it
    std::thread frames([&] {
        std::string error = open_frame_pipe(decoded.fd, in);
        frame_change change;
        if (error.empty()) change = make_change(layout_of(in), error);
        {
            std::lock_guard<std::mutex> hold(state.lock);
            state.opened = true;
            state.error = error;
            if (error.empty()) state.start_us = start_time_us(in);
        }
        state.changed.notify_all();
        if (!error.empty()) {
            close(restored_fd);
            return;
        }
        error = pass_frames(in, restored_fd, change, [] { return interrupt_signal() != 0; });
        std::lock_guard<std::mutex> hold(state.lock);
        state.error = error;
    });
    struct joiner {
        std::thread& t;
        ~joiner() {
            if (t.joinable()) t.join();
        }
    } join_frames{frames};

    std::string opening_error;
    int64_t start_us = 0;
    {
        std::unique_lock<std::mutex> hold(state.lock);
        while (!state.opened) {
            hold.unlock();
            forward_signals(decoder_pid, forwarded_decoder);
            hold.lock();
            state.changed.wait_for(hold, std::chrono::milliseconds(100));
        }
        opening_error = state.error;
        start_us = state.start_us;
    }
    pid_t encoder_pid = -1;
    std::string errors;
    int status = -1;
    if (opening_error.empty()) {
        spawned = spawn(encoder(start_us), encoder_in.fd, progress_out.fd, error_out.fd,
                        encoder_pid);
        encoder_in.reset();
        progress_out.reset();
        error_out.reset();
        if (spawned == 0)
            status = watch(encoder_pid, decoder_pid, progress_in, error_in, duration_us, errors);
    }
    // Without its reader the frames' thread ends at its next write, and without ours the
    // decoder at its next.
    encoder_in.reset();
    frames.join();
    in.format.reset();
    decoded.reset();
    const int decoder_status = wait_for(decoder_pid, forwarded_decoder);
    signal_number = interrupt_signal();
    if (signal_number) return ffmpeg_end::interrupted;
    if (spawned != 0) {
        if (spawned == ENOENT) return ffmpeg_end::not_found;
        fprintf(stderr, "delogo-apply: cannot run ffmpeg: %s\n", strerror(spawned));
        return ffmpeg_end::failed;
    }
    // The encoder's own failure says most; the decoder's and the frames' are behind it.
    if (status != -1 && !succeeded(status, "ffmpeg", errors)) return ffmpeg_end::failed;
    if (!succeeded(decoder_status, "ffmpeg decoding the input", decoder_errors.text()))
        return ffmpeg_end::failed;
    if (!state.error.empty()) {
        fprintf(stderr, "delogo-apply: the frames: %s\n", state.error.c_str());
        return ffmpeg_end::failed;
    }
    return ffmpeg_end::done;
}
