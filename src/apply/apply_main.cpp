// delogo-apply: analyses a recording as delogo does and writes the cleaned file through
// ffmpeg, with the filter chain built from what was found.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "analysis/analysis_result.h"
#include "apply/apply_options.h"
#include "apply/ffmpeg_run.h"
#include "apply/filter_chain.h"
#include "apply/logo_file.h"
#include "apply/model_detector.h"
#include "analysis/picture_writers.h"
#include "apply/preview_frame.h"
#include "video/sampler.h"
#include "analysis/settings.h"

namespace {

int fail(const std::string& message) {
    fflush(stdout);
    fprintf(stderr, "delogo-apply: %s\n", message.c_str());
    return 1;
}

bool same_file(const struct stat& a, const std::string& path) {
    struct stat b;
    return stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

// The frame-sized mask picture of mask mode, 8-bit grey. Returns false after a message.
bool write_mask(const analysis_result& result, const std::string& path) {
    const std::vector<uint8_t> mask = frame_mask(result);
    file_ptr file(fopen(path.c_str(), "wb"));
    if (!file || save_png_image(std::move(file), 8, 1, result.frame_width, result.frame_height,
                                mask.data()) != 0) {
        const int error = errno;
        unlink(path.c_str());
        fail("cannot write " + path + ": " + strerror(error ? error : EIO));
        return false;
    }
    return true;
}

// The model's logo in place of what delogo's detector found: its box (one pixel wider all
// round, as FFmpeg's delogo interpolates from the pixels just outside), or in mask mode its
// pixels.
void use_model(analysis_result& r, const frame_logo& logo, bool found) {
    r.logo_count = 0;
    r.has_mask = false;
    if (!found) return;
    r.corner = logo.corner;
    if (sw.flags & FLAG_REMOVELOGO) {
        r.has_mask = true;
        r.mask_x = r.mask_y = 0;
        r.mask_width = (r.frame_width + 7) / 8 * 8;
        r.mask_height = r.frame_height;
        r.mask.assign(size_t(r.mask_width / 8) * r.mask_height, 0xFF);
        for (int y = 0; y < r.frame_height; ++y)
            for (int x = 0; x < r.frame_width; ++x)
                if (logo.alpha[size_t(y) * r.frame_width + x] > 0.04f)
                    r.mask[size_t(y) * (r.mask_width / 8) + x / 8] &= uint8_t(~(0x80 >> (x % 8)));
        return;
    }
    r.logo_count = 1;
    r.logos[0] = frame_rect{logo.box_x - 1, logo.box_y - 1, logo.box_w + 2, logo.box_h + 2};
}

// The logo model of INPUT (estimated, or read from --logo), its line on standard output,
// and --save-logo. Returns 0 or 1 after a message.
int model_logo(const apply_options& options, analysis_result& result) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(av_get_pix_fmt(result.pix_fmt.c_str()));
    const int shift_x = d ? d->log2_chroma_w : 1, shift_y = d ? d->log2_chroma_h : 1;
    frame_logo logo;
    bool found = false;
    const frame_rect crop = result.crop; // delogo's, before the model may narrow it
    if (!options.logo.empty()) {
        const std::string error = load_logo(options.logo, shift_x, shift_y, logo);
        if (!error.empty()) return fail(error);
        if (logo.width != result.frame_width || logo.height != result.frame_height)
            return fail("the logo of " + options.logo + " is " + std::to_string(logo.width) +
                        "x" + std::to_string(logo.height) + ", the frames of " + options.input +
                        " are " + std::to_string(result.frame_width) + "x" +
                        std::to_string(result.frame_height));
        found = true;
        const int cx = logo.box_x + logo.box_w / 2 < result.frame_width / 2 ? 0 : 1;
        logo.corner = cx + (logo.box_y + logo.box_h / 2 < result.frame_height / 2 ? 0 : 2);
    } else {
        const std::string error =
            detect_logo(options.input, result, sw.corner_mask, sw.width_bands, sw.height_bands,
                        sw.level_black, logo, found);
        if (!error.empty()) {
            // No model (a pixel format it cannot read): delogo's own findings stand.
            fprintf(stderr, "delogo-apply: no logo model of %s (%s): delogo's lines are used\n",
                    options.input.c_str(), error.c_str());
            return 0;
        }
    }
    use_model(result, logo, found);
    if (found) {
        printf("delogo=x=%d:y=%d:w=%d:h=%d corner %d\n", logo.box_x, logo.box_y, logo.box_w,
               logo.box_h, logo.corner);
        const frame_rect& c = result.crop;
        if (result.has_crop && (c.x != crop.x || c.y != crop.y || c.w != crop.w || c.h != crop.h))
            printf("crop=%d:%d:%d:%d\n", c.w, c.h, c.x, c.y);
        fflush(stdout);
    } else {
        fprintf(stderr, "delogo-apply: the logo model finds no logo in %s\n",
                options.input.c_str());
    }
    if (!options.save_logo.empty()) {
        if (!found) {
            fprintf(stderr, "delogo-apply: no logo to save in %s\n", options.save_logo.c_str());
        } else {
            const std::string error = save_logo(logo, options.save_logo);
            if (!error.empty()) return fail(error);
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    apply_options options;
    std::string error;
    switch (parse_apply_options(argc, argv, options, error)) {
    case apply_parse::help:
        apply_usage();
        return 0;
    case apply_parse::bad:
        return fail(error + " (see delogo-apply --help)");
    case apply_parse::run:
        break;
    }

    // Refusals first: they need no analysis.
    struct stat input_info;
    if (stat(options.input.c_str(), &input_info) != 0)
        return fail("cannot read " + options.input + ": " + strerror(errno));
    const std::string mask_path = mask_path_for(options.output);
    if (same_file(input_info, options.output) || same_file(input_info, mask_path))
        return fail("OUTPUT " + options.output + " is INPUT: refusing to overwrite it");
    if (!options.preview.empty() && same_file(input_info, options.preview))
        return fail("--preview " + options.preview + " is INPUT: refusing to overwrite it");
    if (!options.dry_run && !options.force && exists(options.output))
        return fail("OUTPUT " + options.output + " exists (--force replaces it)");
    if (!options.dry_run && !found_in_path("ffmpeg"))
        return fail("ffmpeg not found: install Debian's ffmpeg package");

    sw = options.analysis;
    sw.flags |= FLAG_NO_PICTURES;
    analysis_result result;
    if (process_video(nullptr, &result) != 0)
        return fail("analysis of " + options.input + " failed");
    if (!result.analysed)
        return fail("analysis of " + options.input + " failed: no key frame could be sampled");
    if (options.detector == "model" && model_logo(options, result) != 0) return 1;
    const bool found = result.has_crop || result.logo_count > 0 || result.has_mask;
    if (!found && !options.force) {
        fprintf(stderr,
                "delogo-apply: nothing to clean in %s (no crop, no logo); nothing written\n",
                options.input.c_str());
        return 0;
    }

    if (!options.preview.empty() && write_preview(options.input, result, options.preview) != 0)
        return 1;

    ffmpeg_job job;
    job.input = options.input;
    job.output = options.output;
    job.chain = filter_chain(result, mask_path);
    job.pix_fmt = result.pix_fmt;
    job.video_stream = result.video_stream;
    job.overwrite = options.force;
    job.custom_encoder = options.custom_encoder;
    job.encoder = options.encoder;
    const std::vector<std::string> command = ffmpeg_command(job);
    if (options.dry_run) {
        printf("%s\n", shell_line(command).c_str());
        return 0;
    }

    if (result.has_mask && !write_mask(result, mask_path)) return 1;
    int signal_number = 0;
    const ffmpeg_end end = run_ffmpeg(command, result.duration_us, signal_number);
    if (end == ffmpeg_end::done) {
        fprintf(stderr, "delogo-apply: wrote %s\n", options.output.c_str());
        return 0;
    }
    // No partial file may pass for a cleaned one.
    if (!same_file(input_info, options.output)) unlink(options.output.c_str());
    if (result.has_mask) unlink(mask_path.c_str());
    switch (end) {
    case ffmpeg_end::not_found:
        return fail("ffmpeg not found: install Debian's ffmpeg package");
    case ffmpeg_end::interrupted:
        fail(std::string("interrupted (") + strsignal(signal_number) + "): " + options.output +
             " removed");
        return 128 + signal_number;
    default:
        return 1;
    }
}
