// The filter chain and the ffmpeg command line of delogo-apply.
#include "apply/filter_chain.h"

#include <cctype>
#include <cstring>

#include "analysis/mask_bits.h"

frame_rect inside_margin(frame_rect r, int frame_width, int frame_height) {
    if (r.x < 1) {
        r.w -= 1 - r.x;
        r.x = 1;
    }
    if (r.y < 1) {
        r.h -= 1 - r.y;
        r.y = 1;
    }
    if (r.x + r.w > frame_width - 1) r.w = frame_width - 1 - r.x;
    if (r.y + r.h > frame_height - 1) r.h = frame_height - 1 - r.y;
    return r;
}

std::string file_url(const std::string& path) {
    if (path.find(':') != std::string::npos || (!path.empty() && path[0] == '-'))
        return "file:" + path;
    return path;
}

namespace {

std::string backslash(const std::string& text, const char* special) {
    std::string out;
    for (char c : text) {
        if (strchr(special, c)) out += '\\';
        out += c;
    }
    return out;
}

} // namespace

std::string escape_filter_value(const std::string& value) {
    return backslash(backslash(value, "\\':"), "\\'[],;");
}

std::string filter_chain(const analysis_result& r, const std::string& mask_path) {
    std::vector<std::string> filters;
    if (r.has_mask) {
        filters.push_back("removelogo=filename=" + escape_filter_value(file_url(mask_path)));
    } else {
        for (int i = 0; i < r.logo_count && i < 2; ++i) {
            const frame_rect m = inside_margin(r.logos[i], r.frame_width, r.frame_height);
            if (m.w <= 0 || m.h <= 0) continue;
            filters.push_back("delogo=x=" + std::to_string(m.x) + ":y=" + std::to_string(m.y) +
                              ":w=" + std::to_string(m.w) + ":h=" + std::to_string(m.h));
        }
    }
    if (r.has_crop)
        filters.push_back("crop=" + std::to_string(r.crop.w) + ":" + std::to_string(r.crop.h) +
                          ":" + std::to_string(r.crop.x) + ":" + std::to_string(r.crop.y));
    std::string chain;
    for (const std::string& f : filters)
        chain += (chain.empty() ? "" : ",") + f;
    return chain;
}

std::vector<uint8_t> frame_mask(const analysis_result& r) {
    const int fw = r.frame_width > 0 ? r.frame_width : 0;
    const int fh = r.frame_height > 0 ? r.frame_height : 0;
    std::vector<uint8_t> out(static_cast<size_t>(fw) * fh, 0);
    const size_t row_bytes = static_cast<size_t>(r.mask_width) / 8;
    if (!r.has_mask || r.mask.size() < row_bytes * r.mask_height) return out;
    for (int my = 0; my < r.mask_height; ++my) {
        const int y = r.mask_y + my;
        if (y < 0 || y >= fh) continue;
        for (int mx = 0; mx < r.mask_width; ++mx) {
            const int x = r.mask_x + mx;
            if (x >= 0 && x < fw && is_static(r.mask.data() + my * row_bytes, mx))
                out[static_cast<size_t>(y) * fw + x] = 255;
        }
    }
    return out;
}

std::string mask_path_for(const std::string& output) {
    const size_t slash = output.rfind('/');
    const size_t name = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = output.rfind('.');
    // A leading dot names a hidden file, not an extension.
    const bool has_extension = dot != std::string::npos && dot > name;
    return (has_extension ? output.substr(0, dot) : output) + ".mask.png";
}

namespace {

std::string extension_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

// The 8-bit formats Debian's libx264 encodes as they are.
bool x264_takes(const std::string& pix_fmt) {
    static const char* const formats[] = {"yuv420p", "yuvj420p", "yuv422p", "yuvj422p",
                                          "yuv444p", "yuvj444p", "nv12",    "gray"};
    for (const char* f : formats)
        if (pix_fmt == f) return true;
    return false;
}

} // namespace

bool keeps_subtitles(const std::string& output) {
    const std::string ext = extension_of(output);
    return ext == "mkv" || ext == "mka" || ext == "ts" || ext == "m2ts" || ext == "mts";
}

std::vector<std::string> ffmpeg_command(const ffmpeg_job& job) {
    // The rectangles belong to the stream that was analysed, which need not be the first.
    const std::string video =
        job.video_stream >= 0 ? "0:" + std::to_string(job.video_stream) : "0:v:0";
    std::vector<std::string> a{"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error"};
    a.insert(a.end(), {job.overwrite ? "-y" : "-n", "-i", file_url(job.input), "-map", video,
                       "-map", "0:a?"});
    const bool subtitles = keeps_subtitles(job.output);
    if (subtitles) a.insert(a.end(), {"-map", "0:s?"});
    if (!job.chain.empty()) a.insert(a.end(), {"-vf", job.chain});
    a.insert(a.end(), {"-c:a", "copy"});
    if (subtitles) a.insert(a.end(), {"-c:s", "copy"});
    if (job.custom_encoder) {
        a.insert(a.end(), job.encoder.begin(), job.encoder.end());
    } else {
        a.insert(a.end(), {"-c:v", "libx264", "-crf", "18", "-preset", "medium", "-pix_fmt",
                           x264_takes(job.pix_fmt) ? job.pix_fmt : "yuv420p"});
    }
    a.insert(a.end(), {"-progress", "pipe:1", "-nostats", file_url(job.output)});
    return a;
}

std::string shell_line(const std::vector<std::string>& argv) {
    std::string line;
    for (const std::string& word : argv) {
        if (!line.empty()) line += ' ';
        bool plain = !word.empty();
        for (char c : word)
            if (!isalnum(static_cast<unsigned char>(c)) && !strchr("_./:=@%+,-", c)) plain = false;
        if (plain) {
            line += word;
            continue;
        }
        line += '\'';
        for (char c : word)
            line += c == '\'' ? std::string("'\\''") : std::string(1, c);
        line += '\'';
    }
    return line;
}
