// delogo-apply: analyses a recording as delogo does and writes the cleaned file through
// ffmpeg, with the filter chain built from what was found.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "analysis/analysis_result.h"
#include "analysis/picture_writers.h"
#include "analysis/settings.h"
#include "apply/apply_options.h"
#include "apply/encoder_args.h"
#include "apply/ffmpeg_run.h"
#include "apply/filter_chain.h"
#include "apply/input_streams.h"
#include "apply/output_files.h"
#include "apply/preview_frame.h"
#include "apply/stream_plan.h"
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
    std::error_code e1, e2;
    const fs::path pa = fs::weakly_canonical(fs::absolute(a), e1),
                   pb = fs::weakly_canonical(fs::absolute(b), e2);
    return !e1 && !e2 && pa == pb;
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
    const std::string output_dir = directory_of(output);
    if (!options.dry_run && access(output_dir.c_str(), W_OK | X_OK) != 0)
        return fail("cannot write in " + output_dir + ": " + strerror(errno));
    if (!options.dry_run && !found_in_path("ffmpeg"))
        return fail("ffmpeg not found: install Debian's ffmpeg package");
    std::vector<input_stream> streams;
    const std::string unreadable = read_input_streams(options.input, streams);
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

    const std::string doubt = logo_doubt(result);
    const bool with_logo =
        (result.logo_count > 0 || result.has_mask) && (doubt.empty() || options.force_logo);
    if (!with_logo && !doubt.empty())
        note("corner " + std::to_string(result.corner) + " probably has no logo (" + doubt +
             "): it is left as it is (--force-logo removes it)");
    if (!result.has_crop && !with_logo && !options.force) {
        note("nothing to clean in " + options.input + "; nothing written");
        return 0;
    }
    const bool mask_mode = with_logo && result.has_mask;
    if (mask_mode && !mask_asked && !options.force && exists(mask_path))
        return fail("the mask " + mask_path + " exists (--force replaces it)");

    // From here on files of this run exist: every way out removes the unfinished ones.
    interrupt_guard guard;
    if (!preview.empty()) {
        temporary_file file;
        if (!file.create(preview, error)) return fail(error);
        if (write_preview(options.input, result, file.path(), preview) != 0) return 1;
        if (interrupt_signal()) return interrupted(interrupt_signal(), preview);
        if (!put_in_place(file, options.force)) return 1;
    }

    const AVPixelFormat input_format = av_get_pix_fmt(result.pix_fmt.c_str());
    const AVPixelFormat coded_format =
        output_format(input_format, options.custom_encoder, options.encoder);
    AVFieldOrder field_order = AV_FIELD_UNKNOWN;
    for (const input_stream& s : streams)
        if (s.index == result.video_stream) field_order = s.field_order;
    int ax, ay, bx, by;
    chroma_steps(input_format, ax, ay);
    chroma_steps(coded_format, bx, by);
    const int align_x = std::max(ax, bx);
    // An interlaced picture's rows alternate between its two fields (its chroma rows too):
    // an edge moved by an odd number of them would swap the fields.
    const bool interlaced = field_order == AV_FIELD_TT || field_order == AV_FIELD_BB;
    const int align_y = std::max(ay, by) * (interlaced ? 2 : 1);
    const frame_rect picture = kept_picture(result, align_x, align_y);
    const logo_work work = place_logo(result, picture, with_logo, align_x, align_y);

    temporary_file mask;
    if (work.mask) {
        if (!mask.create(mask_path, error)) return fail(error);
        if (!write_mask(result, work, mask)) return 1;
    }
    const stream_plan plan = plan_streams(streams, result.video_stream, muxer);
    const std::vector<std::string> stream_args = stream_arguments(result.video_stream, plan);
    const std::vector<std::string> encoder_args =
        encoder_arguments(input_format, field_order, options.custom_encoder, options.encoder);
    for (const std::string& line : plan.notes)
        note(line);
    auto chain = [&](const std::string& mask_file) {
        return filter_chain(result, work, mask_file);
    };

    if (options.dry_run) {
        // The printed command reads the mask: it is written, under its own name.
        if (work.mask && !put_in_place(mask, options.force)) return 1;
        printf("%s\n", shell_line(ffmpeg_command(options.input, stream_args, chain(mask_path),
                                                 encoder_args, options.force, output))
                           .c_str());
        if (work.mask) note("wrote " + mask_path + ", which the command reads");
        return 0;
    }

    temporary_file cleaned;
    if (!cleaned.create(output, error)) return fail(error);
    if (interrupt_signal()) return interrupted(interrupt_signal(), output);
    // ffmpeg overwrites only the empty temporary made for it, and reads the mask from its
    // temporary: nothing is in place until it has finished.
    const std::vector<std::string> command = ffmpeg_command(
        options.input, stream_args, chain(mask.path()), encoder_args, true, cleaned.path());
    int signal_number = 0;
    switch (run_ffmpeg(command, result.duration_us, signal_number)) {
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
    if (work.mask) {
        if (!put_in_place(mask, options.force)) return 1;
        note("wrote " + mask_path);
    }
    return 0;
}
