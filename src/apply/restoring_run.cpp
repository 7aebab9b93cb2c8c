// Three processes' worth of work: two ffmpeg children and the frames' thread between them.
#include "apply/restoring_run.h"

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "apply/child_process.h"
#include "apply/ffmpeg_commands.h"
#include "apply/output_files.h"
#include "apply/progress_view.h"

ffmpeg_end run_restoring(const std::vector<std::string>& decoder,
                         const std::vector<std::string>& encoder, const chain_maker& make,
                         int64_t duration_us, int& signal_number) {
    signal_number = 0;
    pipe_pair decoded, restored, progress, errors_pipe;
    if (!decoded.create(true) || !restored.create(true) || !progress.create() || !errors_pipe.create())
        return ffmpeg_end::failed;
    error_file decoder_errors;
    if (decoder_errors.file.fd < 0) {
        fprintf(stderr, "delogo-apply: cannot make a file in /tmp: %s\n", strerror(errno));
        return ffmpeg_end::failed;
    }
    pid_t decoder_pid = -1;
    int spawned = spawn(decoder, -1, decoded.write_end.fd, decoder_errors.file.fd, decoder_pid);
    decoded.write_end.reset();
    if (spawned != 0) {
        if (spawned == ENOENT) return ffmpeg_end::not_found;
        fprintf(stderr, "delogo-apply: cannot run %s: %s\n", decoder[0].c_str(), strerror(spawned));
        return ffmpeg_end::failed;
    }
    int forwarded_decoder = 0;

    // The frames go through a thread of their own, from the decoder's pipe to the encoder's:
    // the main thread meanwhile shows the progress and passes signals on. The thread owns
    // the encoder's pipe end from here on, and closes it when it ends: the encoder then
    // sees the end of its input.
    frames_end pass;
    const int restored_fd = restored.write_end.release();
    std::thread frames([&] {
        pass = restore_pass(decoded.read_end.fd, restored_fd, make, nut_offset_us,
                            [] { return interrupt_signal() != 0; });
    });
    struct joiner {
        std::thread& t;
        ~joiner() {
            if (t.joinable()) t.join();
        }
    } join_frames{frames};

    pid_t encoder_pid = -1;
    std::string errors;
    int status = -1;
    spawned = spawn(encoder, restored.read_end.fd, progress.write_end.fd,
                    errors_pipe.write_end.fd, encoder_pid);
    restored.read_end.reset();
    progress.write_end.reset();
    errors_pipe.write_end.reset();
    if (spawned == 0)
        status = watch(encoder_pid, decoder_pid, progress.read_end, errors_pipe.read_end,
                       duration_us, errors);
    else
        kill(decoder_pid, SIGTERM); // nothing will read what it decodes
    // Without its reader the frames' thread ends at its next write, and without ours the
    // decoder at its next.
    frames.join();
    decoded.read_end.reset();
    const int decoder_status = wait_for(decoder_pid, forwarded_decoder);
    signal_number = interrupt_signal();
    if (signal_number) return ffmpeg_end::interrupted;
    if (spawned != 0) {
        if (spawned == ENOENT) return ffmpeg_end::not_found;
        fprintf(stderr, "delogo-apply: cannot run ffmpeg: %s\n", strerror(spawned));
        return ffmpeg_end::failed;
    }
    if (pass.reader_gone) {
        // The encoder stopped reading first: its end says it all, the rest followed from it.
        return succeeded(status, "ffmpeg", errors) ? ffmpeg_end::done : ffmpeg_end::failed;
    }
    // The decoder's failure says most (a damaged input); the frames' follows from it, or
    // (a frame of the wrong size) is the cause of the decoder's broken pipe.
    const bool decoded_well =
        succeeded(decoder_status, "ffmpeg decoding the input", decoder_errors.text());
    if (!pass.error.empty()) fprintf(stderr, "delogo-apply: the frames: %s\n", pass.error.c_str());
    if (!decoded_well || !pass.error.empty()) return ffmpeg_end::failed;
    return succeeded(status, "ffmpeg", errors) ? ffmpeg_end::done : ffmpeg_end::failed;
}
