// The files delogo-apply writes (OUTPUT, the mask, the preview) and the signals that end a
// run. Each file is made under a fresh temporary name beside its final one and put in
// place only once finished, so that a failed, interrupted or raced run never removes or
// changes a file that existed before it; only its own temporaries are ever removed.
#pragma once

#include <string>

// The temporary name pattern of `path`: in its directory, "." + its stem + ".XXXXXX" + its
// extension, e.g. "dir/.out.XXXXXX.mkv" for "dir/out.mkv" (the extension stays last, since
// ffmpeg picks the muxer by it).
std::string temporary_pattern(const std::string& path);

// How putting a finished file in place ended.
enum class commit_end {
    done,   // the file is at its final name, the temporary name is gone
    exists, // without replace: the final name appeared meanwhile; the temporary is kept
    failed, // the system refused (error says why); the temporary is kept
};

// A file of this run under a temporary name. It is removed when its owner goes, unless it
// was put in place or kept on purpose (its name then told to the user).
class temporary_file {
  public:
    temporary_file() = default;
    ~temporary_file();
    temporary_file(const temporary_file&) = delete;
    temporary_file& operator=(const temporary_file&) = delete;

    // Creates an empty file with a fresh name from temporary_pattern(final_path), with
    // O_CREAT | O_EXCL (never an existing file, never through a link), mode 0666 less the
    // umask. false with `error` set when it cannot be made.
    bool create(const std::string& final_path, std::string& error);
    // The open descriptor, handed over to the caller (-1 after the first call).
    int release_descriptor();
    const std::string& path() const { return path_; }
    const std::string& final_path() const { return final_; }

    // Flushes the file to disk and puts it in place: with `replace` renamed over the final
    // name (a link there is replaced, never written through); without, given the final
    // name only when that name does not exist at that moment.
    commit_end commit(bool replace, std::string& error);
    // Leaves the file on disk under its temporary name.
    void keep() { kept_ = true; }

  private:
    std::string path_;  // "" when nothing was created, or once it is in place
    std::string final_; // where it goes
    int fd_ = -1;
    bool kept_ = false;
};

// Catches SIGINT, SIGTERM, SIGHUP and SIGQUIT while it lives (each unless it was ignored
// when the program started, as under nohup) and ignores SIGPIPE (a closed terminal must not
// kill the run before its temporaries are removed); puts the previous handlers back.
// The handler only counts: the run looks at interrupt_signal() between its steps, and
// run_ffmpeg passes the signals on to ffmpeg.
class interrupt_guard {
  public:
    interrupt_guard();
    ~interrupt_guard();
    interrupt_guard(const interrupt_guard&) = delete;
    interrupt_guard& operator=(const interrupt_guard&) = delete;
};

// The first signal caught by the live guard, 0 when none.
int interrupt_signal();
// How many signals it caught.
int interrupt_count();
