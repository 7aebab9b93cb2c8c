// The encoder arguments of delogo-apply's ffmpeg command.
#include "apply/encoder_args.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixdesc.h>
}

#include "video/av_ptr.h"

std::string word_after(const std::vector<std::string>& words,
                       std::initializer_list<const char*> names) {
    std::string value;
    for (size_t i = 0; i + 1 < words.size(); ++i)
        for (const char* name : names)
            if (words[i] == name) value = words[i + 1];
    return value;
}

namespace {

// libx264's pixel formats, ending with AV_PIX_FMT_NONE; nullptr when there are none.
const AVPixelFormat* x264_formats() {
    const AVCodec* x264 = avcodec_find_encoder_by_name("libx264");
    if (!x264) return nullptr;
    return encoder_pixel_formats(x264);
}

} // namespace

AVPixelFormat x264_format(AVPixelFormat input) {
    const AVPixelFormat* formats = x264_formats();
    if (!formats || input == AV_PIX_FMT_NONE) return AV_PIX_FMT_YUV420P;
    for (const AVPixelFormat* f = formats; *f != AV_PIX_FMT_NONE; ++f)
        if (*f == input) return input;
    int loss = 0;
    const AVPixelFormat best = avcodec_find_best_pix_fmt_of_list(formats, input, 0, &loss);
    return best == AV_PIX_FMT_NONE ? AV_PIX_FMT_YUV420P : best;
}

AVPixelFormat output_format(AVPixelFormat input, bool custom_encoder,
                            const std::vector<std::string>& words) {
    const std::string named = word_after(words, {"-pix_fmt", "-pix_fmt:v"});
    if (!named.empty()) return av_get_pix_fmt(named.c_str());
    return custom_encoder ? input : x264_format(input);
}

std::vector<std::string> encoder_arguments(AVPixelFormat input, AVFieldOrder field_order,
                                           bool custom_encoder,
                                           const std::vector<std::string>& words) {
    std::vector<std::string> a;
    // Interlaced pictures coded as progressive frames smear their combing into every block.
    const bool user_says = !word_after(words, {"-flags", "-flags:v", "-top", "-top:v",
                                               "-field_order", "-field_order:v"})
                                .empty();
    if ((field_order == AV_FIELD_TT || field_order == AV_FIELD_BB) && !user_says)
        a.insert(a.end(), {"-flags", "+ildct+ilme", "-field_order",
                           field_order == AV_FIELD_TT ? "tt" : "bb"});
    if (custom_encoder) {
        a.insert(a.end(), words.begin(), words.end());
    } else {
        const char* format = av_get_pix_fmt_name(x264_format(input));
        a.insert(a.end(), {"-c:v", "libx264", "-crf", "18", "-preset", "medium", "-pix_fmt",
                           format ? format : "yuv420p"});
    }
    return a;
}

std::vector<std::string> colour_arguments(AVColorRange range, AVColorSpace matrix,
                                          AVColorPrimaries primaries,
                                          AVColorTransferCharacteristic transfer) {
    std::vector<std::string> a;
    auto add = [&](const char* option, const char* name) {
        if (name && strcmp(name, "unknown") != 0 && strcmp(name, "unspecified") != 0)
            a.insert(a.end(), {option, name});
    };
    if (range != AVCOL_RANGE_UNSPECIFIED) add("-color_range", av_color_range_name(range));
    if (matrix != AVCOL_SPC_UNSPECIFIED) add("-colorspace", av_color_space_name(matrix));
    if (primaries != AVCOL_PRI_UNSPECIFIED)
        add("-color_primaries", av_color_primaries_name(primaries));
    if (transfer != AVCOL_TRC_UNSPECIFIED) add("-color_trc", av_color_transfer_name(transfer));
    return a;
}
