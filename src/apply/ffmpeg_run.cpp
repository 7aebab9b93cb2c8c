// One ffmpeg child with its progress.
#include "apply/ffmpeg_run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "apply/child_process.h"
#include "apply/output_files.h"
#include "apply/progress_view.h"

ffmpeg_end run_ffmpeg(const std::vector<std::string>& argv, int64_t duration_us,
                      int& signal_number) {
    signal_number = 0;
    pipe_pair progress, errors_pipe;
    if (!progress.create() || !errors_pipe.create()) return ffmpeg_end::failed;
    pid_t pid = -1;
    const int spawned =
        spawn(argv, -1, progress.write_end.fd, errors_pipe.write_end.fd, pid);
    progress.write_end.reset();
    errors_pipe.write_end.reset();
    if (spawned != 0) {
        if (spawned == ENOENT) return ffmpeg_end::not_found;
        fprintf(stderr, "delogo-apply: cannot run %s: %s\n", argv[0].c_str(), strerror(spawned));
        return ffmpeg_end::failed;
    }
    std::string errors;
    const int status =
        watch(pid, -1, progress.read_end, errors_pipe.read_end, duration_us, errors);
    signal_number = interrupt_signal();
    if (signal_number) return ffmpeg_end::interrupted;
    return succeeded(status, "ffmpeg", errors) ? ffmpeg_end::done : ffmpeg_end::failed;
}
