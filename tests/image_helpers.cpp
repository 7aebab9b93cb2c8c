// Independent picture decoding for the tests and fuzz targets: FFmpeg's own PNG and PCX
// decoders, after the structural checks they are lenient about (a PNG cut short after its
// image data, PCX runs crossing a scan line or stray bytes after the rows).
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "video/av_ptr.h"
#include "helpers.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

namespace {

std::string check_structure(const std::vector<uint8_t>& data, bool png) {
    if (png) {
        static const uint8_t iend[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
        const bool ends = data.size() >= 20 && !memcmp(&data[data.size() - 12], iend, 12);
        return ends ? "" : "PNG does not end with an IEND chunk";
    }
    if (data.size() < 128) return "PCX shorter than its header";
    const auto u16 = [&](size_t at) { return data[at] | data[at + 1] << 8; };
    const size_t line = static_cast<size_t>(data[65]) * u16(66);
    if (u16(10) < u16(6) || line == 0) return "PCX of no rows or an empty scan line";
    size_t at = 128;
    for (int y = 0; y <= u16(10) - u16(6); ++y) {
        size_t filled = 0;
        while (filled < line) {
            const size_t run = data.at(at) >= 0xC0 ? data[at++] & 0x3F : 1;
            if (++at > data.size()) return "PCX data ends inside row " + std::to_string(y);
            filled += run;
        }
        if (filled != line) return "PCX run crosses the end of row " + std::to_string(y);
    }
    const size_t rest = data.size() - at;
    return rest == 0 || (rest == 769 && data[at] == 0x0C) ? "" : "PCX bytes after its rows";
}

} // namespace

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string decode_image_file(const std::string& path, decoded_image& out) {
    out = decoded_image{};
    const std::string ext = path.size() > 4 ? path.substr(path.size() - 4) : "";
    if (ext != ".png" && ext != ".pcx") return "not a .png or .pcx file: " + path;
    const std::string text = read_file(path);
    const std::vector<uint8_t> data(text.begin(), text.end());
    if (data.empty()) return "empty or missing file " + path;
    std::string error;
    try {
        error = check_structure(data, ext == ".png");
    } catch (const std::out_of_range&) {
        error = "PCX data ends inside a run";
    }
    if (!error.empty()) return error;

    // The PCX decoder warns about the resolution fields of every small picture.
    const int level = av_log_get_level();
    av_log_set_level(AV_LOG_ERROR);
    const AVCodec* codec = avcodec_find_decoder(ext == ".png" ? AV_CODEC_ID_PNG : AV_CODEC_ID_PCX);
    codec_ptr ctx(avcodec_alloc_context3(codec));
    packet_ptr packet(av_packet_alloc());
    frame_ptr frame(av_frame_alloc());
    int ret = !ctx || !packet || !frame ? -1 : avcodec_open2(ctx.get(), codec, nullptr);
    if (ret >= 0) ret = av_new_packet(packet.get(), static_cast<int>(data.size()));
    if (ret >= 0) {
        memcpy(packet->data, data.data(), data.size());
        ret = avcodec_send_packet(ctx.get(), packet.get());
    }
    if (ret >= 0) ret = avcodec_send_packet(ctx.get(), nullptr); // the flush gives it up
    if (ret >= 0) ret = avcodec_receive_frame(ctx.get(), frame.get());
    av_log_set_level(level);
    if (ret < 0) return "FFmpeg cannot decode " + path;
    if (frame->format != AV_PIX_FMT_PAL8 && frame->format != AV_PIX_FMT_GRAY8)
        return "unexpected pixel format";
    out.width = frame->width;
    out.height = frame->height;
    out.gray = frame->format == AV_PIX_FMT_GRAY8;
    for (int y = 0; y < out.height; ++y)
        out.index.insert(out.index.end(), frame->data[0] + y * frame->linesize[0],
                         frame->data[0] + y * frame->linesize[0] + out.width);
    for (int i = 0; i < 256 && !out.gray; ++i) {
        uint32_t argb;
        memcpy(&argb, frame->data[1] + 4 * i, 4); // native-endian 0xAARRGGBB
        out.palette.push_back(argb & 0xFFFFFF);
    }
    return "";
}
