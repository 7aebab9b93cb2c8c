// restore_score: how close cleaned outputs come to the programme of a recording made by
// scripts/make-recording, on the coded luma plane (decoded by the ffmpeg command in the
// coded bit depth: no range conversion; 10-bit as 16-bit samples, PSNR with peak 1023).
//
//   restore_score RECORDING_DIR NAME=FILE[@X,Y] ...
//
// FILE is a cleaned output; @X,Y the programme position of its top left pixel when it was
// cropped (found by matching its first frame to the programme's when its size differs and
// none is given). FILE "oracle" is the recording's blend undone with the true opacity,
// colour and strength of each frame (truth.txt, logo.png, tag.png), opaque pixels left as
// they are. Prints one line per output: luma PSNR (dB) inside the graphics' box + 2 px
// over every 5th frame, and split by the logo's state (fully there, fading: every frame,
// absent, and inside the tag's box + 2 px once the tag has left); outside that box (the
// whole frame less the box) and in the 16-px ring around it; the flicker inside the box
// (mean |change of the output − change of the programme| between consecutive frames, in
// 8-bit levels).
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "score_math.h"

namespace {

struct graphic {
    std::string name, file;
    rect box;
};

struct truth_file {
    int width = 0, height = 0, bits = 8;
    std::vector<graphic> graphics;
    std::vector<std::array<double, 2>> strength; // per frame: logo, tag
};

bool read_truth(const std::string& path, truth_file& t) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream s(line);
        std::string word;
        s >> word;
        if (word == "size") s >> t.width >> t.height;
        else if (word == "format") {
            s >> word;
            t.bits = word.find("10") != std::string::npos ? 10 : 8;
        } else if (word == "graphic") {
            graphic g;
            s >> g.name >> g.file >> g.box.x >> g.box.y >> g.box.w >> g.box.h;
            t.graphics.push_back(g);
        } else if (!word.empty() && isdigit(static_cast<unsigned char>(word[0]))) {
            std::array<double, 2> v{0, 0};
            s >> v[0] >> v[1];
            t.strength.push_back(v);
        }
    }
    return t.width > 0 && !t.graphics.empty() && !t.strength.empty();
}

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct pipe_closer {
    void operator()(FILE* f) const { pclose(f); }
};
using pipe_ptr = std::unique_ptr<FILE, pipe_closer>;

std::string command_output(const std::string& command) {
    pipe_ptr p(popen(command.c_str(), "r"));
    std::string out;
    if (!p) return out;
    char buf[65536];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p.get())) > 0;) out.append(buf, n);
    return out;
}

// A video's luma, frame after frame, widened to 16 bits and shifted to `bits`.
struct luma_reader {
    pipe_ptr pipe;
    int width = 0, height = 0, bytes = 1, shift = 0;
    std::vector<uint8_t> raw;

    bool open(const std::string& file, int bits) {
        const std::string info = command_output(
            "ffprobe -v error -select_streams v:0 -show_entries stream=width,height,pix_fmt -of csv=p=0 " +
            quoted(file));
        char fmt[64] = "";
        if (sscanf(info.c_str(), "%d,%d,%63[^,\n]", &width, &height, fmt) != 3) return false;
        const int depth = strstr(fmt, "10") ? 10 : strstr(fmt, "12") ? 12 : 8;
        bytes = depth > 8 ? 2 : 1;
        shift = bits - depth;
        const std::string gray = depth == 8 ? "gray" : depth == 10 ? "gray10le" : "gray12le";
        pipe.reset(popen(("ffmpeg -v error -nostdin -i " + quoted(file) +
                          " -map 0:v:0 -vf extractplanes=y -fps_mode passthrough -f rawvideo -pix_fmt " + gray + " -")
                             .c_str(),
                         "r"));
        raw.resize(size_t(width) * height * bytes);
        return bool(pipe);
    }
    bool next(std::vector<uint16_t>& frame) {
        if (fread(raw.data(), 1, raw.size(), pipe.get()) != raw.size()) return false;
        frame.resize(size_t(width) * height);
        for (size_t i = 0; i < frame.size(); ++i) {
            int v = bytes == 1 ? raw[i] : raw[2 * i] | raw[2 * i + 1] << 8;
            frame[i] = uint16_t(shift >= 0 ? v << shift : v >> -shift);
        }
        return true;
    }
};

// A graphic's luma as the overlay blended it (its RGBA converted to the overlay's YUVA in
// a filter graph, as make-recording's was) and its opacity bytes.
struct graphic_planes {
    rect box;
    std::vector<uint16_t> y;
    std::vector<uint8_t> alpha;
};

bool load_graphic(const std::string& dir, const graphic& g, int bits, graphic_planes& p) {
    const std::string file = quoted(dir + "/" + g.file);
    const size_t n = size_t(g.box.w) * g.box.h;
    const std::string rgba = command_output("ffmpeg -v error -nostdin -i " + file + " -f rawvideo -pix_fmt rgba -");
    const std::string yuva = command_output("ffmpeg -v error -nostdin -i " + file + " -filter_complex '[0]format=rgba,format=" +
                                            (bits > 8 ? "yuva420p10le" : "yuva420p") + "' -f rawvideo -");
    if (rgba.size() < 4 * n || yuva.size() < n * (bits > 8 ? 2 : 1)) return false;
    p.box = g.box;
    p.y.resize(n);
    p.alpha.resize(n);
    for (size_t i = 0; i < n; ++i) {
        p.alpha[i] = uint8_t(rgba[4 * i + 3]);
        p.y[i] = bits > 8 ? uint16_t(uint8_t(yuva[2 * i]) | uint8_t(yuva[2 * i + 1]) << 8) : uint8_t(yuva[i]);
    }
    return true;
}

struct output {
    std::string name, file;
    bool oracle = false, placed = false;
    luma_reader reader;
    std::vector<uint16_t> frame, before;
    plane_view view;
    error_sum box, present, fading, absent, tag_gone, outside, ring, flicker;
};

std::string db(const error_sum& e, int peak) {
    const double p = psnr(e, peak);
    char s[32];
    if (std::isnan(p)) return "—";
    if (std::isinf(p)) return "inf";
    snprintf(s, sizeof s, "%.2f", p);
    return s;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: restore_score RECORDING_DIR NAME=FILE[@X,Y]... (FILE oracle: the blend undone)\n");
        return 2;
    }
    const std::string dir = argv[1];
    truth_file truth;
    if (!read_truth(dir + "/truth.txt", truth)) {
        fprintf(stderr, "restore_score: no truth in %s/truth.txt\n", dir.c_str());
        return 1;
    }
    const int W = truth.width, H = truth.height, peak = (1 << truth.bits) - 1;
    std::vector<graphic_planes> planes(truth.graphics.size());
    rect all, tag;
    for (size_t i = 0; i < truth.graphics.size(); ++i) {
        all = united(all, truth.graphics[i].box);
        if (truth.graphics[i].name == "tag") tag = grown(truth.graphics[i].box, 2, W, H);
    }
    const rect box = grown(all, 2, W, H), ring = grown(all, 18, W, H);
    // The tag is gone from the frame after its last one on.
    size_t tag_gone_from = truth.strength.size();
    if (tag.w > 0)
        for (size_t n = truth.strength.size(); n-- > 0 && truth.strength[n][1] == 0;) tag_gone_from = n;

    std::vector<std::unique_ptr<output>> outs;
    for (int i = 2; i < argc; ++i) {
        auto o = std::make_unique<output>();
        std::string a = argv[i];
        const size_t eq = a.find('=');
        if (eq == std::string::npos) {
            fprintf(stderr, "restore_score: %s is not NAME=FILE\n", argv[i]);
            return 2;
        }
        o->name = a.substr(0, eq);
        o->file = a.substr(eq + 1);
        const size_t atsign = o->file.rfind('@');
        if (atsign != std::string::npos &&
            sscanf(o->file.c_str() + atsign + 1, "%d,%d", &o->view.ox, &o->view.oy) == 2) {
            o->file.resize(atsign);
            o->placed = true;
        }
        if (o->file == "oracle") {
            o->oracle = o->placed = true;
            o->file = dir + "/recording.ts";
            for (size_t g = 0; g < planes.size(); ++g)
                if (!load_graphic(dir, truth.graphics[g], truth.bits, planes[g])) {
                    fprintf(stderr, "restore_score: cannot read %s\n", truth.graphics[g].file.c_str());
                    return 1;
                }
        }
        if (!o->reader.open(o->file, truth.bits)) {
            fprintf(stderr, "restore_score: cannot read %s\n", o->file.c_str());
            return 1;
        }
        if (o->reader.width == W && o->reader.height == H) o->placed = true;
        outs.push_back(std::move(o));
    }
    luma_reader programme;
    if (!programme.open(dir + "/programme.mkv", truth.bits)) {
        fprintf(stderr, "restore_score: cannot read %s/programme.mkv\n", dir.c_str());
        return 1;
    }
    std::vector<uint16_t> t_frame, t_before;
    const auto view = [](const std::vector<uint16_t>& f, int w, int h, int ox, int oy) {
        return plane_view{f.data(), w, h, w, ox, oy};
    };
    size_t n = 0, scored = 0, fading = 0, present = 0, absent = 0, gone = 0;
    std::string short_of;
    for (; n < truth.strength.size(); ++n) {
        t_before.swap(t_frame);
        if (!programme.next(t_frame)) break;
        const plane_view tv = view(t_frame, W, H, 0, 0), tb = view(t_before, W, H, 0, 0);
        const double s = truth.strength[n][0];
        const bool every5 = n % 5 == 0;
        bool ended = false;
        for (auto& o : outs) {
            o->before.swap(o->frame);
            if (!o->reader.next(o->frame)) {
                short_of += " " + o->name;
                ended = true;
                continue;
            }
            if (o->oracle) // graphics undone last first: the tag went on over the logo
                for (size_t g = planes.size(); g-- > 0;) {
                    const graphic_planes& p = planes[g];
                    const double strength = truth.strength[n][g < 2 ? g : 1];
                    if (strength <= 0) continue;
                    for (int v = 0; v < p.box.h; ++v)
                        for (int u = 0; u < p.box.w; ++u) {
                            const int x = p.box.x + u, y = p.box.y + v;
                            if (x < 0 || y < 0 || x >= W || y >= H) continue;
                            const size_t i = size_t(v) * p.box.w + u;
                            uint16_t& sample = o->frame[size_t(y) * W + x];
                            sample = undo_blend(sample, p.y[i], faded_opacity(p.alpha[i], strength), peak);
                        }
                }
            if (!o->placed) {
                const plane_view small = view(o->frame, o->reader.width, o->reader.height, 0, 0);
                best_offset(tv, small, 4, o->view.ox, o->view.oy);
                o->placed = true;
            }
            const plane_view ov = view(o->frame, o->reader.width, o->reader.height, o->view.ox, o->view.oy);
            if (n > 0) {
                const plane_view ob = view(o->before, o->reader.width, o->reader.height, o->view.ox, o->view.oy);
                o->flicker.add(change_error(ov, ob, tv, tb, box));
            }
            if (s > 0 && s < 1) o->fading.add(squared_error(ov, tv, box));
            if (!every5) continue;
            const error_sum e = squared_error(ov, tv, box);
            o->box.add(e);
            if (s >= 1) o->present.add(e);
            if (s <= 0) o->absent.add(e);
            if (n >= tag_gone_from) o->tag_gone.add(squared_error(ov, tv, tag));
            o->outside.add(squared_error(ov, tv, {0, 0, W, H}, box));
            o->ring.add(squared_error(ov, tv, ring, box));
        }
        if (ended) break;
        fading += s > 0 && s < 1;
        if (every5) {
            ++scored;
            present += s >= 1;
            absent += s <= 0;
            gone += n >= tag_gone_from;
        }
    }
    printf("recording: box %d %d %d %d (graphics + 2 px), ring 16 px, tag box %d %d %d %d; frames %zu, every 5th %zu: "
           "present %zu, absent %zu, tag gone %zu; fading (every frame) %zu\n",
           box.x, box.y, box.w, box.h, tag.x, tag.y, tag.w, tag.h, n, scored, present, absent, gone, fading);
    printf("%-12s %7s %8s %7s %7s %8s %8s %7s %8s %s\n", "output", "box", "present", "fading", "absent", "tag gone",
           "outside", "ring", "flicker", "offset");
    const double level = 1 << (truth.bits - 8);
    for (auto& o : outs) {
        char flicker[32] = "—";
        if (o->flicker.count) snprintf(flicker, sizeof flicker, "%.3f", o->flicker.sum / o->flicker.count / level);
        printf("%-12s %7s %8s %7s %7s %8s %8s %7s %8s %d,%d\n", o->name.c_str(), db(o->box, peak).c_str(),
               db(o->present, peak).c_str(), db(o->fading, peak).c_str(), db(o->absent, peak).c_str(),
               db(o->tag_gone, peak).c_str(), db(o->outside, peak).c_str(), db(o->ring, peak).c_str(), flicker,
               o->view.ox, o->view.oy);
    }
    if (!short_of.empty()) printf("ended at frame %zu of %zu:%s\n", n, truth.strength.size(), short_of.c_str());
    return 0;
}
