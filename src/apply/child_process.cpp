// Starting, signalling and waiting for ffmpeg children.
#include "apply/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "apply/output_files.h"

extern char** environ;

void fd_owner::reset() {
    if (fd >= 0) close(fd);
    fd = -1;
}

bool pipe_pair::create(bool large) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    read_end.fd = ends[0];
    write_end.fd = ends[1];
    // As large as an unprivileged process may make it (1 MiB by default): a raw picture then
    // crosses in a few writes. Where the system refuses, the default stays.
    if (large) fcntl(ends[1], F_SETPIPE_SZ, 1 << 20);
    return true;
}

bool found_in_path(const char* name) {
    const char* path = getenv("PATH");
    if (!path) return false;
    const std::string dirs = path;
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = dirs.substr(start, end - start);
        const std::string file = (dir.empty() ? std::string(".") : dir) + "/" + name;
        struct stat info;
        if (stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(file.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

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

void forward_signals(pid_t pid, int& forwarded) {
    while (forwarded < interrupt_count()) {
        const int number = interrupt_signal();
        kill(pid, number == SIGQUIT ? SIGTERM : number);
        ++forwarded;
    }
}

int wait_for(pid_t pid, int& forwarded) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR)
        forward_signals(pid, forwarded);
    return status;
}

bool exited_well(int status) {
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

namespace {

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

bool succeeded(int status, const char* name, const std::string& errors) {
    if (exited_well(status)) return true;
    if (WIFEXITED(status))
        fprintf(stderr, "delogo-apply: %s failed (exit status %d):\n", name, WEXITSTATUS(status));
    else
        fprintf(stderr, "delogo-apply: %s ended by signal %d:\n", name, WTERMSIG(status));
    const std::string tail = last_lines(errors, 5);
    if (!tail.empty()) fprintf(stderr, "%s\n", tail.c_str());
    return false;
}

error_file::error_file() {
    char name[] = "/tmp/delogo-apply-errors-XXXXXX";
    file.fd = mkostemp(name, O_CLOEXEC);
    if (file.fd >= 0) unlink(name);
}

std::string error_file::text() const {
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
