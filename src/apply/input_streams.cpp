// INPUT's streams through libavformat, and the first frame of its video through libavcodec.
#include "apply/input_streams.h"

#include "video/av_ptr.h"

namespace {

// The field order of the first frame the stream's decoder gives, AV_FIELD_UNKNOWN when it
// gives none within a few hundred packets.
AVFieldOrder first_frame_fields(AVFormatContext* fmt, int index, const AVCodec* decoder) {
    codec_ptr dec(avcodec_alloc_context3(decoder));
    if (!dec || avcodec_parameters_to_context(dec.get(), fmt->streams[index]->codecpar) < 0)
        return AV_FIELD_UNKNOWN;
    dec->max_pixels = max_frame_pixels;
    dec->thread_count = 1;
    packet_ptr packet(av_packet_alloc());
    frame_ptr frame(av_frame_alloc());
    if (!packet || !frame || avcodec_open2(dec.get(), decoder, nullptr) < 0)
        return AV_FIELD_UNKNOWN;
    for (int read = 0; read < 500 && av_read_frame(fmt, packet.get()) >= 0; ++read) {
        const bool ours = packet->stream_index == index;
        const int sent = ours ? avcodec_send_packet(dec.get(), packet.get()) : -1;
        av_packet_unref(packet.get());
        if (sent < 0 || avcodec_receive_frame(dec.get(), frame.get()) < 0) continue;
        const bool interlaced = is_interlaced(frame.get());
        const bool top_first = is_top_field_first(frame.get());
        return !interlaced ? AV_FIELD_PROGRESSIVE : top_first ? AV_FIELD_TT : AV_FIELD_BB;
    }
    return AV_FIELD_UNKNOWN;
}

} // namespace

std::string read_input_streams(const std::string& path, std::vector<input_stream>& out,
                               int64_t* start_us) {
    out.clear();
    // The probe's warnings would come before the analysis says anything; the analysis
    // opens the same file and tells what is wrong with it.
    const int level = av_log_get_level();
    av_log_set_level(AV_LOG_QUIET);
    AVFormatContext* opened = nullptr;
    int ret = avformat_open_input(&opened, path.c_str(), nullptr, nullptr);
    input_ptr fmt(opened);
    if (ret >= 0) ret = avformat_find_stream_info(fmt.get(), nullptr);
    const_codec decoder = nullptr;
    const int video =
        ret < 0 ? -1 : av_find_best_stream(fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    const AVFieldOrder fields =
        video >= 0 ? first_frame_fields(fmt.get(), video, decoder) : AV_FIELD_UNKNOWN;
    av_log_set_level(level);
    if (ret < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {0};
        av_strerror(ret, text, sizeof text);
        return text;
    }
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream* st = fmt->streams[i];
        input_stream s;
        s.index = static_cast<int>(i);
        s.type = st->codecpar->codec_type;
        s.codec = st->codecpar->codec_id;
        s.cover = (st->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
        if (s.type == AVMEDIA_TYPE_VIDEO) {
            s.pix_fmt = static_cast<AVPixelFormat>(st->codecpar->format);
            s.range = st->codecpar->color_range;
            s.matrix = st->codecpar->color_space;
            s.primaries = st->codecpar->color_primaries;
            s.transfer = st->codecpar->color_trc;
            if (const int32_t* m = display_matrix_of(st)) s.display_matrix.assign(m, m + 9);
            const AVRational guess = av_guess_frame_rate(fmt.get(), const_cast<AVStream*>(st), nullptr);
            if (guess.num > 0 && guess.den > 0)
                s.frame_rate = guess;
            else if (st->r_frame_rate.num > 0 && st->r_frame_rate.den > 0)
                s.frame_rate = st->r_frame_rate;
        }
        if (s.index == video) s.field_order = fields;
        s.jumps = (fmt->iformat->flags & AVFMT_TS_DISCONT) != 0;
        out.push_back(s);
    }
    if (start_us) *start_us = fmt->start_time == AV_NOPTS_VALUE ? 0 : fmt->start_time;
    return "";
}
