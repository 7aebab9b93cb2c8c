// NUT in, NUT out, through AVIOContexts of our own on the descriptors we are given.
#include "video/nut_pipe.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace {

std::string av_text(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, text, sizeof text);
    return text;
}

// The buffer of small reads and writes (headers, audio). A raw picture is larger: it is
// read straight into its packet and written straight from it, never copied in pieces.
constexpr int io_buffer_size = 1 << 20;

int read_fd(void* opaque, uint8_t* buffer, int size) {
    const int fd = static_cast<nut_input*>(opaque)->fd;
    for (;;) {
        const ssize_t n = read(fd, buffer, size_t(size));
        if (n > 0) return int(n);
        if (n == 0) return AVERROR_EOF;
        if (errno != EINTR) return AVERROR(errno);
    }
}

int write_fd(void* opaque, avio_written buffer, int size) {
    nut_output& out = *static_cast<nut_output*>(opaque);
    int done = 0;
    while (done < size) {
        const ssize_t n = write(out.fd, buffer + done, size_t(size - done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EPIPE) out.reader_gone = true;
        if (n < 0) return AVERROR(errno);
        done += int(n);
    }
    return size;
}

av_bytes_io make_io(void* opaque, bool writing) {
    uint8_t* buffer = static_cast<uint8_t*>(av_malloc(io_buffer_size));
    if (!buffer) return nullptr;
    AVIOContext* io = avio_alloc_context(buffer, io_buffer_size, writing ? 1 : 0, opaque,
                                         writing ? nullptr : read_fd,
                                         writing ? write_fd : nullptr, nullptr);
    if (!io) {
        av_free(buffer);
        return nullptr;
    }
    io->direct = 1; // large packets bypass the buffer
    return av_bytes_io(io);
}

} // namespace

std::string open_nut_input(int fd, nut_input& in) {
    const AVInputFormat* nut = av_find_input_format("nut");
    if (!nut) return "this FFmpeg has no NUT demuxer";
    in.fd = fd;
    in.io = make_io(&in, false);
    if (!in.io) return av_text(AVERROR(ENOMEM));
    AVFormatContext* c = avformat_alloc_context();
    if (!c) return av_text(AVERROR(ENOMEM));
    c->pb = in.io.get();
    c->flags |= AVFMT_FLAG_CUSTOM_IO;
    // The header tells every stream's codec parameters: nothing to probe, and no raw
    // picture buffered for probing.
    int ret = avformat_open_input(&c, nullptr, nut, nullptr);
    if (ret < 0) return av_text(ret);
    in.format.reset(c);
    // NUT names a raw picture's layout by a codec tag; the raw video decoder's own table
    // turns it into the pixel format, as probing would after decoding a picture.
    for (unsigned k = 0; k < c->nb_streams; ++k) {
        AVCodecParameters* p = c->streams[k]->codecpar;
        if (p->codec_id != AV_CODEC_ID_RAWVIDEO || p->format >= 0) continue;
        const AVCodec* raw = avcodec_find_decoder(AV_CODEC_ID_RAWVIDEO);
        codec_ptr dec(raw ? avcodec_alloc_context3(raw) : nullptr);
        if (!dec) return av_text(AVERROR(ENOMEM));
        if ((ret = avcodec_parameters_to_context(dec.get(), p)) < 0 ||
            (ret = avcodec_open2(dec.get(), raw, nullptr)) < 0)
            return av_text(ret);
        p->format = dec->pix_fmt;
    }
    return "";
}

int read_nut_packet(nut_input& in, AVPacket* packet, std::string& error) {
    const int ret = av_read_frame(in.format.get(), packet);
    if (ret == AVERROR_EOF) return 0;
    if (ret < 0) {
        error = "reading the frames: " + av_text(ret);
        return -1;
    }
    return 1;
}

nut_output::~nut_output() {
    if (fd >= 0) close(fd);
}

std::string open_nut_output(const nut_input& in, int64_t chapter_shift_us, nut_output& out) {
    AVFormatContext* raw = nullptr;
    int ret = avformat_alloc_output_context2(&raw, nullptr, "nut", nullptr);
    if (ret < 0) return av_text(ret);
    out.format.reset(raw);
    const AVFormatContext* source = in.format.get();
    for (unsigned k = 0; k < source->nb_streams; ++k) {
        const AVStream* from = source->streams[k];
        AVStream* st = avformat_new_stream(raw, nullptr);
        if (!st) return av_text(AVERROR(ENOMEM));
        if ((ret = avcodec_parameters_copy(st->codecpar, from->codecpar)) < 0) return av_text(ret);
        st->time_base = from->time_base;
        st->sample_aspect_ratio = from->sample_aspect_ratio;
        st->disposition = from->disposition;
        av_dict_copy(&st->metadata, from->metadata, 0);
    }
    // The file's own metadata and chapters, which the decoding ffmpeg put into the NUT
    // (the muxer frees what the context holds).
    av_dict_copy(&raw->metadata, source->metadata, 0);
    if (source->nb_chapters > 0) {
        raw->chapters =
            static_cast<AVChapter**>(av_calloc(source->nb_chapters, sizeof(AVChapter*)));
        if (!raw->chapters) return av_text(AVERROR(ENOMEM));
        for (unsigned k = 0; k < source->nb_chapters; ++k) {
            const AVChapter* from = source->chapters[k];
            AVChapter* c = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
            if (!c) return av_text(AVERROR(ENOMEM));
            raw->chapters[raw->nb_chapters++] = c;
            c->id = from->id;
            c->time_base = from->time_base;
            const int64_t shift = av_rescale_q(chapter_shift_us, AV_TIME_BASE_Q, from->time_base);
            c->start = from->start + shift;
            c->end = from->end + shift;
            av_dict_copy(&c->metadata, from->metadata, 0);
        }
    }
    out.io = make_io(&out, true);
    if (!out.io) return av_text(AVERROR(ENOMEM));
    raw->pb = out.io.get();
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    if ((ret = avformat_write_header(raw, nullptr)) < 0) return av_text(ret);
    return "";
}

std::string write_nut_packet(const nut_input& in, nut_output& out, AVPacket* packet) {
    const int k = packet->stream_index;
    av_packet_rescale_ts(packet, in.format->streams[k]->time_base,
                         out.format->streams[k]->time_base);
    packet->pos = -1;
    const int ret = av_write_frame(out.format.get(), packet);
    av_packet_unref(packet);
    return ret < 0 ? "writing the frames: " + av_text(ret) : "";
}

std::string close_nut_output(nut_output& out) {
    std::string error;
    if (out.format && out.format->pb) {
        const int ret = av_write_trailer(out.format.get());
        if (ret < 0) error = "writing the frames: " + av_text(ret);
        avio_flush(out.format->pb);
        if (out.format->pb->error < 0 && error.empty())
            error = "writing the frames: " + av_text(out.format->pb->error);
    }
    if (out.fd >= 0) close(out.fd);
    out.fd = -1;
    return error;
}

frame_layout layout_for(int format, int width, int height) {
    frame_layout l;
    l.width = width;
    l.height = height;
    l.format = format;
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    if (d) {
        l.depth = d->comp[0].depth;
        l.planes = av_pix_fmt_count_planes(static_cast<AVPixelFormat>(format));
        l.shift_x = d->log2_chroma_w;
        l.shift_y = d->log2_chroma_h;
        l.bytes = av_image_get_buffer_size(static_cast<AVPixelFormat>(format), width, height, 1);
    }
    return l;
}

frame_layout layout_of(const nut_input& in, int index) {
    const AVCodecParameters* p = in.format->streams[index]->codecpar;
    if (p->codec_type != AVMEDIA_TYPE_VIDEO || p->codec_id != AV_CODEC_ID_RAWVIDEO) return {};
    return layout_for(p->format, p->width, p->height);
}

void picture_planes(const frame_layout& l, uint8_t* data, uint8_t* planes[4], int strides[4]) {
    av_image_fill_arrays(planes, strides, data, static_cast<AVPixelFormat>(l.format), l.width,
                         l.height, 1);
}
