// Independent picture decoding for the tests: FFmpeg's own PNG and PCX decoders, plus a
// few structural checks the decoders are lenient about (truncated PNG, stray PCX bytes).
#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include "av_ptr.h"
#include "helpers.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

namespace {

// The PCX decoder warns about the resolution fields of every small picture; keep the
// test logs to errors while decoding.
struct quiet_log {
    int previous = av_log_get_level();
    quiet_log() {
        if (previous > AV_LOG_ERROR) av_log_set_level(AV_LOG_ERROR);
    }
    ~quiet_log() { av_log_set_level(previous); }
};

std::string av_error_text(const char* what, int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return std::string(what) + ": " + text;
}

std::string lower_extension(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos) return "";
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

// FFmpeg decodes a PNG cut short after its image data; a complete file ends with IEND.
std::string check_png_end(const std::vector<uint8_t>& data) {
    static const uint8_t iend[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    if (data.size() < 8 + 12 || memcmp(data.data() + data.size() - 12, iend, 12) != 0)
        return "PNG does not end with an IEND chunk";
    return "";
}

// FFmpeg clips runs at the end of a scan line and ignores what follows the rows; a sound
// file has runs that end with their line, and after the last line either nothing or the
// 769-byte palette trailer.
std::string check_pcx_stream(const std::vector<uint8_t>& data) {
    if (data.size() < 128) return "PCX shorter than its header";
    const auto u16 = [&](size_t at) { return data[at] | data[at + 1] << 8; };
    if (u16(10) < u16(6)) return "PCX y max below y min";
    const size_t height = static_cast<size_t>(u16(10) - u16(6) + 1);
    const size_t line = static_cast<size_t>(data[65]) * static_cast<size_t>(u16(66));
    if (line == 0) return "PCX scan line of 0 bytes";
    size_t at = 128;
    for (size_t y = 0; y < height; ++y) {
        size_t filled = 0;
        while (filled < line) {
            if (at >= data.size()) return "PCX data ends inside row " + std::to_string(y);
            size_t run = 1;
            if (data[at] >= 0xC0) {
                run = data[at] & 0x3F;
                ++at;
                if (at >= data.size()) return "PCX data ends inside a run";
            }
            ++at;
            filled += run;
        }
        if (filled != line) return "PCX run crosses the end of row " + std::to_string(y);
    }
    const size_t rest = data.size() - at;
    if (rest == 0) return "";
    if (rest == 769 && data[at] == 0x0C) return "";
    return "PCX has " + std::to_string(rest) + " unexpected bytes after its rows";
}

} // namespace

std::string decode_image_file(const std::string& path, decoded_image& out) {
    out = decoded_image{};
    const std::string ext = lower_extension(path);
    AVCodecID id = AV_CODEC_ID_NONE;
    if (ext == ".png") id = AV_CODEC_ID_PNG;
    if (ext == ".pcx") id = AV_CODEC_ID_PCX;
    if (id == AV_CODEC_ID_NONE) return "not a .png or .pcx file: " + path;

    std::ifstream in(path, std::ios::binary);
    if (!in) return "cannot open " + path;
    const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (data.empty()) return "empty file " + path;
    const std::string structure =
        id == AV_CODEC_ID_PNG ? check_png_end(data) : check_pcx_stream(data);
    if (!structure.empty()) return structure;

    const quiet_log quiet;
    const AVCodec* codec = avcodec_find_decoder(id);
    if (!codec) return "no decoder for " + ext;
    codec_ptr ctx(avcodec_alloc_context3(codec));
    if (!ctx) return "cannot allocate the decoder context";
    ctx->thread_count = 1;
    int ret = avcodec_open2(ctx.get(), codec, nullptr);
    if (ret < 0) return av_error_text("avcodec_open2", ret);

    packet_ptr packet(av_packet_alloc());
    frame_ptr frame(av_frame_alloc());
    if (!packet || !frame) return "cannot allocate packet or frame";
    ret = av_new_packet(packet.get(), static_cast<int>(data.size()));
    if (ret < 0) return av_error_text("av_new_packet", ret);
    memcpy(packet->data, data.data(), data.size());
    packet->flags |= AV_PKT_FLAG_KEY;

    ret = avcodec_send_packet(ctx.get(), packet.get());
    if (ret < 0) return av_error_text("avcodec_send_packet", ret);
    ret = avcodec_receive_frame(ctx.get(), frame.get());
    if (ret == AVERROR(EAGAIN)) {
        // A decoder that holds the frame back gives it up on the flush.
        ret = avcodec_send_packet(ctx.get(), nullptr);
        if (ret < 0) return av_error_text("avcodec_send_packet (flush)", ret);
        ret = avcodec_receive_frame(ctx.get(), frame.get());
    }
    if (ret < 0) return av_error_text("avcodec_receive_frame", ret);
    if (frame->width <= 0 || frame->height <= 0) return "decoded picture has no pixels";

    const auto format = static_cast<AVPixelFormat>(frame->format);
    if (format != AV_PIX_FMT_PAL8 && format != AV_PIX_FMT_GRAY8) {
        const char* name = av_get_pix_fmt_name(format);
        return std::string("unexpected pixel format ") + (name ? name : "?");
    }
    out.width = frame->width;
    out.height = frame->height;
    out.gray = format == AV_PIX_FMT_GRAY8;
    out.index.resize(static_cast<size_t>(out.width) * static_cast<size_t>(out.height));
    for (int y = 0; y < out.height; ++y)
        memcpy(out.index.data() + static_cast<size_t>(y) * out.width,
               frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0], out.width);
    if (!out.gray) {
        out.palette.resize(256);
        const uint8_t* pal = frame->data[1];
        for (int i = 0; i < 256; ++i) {
            uint32_t argb;
            memcpy(&argb, pal + 4 * i, 4); // native-endian 0xAARRGGBB
            out.palette[i] = argb & 0xFFFFFF;
        }
    }
    return "";
}
