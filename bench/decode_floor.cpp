// The decoding floor of a delogo run: the sampler's own file opening, seeks and key-frame
// reading (seek, flush, read up to the key packet, drain the decoder, flush), and nothing
// else: no band images, no analysis, no output
// but a count of what was read. scripts/bench times the tool against it.
//
// Usage: decode_floor [-f frames] [-a] [-v] video_file
//   -f  passes (default 64; no upper limit here, so any count can be timed)
//   -a  no seeks: successive key frames from the start, as the tool's all_corners mode
//       (default count then 4000)
//   -v  one line per pass: packets read, video packets, bytes
// Prints "passes P captured C packets N video V bytes B max_video_packets_per_pass M
// demux_s S decode_s D": S the CPU seconds spent seeking and reading, D decoding.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "video/key_frames.h"

namespace {

int fail(const char* what, int code) {
    char text[64] = {0};
    av_strerror(code, text, sizeof text);
    fprintf(stderr, "decode_floor: %s: %s\n", what, text);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    int frames = 64;
    bool sequential = false, verbose = false, frames_given = false;
    const char* file = nullptr;
    for (int a = 1; a < argc; ++a) {
        if (!strcmp(argv[a], "-f") && a + 1 < argc) {
            frames = atoi(argv[++a]);
            frames_given = true;
        } else if (!strcmp(argv[a], "-a")) {
            sequential = true;
        } else if (!strcmp(argv[a], "-v")) {
            verbose = true;
        } else if (argv[a][0] != '-' && !file) {
            file = argv[a];
        } else {
            file = nullptr;
            break;
        }
    }
    if (!file || frames < 1) {
        fprintf(stderr, "Usage: %s [-f frames] [-a] [-v] video_file\n", argv[0]);
        return 2;
    }
    if (sequential && !frames_given) frames = 4000;
    av_log_set_level(AV_LOG_ERROR);

    frame_ptr frame(av_frame_alloc());
    packet_ptr packet(av_packet_alloc());
    if (!frame || !packet) return fail("allocation", AVERROR(ENOMEM));
    video_input in;
    int ret = open_video(file, nullptr, false, in);
    if (ret < 0) return fail("open", ret);
    const bool seeking = !sequential && known_duration(in) > 0;

    // CPU time in the demuxer (seeks and reads, what the tool's reading thread does alone)
    // and in the decoder (what its decoding threads share out), in seconds: CPU time, so
    // that other work on the machine does not count.
    double demuxing = 0, decoding = 0;
    auto cpu_now = [] {
        timespec t;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
    };
    auto since = [&](double start) { return cpu_now() - start; };
    read_counts total;
    int64_t max_video_per_pass = 0;
    int passes = 0, captured = 0;
    for (int i = 1; i <= frames; ++i) {
        ++passes;
        double start = cpu_now();
        if (seeking) seek_demuxer(in, pass_target(in, i, frames));
        demuxing += since(start);
        start = cpu_now();
        if (seeking) avcodec_flush_buffers(in.dec_ctx.get());
        decoding += since(start);
        // read_key_frame, its two halves timed apart.
        read_counts pass;
        pass_end end = pass_end::captured;
        for (int reads = 0, code = 0;;) {
            start = cpu_now();
            const packet_read got = read_video_packet(in, packet.get(), reads, &pass);
            demuxing += since(start);
            if (got != packet_read::video) {
                end =
                    got == packet_read::end_of_file ? pass_end::end_of_file : pass_end::read_error;
                break;
            }
            start = cpu_now();
            const packet_outcome outcome =
                decode_packet(in, in.dec_ctx.get(), packet.get(), frame.get(), code);
            decoding += since(start);
            if (outcome == packet_outcome::fatal) return fail("decode", code);
            if (outcome == packet_outcome::captured) break;
        }
        av_frame_unref(frame.get());
        const bool got = end == pass_end::captured;
        total.packets += pass.packets;
        total.video_packets += pass.video_packets;
        total.bytes += pass.bytes;
        if (pass.video_packets > max_video_per_pass) max_video_per_pass = pass.video_packets;
        if (verbose)
            printf("pass %d packets %" PRId64 " video %" PRId64 " bytes %" PRId64 "%s\n", i,
                   pass.packets, pass.video_packets, pass.bytes, got ? "" : " (no frame)");
        captured += got;
        if (end == pass_end::end_of_file) break;
    }
    printf("passes %d captured %d packets %" PRId64 " video %" PRId64 " bytes %" PRId64
           " max_video_packets_per_pass %" PRId64 " demux_s %.4f decode_s %.4f\n",
           passes, captured, total.packets, total.video_packets, total.bytes, max_video_per_pass,
           demuxing, decoding);
    return 0;
}
