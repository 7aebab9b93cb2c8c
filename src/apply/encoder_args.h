// The video encoder's ffmpeg arguments: x264 by default at the input's bit depth and
// chroma layout where x264 takes them, interlaced coding for interlaced input, and the
// user's own words after "--", which have the last say.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/codec_par.h>
#include <libavutil/pixfmt.h>
}

// The value of the last occurrence of any of `names` among `words` ("" when none).
std::string word_after(const std::vector<std::string>& words,
                       std::initializer_list<const char*> names);

// The pixel format libx264 encodes `input` in: `input` itself when libx264 lists it,
// else the list's least lossy format for it (a 12-bit picture becomes 10-bit, not 8);
// yuv420p when libx264 or its list cannot be had, or the input's format is unknown.
AVPixelFormat x264_format(AVPixelFormat input);

// The pixel format OUTPUT is coded in: the user's -pix_fmt when given; with the default
// encoder x264_format(input); with the user's own encoder, the input's.
AVPixelFormat output_format(AVPixelFormat input, bool custom_encoder,
                            const std::vector<std::string>& words);

// The encoder arguments: "-c:v libx264 -crf 18 -preset medium -pix_fmt FORMAT", or the
// user's words in their place; before them, for interlaced input (the first frame's field
// order: AV_FIELD_TT top field first, AV_FIELD_BB bottom first), "-flags +ildct+ilme
// -field_order tt|bb", unless the words set -flags, -top or -field_order themselves. x264
// then codes each frame in the field order the frame carries; -field_order is the
// stream's flag, which ffmpeg would otherwise set to tb or bt, read by some players as
// the other order.
std::vector<std::string> encoder_arguments(AVPixelFormat input, AVFieldOrder field_order,
                                           bool custom_encoder,
                                           const std::vector<std::string>& words);

// The video's colour description as ffmpeg output options ("-color_range tv -colorspace
// bt709 ..."), the parts that are known: raw frames carry none of it to the encoder.
std::vector<std::string> colour_arguments(AVColorRange range, AVColorSpace matrix,
                                          AVColorPrimaries primaries,
                                          AVColorTransferCharacteristic transfer);
