// What delogo-apply needs to know of INPUT's streams before it plans the output: each
// stream's kind and codec, and the video stream's pixel format and field order, read with
// libavformat and libavcodec on an opening of its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

// One stream of INPUT.
struct input_stream {
    int index = -1; // in the container
    AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
    AVCodecID codec = AV_CODEC_ID_NONE;
    bool cover = false;                      // a still picture stored as a video stream
    AVPixelFormat pix_fmt = AV_PIX_FMT_NONE; // video: the decoder's pixel format
    // Video: AV_FIELD_TT or AV_FIELD_BB for interlaced frames (top or bottom field first),
    // AV_FIELD_PROGRESSIVE, or AV_FIELD_UNKNOWN.
    AVFieldOrder field_order = AV_FIELD_UNKNOWN;
    // Video: how its colours are to be read, as the container or the codec tells.
    AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
    AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
    AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
    // Video: the display matrix of the stream (9 values), empty when it has none.
    std::vector<int32_t> display_matrix;
    // Video: the frame rate ffmpeg assumes when it encodes the stream (its guess from the
    // container and the codec; 25 when it has none): the encoder's time base is its inverse.
    AVRational frame_rate{25, 1};
    // The file's format: whether its timestamps may jump (MPEG-TS): ffmpeg mends them from
    // the audio and video, so a stream whose times depend on that must be read with them.
    bool jumps = false;
};

// The streams of `path` in container order, probed as FFmpeg probes them
// (avformat_find_stream_info). The field order of the video stream FFmpeg picks as best
// is that of its first decoded frame: the stream's own flag is not to be trusted (H.264
// reports a bottom-field-first stream as top field first). "" or why the file cannot be
// read; FFmpeg's own messages are kept quiet, the analysis that follows reports them.
// `start_us` (when given) receives the file's start as ffmpeg computes it, microseconds.
std::string read_input_streams(const std::string& path, std::vector<input_stream>& out,
                               int64_t* start_us = nullptr);
