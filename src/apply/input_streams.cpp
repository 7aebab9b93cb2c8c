// INPUT's streams through libavformat.
#include "apply/input_streams.h"

#include "video/av_ptr.h"

std::string read_input_streams(const std::string& path, std::vector<input_stream>& out) {
    out.clear();
    // The probe's warnings would come before the analysis says anything; the analysis
    // opens the same file and tells what is wrong with it.
    const int level = av_log_get_level();
    av_log_set_level(AV_LOG_QUIET);
    AVFormatContext* opened = nullptr;
    int ret = avformat_open_input(&opened, path.c_str(), nullptr, nullptr);
    input_ptr fmt(opened);
    if (ret >= 0) ret = avformat_find_stream_info(fmt.get(), nullptr);
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
            s.field_order = st->codecpar->field_order;
        }
        out.push_back(s);
    }
    return "";
}
