// delogo-apply: analyses a recording as delogo does, finds its logo with the logo model
// (or delogo's own detectors), and writes the cleaned file through ffmpeg, with the filter
// chain built from what was found.
#include <sys/stat.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "analysis/analysis_result.h"
#include "analysis/picture_writers.h"
#include "analysis/settings.h"
#include "apply/apply_job.h"
#include "apply/apply_options.h"
#include "apply/child_process.h"
#include "apply/encoder_args.h"
#include "apply/input_streams.h"
#include "apply/library_run.h"
#include "apply/model_detector.h"
#include "apply/output_files.h"
#include "apply/preview_frame.h"
#include "apply/restoring_run.h"
#include "logo/logo_file.h"
#include "video/sampler.h"

namespace {

int fail(const std::string& message) {
    fflush(stdout);
    fprintf(stderr, "delogo-apply: %s\n", message.c_str());
    return 1;
}

void note(const std::string& message) {
    fprintf(stderr, "delogo-apply: %s\n", message.c_str());
}

bool same_file(const struct stat& a, const std::string& path) {
    struct stat b;
    return stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether two names lead to the same place, existing or not ("out.png", "./out.png").
bool same_path(const std::string& a, const std::string& b) {
    namespace fs = std::filesystem;
    if (a.empty() || b.empty()) return false;
    std::error_code e1, e2, e3, e4;
    const fs::path pa = fs::weakly_canonical(fs::absolute(a, e1), e2),
                   pb = fs::weakly_canonical(fs::absolute(b, e3), e4);
    return !e1 && !e2 && !e3 && !e4 && pa == pb;
}

// lstat: a link, dangling or not, is something that exists.
bool exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

bool is_directory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string directory_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

int interrupted(int signal_number, const std::string& output) {
    fail(std::string("interrupted (") + strsignal(signal_number) + "): " + output +
         " not written, nothing else changed");
    return 128 + signal_number;
}

// Puts a finished temporary in place. false after saying where the file was kept.
bool put_in_place(temporary_file& file, bool replace) {
    std::string error;
    switch (file.commit(replace, error)) {
    case commit_end::done:
        return true;
    case commit_end::exists:
        file.keep();
        fail(file.final_path() + " appeared while it was being written: kept as " + file.path());
        return false;
    default:
        file.keep();
        fail("cannot put " + file.final_path() + " in place (" + error + "): kept as " +
             file.path());
        return false;
    }
}

// The picture of mask mode, written into its temporary. false after a message.
bool write_mask(const analysis_result& result, const logo_work& work, temporary_file& file) {
    const std::vector<uint8_t> mask = working_mask(result, work);
    file_ptr stream(fdopen(file.release_descriptor(), "wb"));
    errno = 0;
    if (!stream ||
        save_png_image(std::move(stream), 8, 1, work.width, work.height, mask.data()) != 0) {
        fail("cannot write " + file.final_path() + ": " + strerror(errno ? errno : EIO));
        return false;
    }
    return true;
}

// Chroma subsampling steps (1 << log2) of a pixel format; 1 when unknown.
void chroma_steps(AVPixelFormat format, int& x, int& y) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    x = d ? 1 << d->log2_chroma_w : 1;
    y = d ? 1 << d->log2_chroma_h : 1;
}

// The model's logo in place of what delogo's detector found: its box (one pixel wider all
// round, as FFmpeg's delogo fills its rectangle from the pixels just outside), or in mask
// mode its pixels.
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

// The logo model of INPUT (estimated, or read from --logo) in `logo`, its lines on standard
// output, and the result's rectangles taken from it. Returns 0 or 1 after a message.
int model_logo(const apply_options& options, analysis_result& result, frame_logo& logo,
               bool& found) {
    int sx, sy;
    chroma_steps(av_get_pix_fmt(result.pix_fmt.c_str()), sx, sy);
    const int shift_x = sx == 4 ? 2 : sx == 2 ? 1 : 0, shift_y = sy == 4 ? 2 : sy == 2 ? 1 : 0;
    found = false;
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
        picture_samples samples;
        const bool library = !options.logos.empty();
        const std::string error =
            detect_logo(options.input, result, sw.corner_mask, sw.width_bands, sw.height_bands,
                        sw.level_black, logo, found, library ? &samples : nullptr);
        if (!error.empty()) {
            // No model (a pixel format it cannot read): delogo's own findings stand.
            note("no logo model of " + options.input + " (" + error + "): delogo's lines are used");
            return 0;
        }
        if (library) {
            const library_request q{options.logos, options.name, options.dry_run, sw.level_black};
            library_outcome outcome;
            const std::string failed = use_library(q, samples, logo, found, outcome);
            for (const std::string& line : outcome.notes)
                note(line);
            if (!failed.empty()) return fail(failed);
            for (const std::string& line : outcome.lines)
                printf("%s\n", line.c_str());
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
        note("the logo model finds no logo in " + options.input);
    }
    return 0;
}


// The job, planned once from what the analysis and the model found: the route, the
// picture kept, the chain, the streams, the encoder. false with `message` when it cannot
// be done; otherwise `message` may hold a note (the restoration given up for FFmpeg's).
bool plan_job(const apply_options& options, const analysis_result& result,
              const std::shared_ptr<const frame_logo>& logo, bool model_found, bool with_logo,
              const std::vector<input_stream>& streams, int64_t input_start_us,
              const AVOutputFormat* muxer, apply_job& job, std::string& message) {
    const bool mask_asked = (options.analysis.flags & FLAG_REMOVELOGO) != 0;
    job.result = &result;
    job.input = options.input;
    job.duration_us = result.duration_us;
    // The model's logo is restored in-process unless FFmpeg's filters are asked for.
    // -m asks for FFmpeg's removelogo by name: its mask is a filter's.
    job.restoring = with_logo && model_found &&
                    (options.filter == "restore" || (options.filter.empty() && !mask_asked));
    const AVPixelFormat input_format = av_get_pix_fmt(result.pix_fmt.c_str());
    const AVPixelFormat coded_format =
        output_format(input_format, options.custom_encoder, options.encoder);
    input_stream video;
    for (const input_stream& s : streams)
        if (s.index == result.video_stream) video = s;
    int ax, ay, bx, by;
    chroma_steps(input_format, ax, ay);
    chroma_steps(coded_format, bx, by);
    const int align_x = std::max(ax, bx);
    // An interlaced picture's rows alternate between its two fields (its chroma rows too):
    // an edge moved by an odd number of them would swap the fields.
    const bool interlaced = video.field_order == AV_FIELD_TT || video.field_order == AV_FIELD_BB;
    const int align_y = std::max(ay, by) * (interlaced ? 2 : 1);
    const frame_rect picture = kept_picture(result, align_x, align_y);
    if (!display_turn(video.display_matrix.empty() ? nullptr : video.display_matrix.data(),
                      job.turn, job.unturn)) {
        message = "the display matrix of " + options.input +
                  " turns the picture by an angle that is not a multiple of 90 degrees";
        return false;
    }
    if (job.restoring) {
        // A saved model of another chroma layout, say: FFmpeg's filter on its box instead.
        restoration unused;
        const std::string why = plan_for(
            *logo, picture, layout_for(input_format, result.frame_width, result.frame_height),
            interlaced, unused);
        if (!why.empty()) {
            message = "the logo cannot be restored (" + why + "): FFmpeg's delogo removes it";
            job.restoring = false;
        }
    }
    job.filters_work = place_logo(result, picture, with_logo, align_x, align_y);
    job.work = job.restoring ? place_logo(result, picture, false, align_x, align_y)
                             : job.filters_work;
    const stream_plan plan = plan_streams(streams, result.video_stream, muxer);
    job.streams = stream_arguments(result.video_stream, plan);
    job.encoder =
        encoder_arguments(input_format, video.field_order, options.custom_encoder, options.encoder);
    for (const std::string& line : plan.notes)
        note(line);
    if (!job.restoring) return true;
    if (interlaced) job.fields = video.field_order == AV_FIELD_TT ? "setfield=tff" : "setfield=bff";
    job.colour = colour_arguments(video.range, video.matrix, video.primaries, video.transfer);
    job.route = route_frames(result.video_stream, plan, streams, input_start_us,
                             layout_for(input_format, result.frame_width, result.frame_height).bytes);
    job.timing = frame_timing_for(muxer, video, int(streams.size()),
                                  options.custom_encoder ? options.encoder
                                                         : std::vector<std::string>());
    job.restoration = restoring_chain(logo, picture, interlaced);
    return true;
}

// Writes the preview, the mask and OUTPUT (or with --dry-run prints what reproduces the
// run). 0, 1 after a message, or 128 + a signal.
int run_job(const apply_options& options, const apply_job& job,
            std::shared_ptr<const frame_logo> logo, bool model_found) {
    const std::string& output = options.output;
    const std::string mask_path = mask_path_for(output);
    // The mask of FFmpeg's removelogo: the route's, or the one the dry run's command reads
    // (with -r the mask mode comes from the analysis: its file is refused only now).
    const logo_work& filters = options.dry_run ? job.filters_work : job.work;
    if (filters.mask && !options.force && exists(mask_path))
        return fail("the mask " + mask_path + " exists (--force replaces it)");
    std::string error;
    // From here on files of this run exist: every way out removes the unfinished ones.
    interrupt_guard guard;
    if (!options.save_logo.empty() && model_found) {
        temporary_file file;
        if (!file.create(options.save_logo, error)) return fail(error);
        file_ptr stream(fdopen(file.release_descriptor(), "wb"));
        const std::string failed = stream ? save_logo(*logo, std::move(stream)) : strerror(errno);
        if (!failed.empty()) return fail("cannot write " + options.save_logo + ": " + failed);
        if (interrupt_signal()) return interrupted(interrupt_signal(), options.save_logo);
        if (!put_in_place(file, options.force)) return 1;
    }
    if (!options.preview.empty()) {
        temporary_file file;
        if (!file.create(options.preview, error)) return fail(error);
        const preview_restoration shown{logo.get(), job.work.picture, !job.fields.empty()};
        if (write_preview(options.input, *job.result, file.path(), options.preview,
                          job.restoring ? &shown : nullptr) != 0)
            return 1;
        if (interrupt_signal()) return interrupted(interrupt_signal(), options.preview);
        if (!put_in_place(file, options.force)) return 1;
    }
    temporary_file mask;
    if (filters.mask) {
        if (!mask.create(mask_path, error)) return fail(error);
        if (!write_mask(*job.result, filters, mask)) return 1;
    }
    if (options.dry_run) {
        // What reproduces the run. The restoration is delogo-apply's own: no ffmpeg command
        // does it, so the command of FFmpeg's filters is what a user can run alone.
        if (job.restoring)
            printf("# the logo is restored inside delogo-apply, which no ffmpeg command can do; "
                   "FFmpeg's filters instead (--filter ffmpeg):\n");
        // The printed command reads the mask: it is written, under its own name.
        if (filters.mask && !put_in_place(mask, options.force)) return 1;
        printf("%s\n",
               shell_line(filters_command(job, filters, mask_path, options.force, output)).c_str());
        if (filters.mask) note("wrote " + mask_path + ", which the command reads");
        return 0;
    }

    // The run holds no more than it needs: the chain keeps its own share of the logo model
    // until it is made, and the heap the analysis and the model used (band images, samples,
    // frame-sized fields; glibc keeps what was freed below its top) goes back to the system
    // before two ffmpegs start beside this process.
    logo.reset();
#ifdef __GLIBC__
    malloc_trim(0);
#endif
    temporary_file cleaned;
    if (!cleaned.create(output, error)) return fail(error);
    if (interrupt_signal()) return interrupted(interrupt_signal(), output);
    // ffmpeg overwrites only the empty temporary made for it, and reads the mask from its
    // temporary: nothing is in place until it has finished.
    int signal_number = 0;
    const ffmpeg_end end =
        job.restoring
            ? run_restoring(decoding_command(job), encoding_command(job, true, cleaned.path()),
                            job.restoration, job.duration_us, signal_number)
            : run_ffmpeg(filters_command(job, job.work, mask.path(), true, cleaned.path()),
                         job.duration_us, signal_number);
    switch (end) {
    case ffmpeg_end::done:
        break;
    case ffmpeg_end::not_found:
        return fail("ffmpeg not found: install Debian's ffmpeg package");
    case ffmpeg_end::interrupted:
        return interrupted(signal_number, output);
    default:
        return fail(output + " not written");
    }
    if (interrupt_signal()) return interrupted(interrupt_signal(), output);
    if (!put_in_place(cleaned, options.force)) return 1;
    note("wrote " + output);
    if (job.work.mask) {
        if (!put_in_place(mask, options.force)) return 1;
        note("wrote " + mask_path);
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
    const std::string& output = options.output;
    struct stat input_info;
    if (stat(options.input.c_str(), &input_info) != 0)
        return fail("cannot read " + options.input + ": " + strerror(errno));
    const std::string mask_path = mask_path_for(output);
    if (same_file(input_info, output) || same_file(input_info, mask_path))
        return fail("OUTPUT " + output + " is INPUT: refusing to overwrite it");
    const std::string& preview = options.preview;
    if (!preview.empty() && same_file(input_info, preview))
        return fail("--preview " + preview + " is INPUT: refusing to overwrite it");
    if (!preview.empty() && (same_path(preview, output) || same_path(preview, mask_path)))
        return fail("--preview " + preview + " is OUTPUT or its mask");
    const AVOutputFormat* muxer = output_muxer(output, word_after(options.encoder, {"-f"}));
    if (!muxer)
        return fail("cannot tell the format of " + output +
                    " from its name: give it an extension (.mkv, .mp4, .ts, ...) or -f "
                    "FORMAT after --");
    if (is_directory(output)) return fail("OUTPUT " + output + " is a directory");
    if (!options.dry_run && !options.force && exists(output))
        return fail("OUTPUT " + output + " exists (--force replaces it)");
    const bool mask_asked = (options.analysis.flags & FLAG_REMOVELOGO) != 0;
    if (mask_asked && !options.force && exists(mask_path))
        return fail("the mask " + mask_path + " exists (--force replaces it)");
    if (!preview.empty() && !options.force && exists(preview))
        return fail("--preview " + preview + " exists (--force replaces it)");
    const std::string& saved_logo = options.save_logo;
    if (!saved_logo.empty() && same_file(input_info, saved_logo))
        return fail("--save-logo " + saved_logo + " is INPUT: refusing to overwrite it");
    if (!saved_logo.empty() && (same_path(saved_logo, output) || same_path(saved_logo, mask_path) ||
                                same_path(saved_logo, preview)))
        return fail("--save-logo " + saved_logo + " is OUTPUT, its mask or the preview");
    if (!saved_logo.empty() && !options.force && exists(saved_logo))
        return fail("--save-logo " + saved_logo + " exists (--force replaces it)");
    const std::string output_dir = directory_of(output);
    if (!options.dry_run && access(output_dir.c_str(), W_OK | X_OK) != 0)
        return fail("cannot write in " + output_dir + ": " + strerror(errno));
    if (!options.dry_run && !found_in_path("ffmpeg"))
        return fail("ffmpeg not found: install Debian's ffmpeg package");
    std::vector<input_stream> streams;
    int64_t input_start_us = 0;
    const std::string unreadable = read_input_streams(options.input, streams, &input_start_us);
    if (!unreadable.empty()) return fail("cannot read " + options.input + ": " + unreadable);
    const std::string encoder_name =
        options.custom_encoder ? word_after(options.encoder, {"-c:v", "-vcodec", "-codec:v"})
                               : "libx264";
    const AVCodec* encoder = encoder_name.empty() || encoder_name == "copy"
                                 ? nullptr
                                 : avcodec_find_encoder_by_name(encoder_name.c_str());
    if (encoder && muxer_holds(muxer, encoder->id) == 0)
        return fail(std::string("the format of ") + output + " (" + muxer->name +
                    ") does not hold " + avcodec_get_name(encoder->id) + " video");

    sw = options.analysis;
    sw.flags |= FLAG_NO_PICTURES;
    analysis_result result;
    if (process_video(nullptr, &result) != 0)
        return fail("analysis of " + options.input + " failed");
    if (!result.analysed)
        return fail("analysis of " + options.input + " failed: no key frame could be sampled");

    frame_logo estimated;
    bool model_found = false;
    const bool model = options.detector == "model";
    if (model && model_logo(options, result, estimated, model_found) != 0) return 1;
    auto logo = std::make_shared<const frame_logo>(std::move(estimated));
    if (!saved_logo.empty() && !model_found) note("no logo to save in " + saved_logo);
    // The model judges its own logo; the doubt is about delogo's static pixels.
    const std::string doubt = model ? "" : logo_doubt(result);
    const bool with_logo =
        (result.logo_count > 0 || result.has_mask) && (doubt.empty() || options.force_logo);
    if (!with_logo && !doubt.empty())
        note("corner " + std::to_string(result.corner) + " probably has no logo (" + doubt +
             "): it is left as it is (--force-logo removes it)");
    if (!result.has_crop && !with_logo && !options.force) {
        note("nothing to clean in " + options.input + "; nothing written");
        return 0;
    }
    apply_job job;
    std::string why_not;
    if (!plan_job(options, result, logo, model_found, with_logo, streams, input_start_us, muxer,
                  job, why_not))
        return fail(why_not);
    if (!why_not.empty()) note(why_not);
    return run_job(options, job, std::move(logo), model_found);
}
