// The stream plan: what OUTPUT's muxer holds, asked of libavformat.
#include "apply/stream_plan.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
}

const AVOutputFormat* output_muxer(const std::string& output, const std::string& format_name) {
    if (!format_name.empty()) return av_guess_format(format_name.c_str(), nullptr, nullptr);
    return av_guess_format(nullptr, output.c_str(), nullptr);
}

int muxer_holds(const AVOutputFormat* muxer, AVCodecID codec) {
    const int answer = avformat_query_codec(muxer, codec, FF_COMPLIANCE_NORMAL);
    if (answer >= 0) return answer > 0 ? 1 : 0;
    if (strcmp(muxer->name, "mpegts") != 0) return -1;
    // The codecs FFmpeg's MPEG-TS muxer gives a stream type or descriptor of their own.
    static const AVCodecID identified[] = {
        AV_CODEC_ID_MPEG1VIDEO,   AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_MPEG4,
        AV_CODEC_ID_H264,         AV_CODEC_ID_HEVC,       AV_CODEC_ID_CAVS,
        AV_CODEC_ID_AVS2,         AV_CODEC_ID_AVS3,       AV_CODEC_ID_DIRAC,
        AV_CODEC_ID_VC1,          AV_CODEC_ID_MP2,        AV_CODEC_ID_MP3,
        AV_CODEC_ID_AAC,          AV_CODEC_ID_AAC_LATM,   AV_CODEC_ID_AC3,
        AV_CODEC_ID_EAC3,         AV_CODEC_ID_DTS,        AV_CODEC_ID_TRUEHD,
        AV_CODEC_ID_OPUS,         AV_CODEC_ID_S302M,      AV_CODEC_ID_DVB_SUBTITLE,
        AV_CODEC_ID_DVB_TELETEXT, AV_CODEC_ID_SMPTE_KLV,  AV_CODEC_ID_TIMED_ID3};
    for (const AVCodecID id : identified)
        if (id == codec) return 1;
    return 0;
}

namespace {

const char* kind_of(AVMediaType type) {
    switch (type) {
    case AVMEDIA_TYPE_VIDEO:
        return "video";
    case AVMEDIA_TYPE_AUDIO:
        return "audio";
    case AVMEDIA_TYPE_SUBTITLE:
        return "subtitle";
    case AVMEDIA_TYPE_ATTACHMENT:
        return "attachment";
    case AVMEDIA_TYPE_DATA:
        return "data";
    default:
        return "unknown";
    }
}

// An encoder of `codec` that the muxer holds, or nullptr. The one named after the codec
// first: FFmpeg keeps older aliases ("ssa", "srt") that would name the result wrongly.
const AVCodec* held_encoder(const AVOutputFormat* muxer, AVCodecID codec) {
    if (codec == AV_CODEC_ID_NONE || muxer_holds(muxer, codec) != 1) return nullptr;
    const AVCodec* named = avcodec_find_encoder_by_name(avcodec_get_name(codec));
    return named && named->id == codec ? named : avcodec_find_encoder(codec);
}

bool is_text_subtitle(AVCodecID codec) {
    const AVCodecDescriptor* d = avcodec_descriptor_get(codec);
    return d && (d->props & AV_CODEC_PROP_TEXT_SUB) && avcodec_find_decoder(codec);
}

// What becomes of one stream that is not the analysed video; `why` explains a change.
planned_stream plan_one(const input_stream& s, const AVOutputFormat* muxer, std::string& why) {
    planned_stream p;
    p.index = s.index;
    const int held = muxer_holds(muxer, s.codec);
    const std::string holds_not =
        std::string(muxer->name) + " does not hold " + avcodec_get_name(s.codec);
    switch (s.type) {
    case AVMEDIA_TYPE_AUDIO:
        // Copied unless the muxer is known to refuse it: sound is never dropped lightly.
        if (held != 0) {
            p.use = stream_use::copy;
        } else if (const AVCodec* e = held_encoder(muxer, muxer->audio_codec)) {
            p.use = stream_use::convert;
            p.encoder = e->name;
            why = holds_not;
        } else {
            why = holds_not + " and has no default audio format";
        }
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        if (held == 1) {
            p.use = stream_use::copy;
            break;
        }
        why = holds_not;
        if (!is_text_subtitle(s.codec)) break;
        for (const AVCodecID target : {muxer->subtitle_codec, AV_CODEC_ID_SUBRIP,
                                       AV_CODEC_ID_MOV_TEXT, AV_CODEC_ID_ASS, AV_CODEC_ID_WEBVTT}) {
            const AVCodec* e = is_text_subtitle(target) ? held_encoder(muxer, target) : nullptr;
            if (!e) continue;
            p.use = stream_use::convert;
            p.encoder = e->name;
            break;
        }
        if (p.use == stream_use::leave_out) why += " nor any text subtitle format";
        break;
    case AVMEDIA_TYPE_ATTACHMENT:
        // Matroska writes attachments (fonts above all) as files, whatever their codec.
        if (held == 1 || strcmp(muxer->name, "matroska") == 0)
            p.use = stream_use::copy;
        else
            why = holds_not;
        break;
    case AVMEDIA_TYPE_DATA:
        if (held == 1)
            p.use = stream_use::copy;
        else
            why = holds_not;
        break;
    case AVMEDIA_TYPE_VIDEO:
        why = s.cover ? "a cover picture is not cleaned" : "only the analysed video is cleaned";
        break;
    default:
        why = "its kind is unknown";
        break;
    }
    return p;
}

} // namespace

stream_plan plan_streams(const std::vector<input_stream>& streams, int video,
                         const AVOutputFormat* muxer) {
    stream_plan plan;
    for (const input_stream& s : streams) {
        if (s.index == video) continue;
        std::string why;
        const planned_stream p = plan_one(s, muxer, why);
        plan.streams.push_back(p);
        std::string name = std::string(kind_of(s.type)) + " stream " + std::to_string(s.index) +
                           " (" + avcodec_get_name(s.codec) + ")";
        if (p.use == stream_use::convert)
            plan.notes.push_back(name + " converted to " + p.encoder + ": " + why);
        else if (p.use == stream_use::leave_out)
            plan.notes.push_back(name + " left out: " + why);
    }
    return plan;
}

std::vector<std::string> stream_arguments(int video, const stream_plan& plan) {
    std::vector<std::string> a{"-map", "0:" + std::to_string(video)};
    std::vector<std::string> codecs;
    int output = 1;
    for (const planned_stream& p : plan.streams) {
        if (p.use == stream_use::leave_out) continue;
        a.insert(a.end(), {"-map", "0:" + std::to_string(p.index)});
        codecs.insert(codecs.end(), {"-c:" + std::to_string(output++),
                                     p.use == stream_use::copy ? "copy" : p.encoder});
    }
    a.insert(a.end(), codecs.begin(), codecs.end());
    return a;
}
