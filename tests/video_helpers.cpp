// Test videos with exactly known luma, and running the built tool.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>

#include "av_ptr.h"
#include "helpers.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

extern char** environ;

namespace {

struct output_closer {
    void operator()(AVFormatContext* c) const {
        if (!c) return;
        if (c->pb && !(c->oformat->flags & AVFMT_NOFILE)) avio_closep(&c->pb);
        avformat_free_context(c);
    }
};
using output_ptr = std::unique_ptr<AVFormatContext, output_closer>;

std::string av_error(const char* what, int code) {
    char text[128] = {0};
    av_strerror(code, text, sizeof text);
    return std::string(what) + ": " + text;
}

// Sends one frame (or the flush) and writes every packet the encoder hands back.
int encode(AVCodecContext* ctx, AVFrame* frame, AVFormatContext* oc, AVStream* stream,
           AVPacket* pkt) {
    int ret = avcodec_send_frame(ctx, frame);
    if (ret < 0) return ret;
    while ((ret = avcodec_receive_packet(ctx, pkt)) >= 0) {
        // Frame durations give the container its full length (last frame included).
        if (pkt->duration == 0 && ctx->codec_type == AVMEDIA_TYPE_VIDEO) pkt->duration = 1;
        av_packet_rescale_ts(pkt, ctx->time_base, stream->time_base);
        pkt->stream_index = stream->index;
        ret = av_interleaved_write_frame(oc, pkt);
        if (ret < 0) return ret;
    }
    return ret == AVERROR(EAGAIN) || ret == AVERROR_EOF ? 0 : ret;
}

// Adds a mono 8 kHz PCM stream to `oc` and opens its encoder.
std::string add_audio(AVFormatContext* oc, codec_ptr& audio, AVStream*& stream) {
    const AVCodec* pcm = avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
    stream = avformat_new_stream(oc, nullptr);
    audio.reset(avcodec_alloc_context3(pcm));
    if (!pcm || !stream || !audio) return "audio encoder";
    audio->sample_fmt = AV_SAMPLE_FMT_S16;
    audio->sample_rate = 8000;
    set_mono(audio.get());
    audio->time_base = AVRational{1, 8000};
    int ret = avcodec_open2(audio.get(), pcm, nullptr);
    if (ret < 0) return av_error("open audio", ret);
    avcodec_parameters_from_context(stream->codecpar, audio.get());
    stream->time_base = audio->time_base;
    return "";
}

// Encodes `count` samples of silence starting at sample `first`.
std::string write_silence(AVCodecContext* audio, int64_t first, int count, AVFormatContext* oc,
                          AVStream* stream, AVPacket* pkt) {
    frame_ptr samples(av_frame_alloc());
    if (!samples) return "out of memory";
    samples->format = AV_SAMPLE_FMT_S16;
    samples->nb_samples = count;
    copy_layout(samples.get(), audio);
    samples->sample_rate = 8000;
    int ret = av_frame_get_buffer(samples.get(), 0);
    if (ret < 0) return av_error("audio", ret);
    memset(samples->data[0], 0, static_cast<size_t>(count) * 2);
    samples->pts = first;
    if ((ret = encode(audio, samples.get(), oc, stream, pkt)) < 0)
        return av_error("encode audio", ret);
    return "";
}

} // namespace

uint8_t noise_luma(int frame, int x, int y) {
    uint32_t h = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u ^
                 static_cast<uint32_t>(frame) * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    // Even frames 40..79, odd frames 180..219: any two frames of different parity differ
    // by more than 100 at every pixel, and nothing is dark.
    return static_cast<uint8_t>(40 + h % 40 + (frame % 2 ? 140 : 0));
}

video_recipe pixel_video(int width, int height, int frames,
                         std::function<uint8_t(int f, int x, int y)> at) {
    video_recipe recipe;
    recipe.width = width;
    recipe.height = height;
    recipe.frames = frames;
    recipe.luma = [=](int f, uint8_t* luma, int stride) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                luma[y * stride + x] = at(f, x, y);
    };
    return recipe;
}

std::string write_video(const std::string& path, const video_recipe& recipe) {
    AVFormatContext* raw = nullptr;
    int ret = avformat_alloc_output_context2(&raw, nullptr, "matroska", path.c_str());
    output_ptr oc(raw);
    if (ret < 0 || !oc) return av_error("output context", ret);

    const char* encoder_name = recipe.codec == video_codec::ffv1        ? "ffv1"
                               : recipe.codec == video_codec::mpeg4_gop ? "mpeg4"
                                                                        : "libx264";
    const AVCodec* codec = avcodec_find_encoder_by_name(encoder_name);
    if (!codec) return std::string("no encoder ") + encoder_name;
    AVPixelFormat pix_fmt = av_get_pix_fmt(recipe.pix_fmt.c_str());
    if (pix_fmt == AV_PIX_FMT_NONE) return "unknown pixel format " + recipe.pix_fmt;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(pix_fmt);

    AVStream* stream = avformat_new_stream(oc.get(), nullptr);
    codec_ptr ctx(avcodec_alloc_context3(codec));
    if (!stream || !ctx) return "out of memory";
    ctx->width = recipe.width;
    ctx->height = recipe.height;
    ctx->pix_fmt = pix_fmt;
    ctx->time_base = AVRational{1, recipe.fps};
    ctx->framerate = AVRational{recipe.fps, 1};
    ctx->thread_count = 1;
    if (recipe.codec == video_codec::ffv1) {
        ctx->gop_size = 1;
    } else if (recipe.codec == video_codec::mpeg4_gop) {
        ctx->gop_size = recipe.gop;
        ctx->max_b_frames = 0;
        ctx->flags |= AV_CODEC_FLAG_QSCALE;
        ctx->global_quality = FF_QP2LAMBDA * 2;
    } else {
        ctx->gop_size = recipe.gop;
        ctx->max_b_frames = 2;
        av_opt_set(ctx->priv_data, "preset", "veryfast", 0);
        av_opt_set(ctx->priv_data, "crf", "12", 0);
        std::string params = "keyint=" + std::to_string(recipe.gop) +
                             ":min-keyint=" + std::to_string(recipe.gop) +
                             ":scenecut=0:bframes=2:b-pyramid=none:threads=1";
        av_opt_set(ctx->priv_data, "x264-params", params.c_str(), 0);
    }
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if ((ret = avcodec_open2(ctx.get(), codec, nullptr)) < 0) return av_error("open encoder", ret);
    avcodec_parameters_from_context(stream->codecpar, ctx.get());
    stream->time_base = ctx->time_base;

    // Optional silent audio, one packet per video frame, to interleave another stream.
    AVStream* audio_stream = nullptr;
    codec_ptr audio;
    if (recipe.with_audio) {
        std::string error = add_audio(oc.get(), audio, audio_stream);
        if (!error.empty()) return error;
    }

    if ((ret = avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE)) < 0)
        return av_error("open file", ret);
    if ((ret = avformat_write_header(oc.get(), nullptr)) < 0) return av_error("header", ret);

    frame_ptr frame(av_frame_alloc());
    packet_ptr pkt(av_packet_alloc());
    if (!frame || !pkt) return "out of memory";
    frame->format = pix_fmt;
    frame->width = recipe.width;
    frame->height = recipe.height;
    if ((ret = av_frame_get_buffer(frame.get(), 0)) < 0) return av_error("frame buffer", ret);

    const int depth = desc->comp[0].depth;
    std::vector<uint8_t> luma(static_cast<size_t>(recipe.width) * recipe.height);
    for (int i = 0; i < recipe.frames; ++i) {
        if ((ret = av_frame_make_writable(frame.get())) < 0) return av_error("writable", ret);
        std::fill(luma.begin(), luma.end(), 128);
        if (recipe.luma) recipe.luma(i, luma.data(), recipe.width);
        for (int y = 0; y < recipe.height; ++y) {
            const uint8_t* src = luma.data() + static_cast<size_t>(y) * recipe.width;
            if (depth <= 8) {
                memcpy(frame->data[0] + y * frame->linesize[0], src, recipe.width);
            } else {
                uint16_t* dst =
                    reinterpret_cast<uint16_t*>(frame->data[0] + y * frame->linesize[0]);
                for (int x = 0; x < recipe.width; ++x)
                    dst[x] = static_cast<uint16_t>(src[x] << (depth - 8));
            }
        }
        for (int plane = 1; plane < 3 && desc->nb_components >= 3; ++plane) {
            int ch = AV_CEIL_RSHIFT(recipe.height, desc->log2_chroma_h);
            int cw = AV_CEIL_RSHIFT(recipe.width, desc->log2_chroma_w);
            for (int y = 0; y < ch; ++y) {
                uint8_t* row = frame->data[plane] + y * frame->linesize[plane];
                if (depth <= 8) {
                    memset(row, 128, cw);
                } else {
                    uint16_t* dst = reinterpret_cast<uint16_t*>(row);
                    for (int x = 0; x < cw; ++x)
                        dst[x] = static_cast<uint16_t>(128 << (depth - 8));
                }
            }
        }
        frame->pts = i;
        if ((ret = encode(ctx.get(), frame.get(), oc.get(), stream, pkt.get())) < 0)
            return av_error("encode", ret);
        if (audio) {
            const int count = 8000 / recipe.fps;
            std::string error = write_silence(audio.get(), static_cast<int64_t>(i) * count, count,
                                              oc.get(), audio_stream, pkt.get());
            if (!error.empty()) return error;
        }
    }
    if ((ret = encode(ctx.get(), nullptr, oc.get(), stream, pkt.get())) < 0)
        return av_error("flush", ret);
    if (audio && (ret = encode(audio.get(), nullptr, oc.get(), audio_stream, pkt.get())) < 0)
        return av_error("flush audio", ret);
    if ((ret = av_write_trailer(oc.get())) < 0) return av_error("trailer", ret);
    return "";
}

std::string write_audio_only(const std::string& path, double seconds) {
    AVFormatContext* raw = nullptr;
    int ret = avformat_alloc_output_context2(&raw, nullptr, "matroska", path.c_str());
    output_ptr oc(raw);
    if (ret < 0 || !oc) return av_error("output context", ret);
    codec_ptr audio;
    AVStream* stream = nullptr;
    std::string error = add_audio(oc.get(), audio, stream);
    if (!error.empty()) return error;
    if ((ret = avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE)) < 0)
        return av_error("open file", ret);
    if ((ret = avformat_write_header(oc.get(), nullptr)) < 0) return av_error("header", ret);
    packet_ptr pkt(av_packet_alloc());
    if (!pkt) return "out of memory";
    const int chunks = static_cast<int>(seconds * 10);
    for (int i = 0; i < chunks && error.empty(); ++i)
        error = write_silence(audio.get(), static_cast<int64_t>(i) * 800, 800, oc.get(), stream,
                              pkt.get());
    if (!error.empty()) return error;
    if ((ret = encode(audio.get(), nullptr, oc.get(), stream, pkt.get())) < 0)
        return av_error("flush", ret);
    if ((ret = av_write_trailer(oc.get())) < 0) return av_error("trailer", ret);
    return "";
}

// ---- Running the tool ------------------------------------------------------------

namespace {

run_result run_argv(const std::vector<std::string>& args, const std::string& cwd,
                    int timeout_seconds) {
    run_result result;
    std::filesystem::create_directories(cwd);
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return result;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, out_pipe[0]);
    posix_spawn_file_actions_addclose(&actions, err_pipe[0]);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);

    // posix_spawn has no portable chdir action in glibc 2.36; change it around the call.
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    char old_dir[4096];
    if (!getcwd(old_dir, sizeof old_dir)) old_dir[0] = 0;
    pid_t pid = -1;
    int spawned = -1;
    if (chdir(cwd.c_str()) == 0) {
        spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        if (old_dir[0] && chdir(old_dir) != 0) spawned = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (spawned != 0) {
        close(out_pipe[0]);
        close(err_pipe[0]);
        return result;
    }

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    bool killed = false;
    while (open_count > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        if (poll(fds, 2, static_cast<int>(std::min<long long>(left, 1000))) < 0) break;
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[65536];
            ssize_t n = read(fds[k].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[k]->append(buffer, static_cast<size_t>(n));
            } else {
                close(fds[k].fd);
                fds[k].fd = -1;
                --open_count;
            }
        }
    }
    for (pollfd& f : fds)
        if (f.fd >= 0) close(f.fd);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace

run_result run_delogo(const std::vector<std::string>& args, const std::string& cwd) {
    return run_delogo(args, cwd, 300);
}

run_result run_delogo(const std::vector<std::string>& args, const std::string& cwd,
                      int timeout_seconds) {
    std::vector<std::string> argv{DELOGO_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_argv(argv, cwd, timeout_seconds);
}

run_result run_command(const std::string& command, const std::string& cwd) {
    return run_argv({"/bin/sh", "-c", command}, cwd, 300);
}

std::string fresh_dir(const std::string& name) {
    std::filesystem::path dir = std::filesystem::path(TEST_WORK_DIR) / name;
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::filesystem::create_directories(dir);
    return dir.string();
}

std::vector<std::string> lines_starting(const std::string& text, const std::string& prefix) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
        pos = end + 1;
    }
    return lines;
}
