// The ffmpeg children of delogo-apply: started with the descriptors they are given, waited
// for with the signals the run caught passed on, and their endings told.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// A file descriptor closed with its owner.
struct fd_owner {
    int fd = -1;
    fd_owner() = default;
    explicit fd_owner(int d) : fd(d) {}
    fd_owner(const fd_owner&) = delete;
    fd_owner& operator=(const fd_owner&) = delete;
    ~fd_owner() { reset(); }
    void reset();
    int release() {
        const int d = fd;
        fd = -1;
        return d;
    }
};

// A pipe whose ends close with it: `read_end` and `write_end`, close-on-exec. false (errno
// set) when none could be made. A pipe whose reader gets whole raw pictures is made large
// (`large`): fewer, longer writes and reads, fewer switches between the processes.
struct pipe_pair {
    fd_owner read_end, write_end;
    bool create(bool large = false);
};

// Whether `name` is an executable file in one of PATH's directories.
bool found_in_path(const char* name);

// Starts argv (argv[0] looked up in PATH) with `in` as its standard input (-1: /dev/null),
// `out` and `err` as its standard output and error. 0 and the child's pid, or the error
// number (ENOENT: no such program).
int spawn(const std::vector<std::string>& argv, int in, int out, int err, pid_t& pid);

// Sends `pid` every signal the run caught that it was not sent yet (`forwarded` counts
// them; SIGQUIT goes as SIGTERM, so that ffmpeg leaves no core file): a second interrupt
// makes ffmpeg stop at once, as it would on its own terminal.
void forward_signals(pid_t pid, int& forwarded);

// Waits for a child, passing it the signals caught meanwhile. Its wait status.
int wait_for(pid_t pid, int& forwarded);

// Whether a child's wait status is success.
bool exited_well(int status);

// Says on standard error how a child named `name` that did not succeed ended, with the
// last lines of its `errors`. true when it succeeded.
bool succeeded(int status, const char* name, const std::string& errors);

// A file for a child's error messages that nobody else sees: created in /tmp, removed at
// once, read back at the end.
struct error_file {
    fd_owner file;
    error_file();
    std::string text() const;
};
