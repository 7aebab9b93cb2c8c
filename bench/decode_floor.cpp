// The decoding floor of a delogo run: the same file opening, the same seeks and the same
// key-frame decodes as the tool's sampling loop (seek, flush, read up to the key packet,
// drain the decoder, flush), and nothing else: no band images, no analysis, no output
// but a count of what was read. scripts/bench times the tool against it.
//
// Usage: decode_floor [-f frames] [-a] [-v] video_file
//   -f  passes (default 64; no upper limit here, so any count can be timed)
//   -a  no seeks: successive key frames from the start, as the tool's all_corners mode
//       (default count then 4000)
//   -v  one line per pass: packets read, video packets, bytes
// Prints "passes P captured C packets N video V bytes B max_video_packets_per_pass M".
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/mathematics.h>
}

#include "av_ptr.h"

namespace {

int fail(const char* what, int code) {
    char text[64] = {0};
    av_strerror(code, text, sizeof text);
    fprintf(stderr, "decode_floor: %s: %s\n", what, text);
    return 1;
}

// What one pass read.
struct pass_count {
    int64_t packets = 0;       // every packet the demuxer handed over
    int64_t video_packets = 0; // those sent to the decoder
    int64_t bytes = 0;         // payload bytes of all of them
};

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

    AVFormatContext* opened = nullptr;
    int ret = avformat_open_input(&opened, file, nullptr, nullptr);
    input_ptr fmt(opened);
    if (ret < 0) return fail("open", ret);
    std::vector<AVDictionary*> probe_options(fmt->nb_streams, nullptr);
    for (AVDictionary*& o : probe_options)
        av_dict_set_int(&o, "max_pixels", max_frame_pixels, 0);
    ret = avformat_find_stream_info(fmt.get(), probe_options.data());
    for (AVDictionary*& o : probe_options)
        av_dict_free(&o);
    if (ret < 0) return fail("stream info", ret);
    found_decoder decoder = nullptr;
    const int stream = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (stream < 0) return fail("video stream", stream);
    codec_ptr dec(avcodec_alloc_context3(decoder));
    if (!dec) return fail("decoder", AVERROR(ENOMEM));
    avcodec_parameters_to_context(dec.get(), fmt->streams[stream]->codecpar);
    dec->max_pixels = max_frame_pixels;
    if ((ret = avcodec_open2(dec.get(), decoder, nullptr)) < 0) return fail("decoder open", ret);
    dec->skip_frame = AVDISCARD_NONKEY;

    const int64_t duration = fmt->duration;
    const bool seeking = !sequential && duration != AV_NOPTS_VALUE && duration > 0;
    const int64_t start_time =
        fmt->start_time != AV_NOPTS_VALUE && fmt->start_time > 0 ? fmt->start_time : 0;

    pass_count total;
    int64_t max_video_per_pass = 0;
    int passes = 0, captured = 0;
    for (int i = 1; i <= frames; ++i) {
        ++passes;
        if (seeking) {
            const int64_t target = av_rescale_rnd(i, duration, frames + 1, AV_ROUND_DOWN);
            av_seek_frame(fmt.get(), -1, start_time + target, AVSEEK_FLAG_BACKWARD);
            avcodec_flush_buffers(dec.get());
        }
        pass_count pass;
        bool end_of_file = false, got = false;
        while (true) {
            ret = av_read_frame(fmt.get(), packet.get());
            if (ret == AVERROR_EOF) {
                end_of_file = true;
                break;
            }
            if (ret < 0) break;
            ++pass.packets;
            pass.bytes += packet->size;
            if (packet->stream_index != stream) {
                av_packet_unref(packet.get());
                continue;
            }
            ++pass.video_packets;
            const bool key_packet = (packet->flags & AV_PKT_FLAG_KEY) != 0;
            ret = avcodec_send_packet(dec.get(), packet.get());
            av_packet_unref(packet.get());
            if (ret < 0) return fail("send packet", ret);
            ret = avcodec_receive_frame(dec.get(), frame.get());
            if (ret == AVERROR(EAGAIN) && key_packet) {
                avcodec_send_packet(dec.get(), nullptr);
                ret = avcodec_receive_frame(dec.get(), frame.get());
                avcodec_flush_buffers(dec.get());
            }
            if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) continue;
            if (ret < 0) return fail("decode", ret);
            const bool key = is_key_frame(frame.get());
            av_frame_unref(frame.get());
            if (!key) continue;
            got = true;
            break;
        }
        total.packets += pass.packets;
        total.video_packets += pass.video_packets;
        total.bytes += pass.bytes;
        if (pass.video_packets > max_video_per_pass) max_video_per_pass = pass.video_packets;
        if (verbose)
            printf("pass %d packets %" PRId64 " video %" PRId64 " bytes %" PRId64 "%s\n", i,
                   pass.packets, pass.video_packets, pass.bytes, got ? "" : " (no frame)");
        captured += got;
        if (end_of_file) break;
    }
    printf("passes %d captured %d packets %" PRId64 " video %" PRId64 " bytes %" PRId64
           " max_video_packets_per_pass %" PRId64 "\n",
           passes, captured, total.packets, total.video_packets, total.bytes, max_video_per_pass);
    return 0;
}
