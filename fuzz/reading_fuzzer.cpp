// Fuzz target: the reading path of a real run (open, probe, pick the stream, decode,
// sample key frames, copy the corner bands, analyse, summarise) on the fuzzer's bytes
// served as the video file through an in-memory AVIOContext.
//
// Input: one byte of command-line flags, one byte of I/O faults, then the file's bytes.
//
// The output is checked as for the analysis target (fuzz_support.h), against the frame
// size the run printed; any line the run should not print is a finding too.
#include <sys/socket.h>

#include <netdb.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <sstream>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include "fuzz_support.h"
#include "video/sampler.h"
#include "analysis/settings.h"

// A fuzzed playlist or stream description can name network addresses, and FFmpeg would
// go and open them. This process never talks to the network: no socket, no name lookup.
extern "C" int socket(int, int, int) {
    errno = EACCES;
    return -1;
}
extern "C" int getaddrinfo(const char*, const char*, const struct addrinfo*, struct addrinfo**) {
    return EAI_FAIL;
}

namespace {

// The file, and the faults of the medium it lies on.
struct memory_file {
    const uint8_t* data;
    int64_t size;
    int64_t pos;
    int64_t fail_at;  // a read that starts at or past this offset fails (-1: none)
    bool fail_always; // every such read fails, not only the first
    bool seek_fails;  // every seek fails
};

int read_packet(void* opaque, uint8_t* buf, int buf_size) {
    auto* f = static_cast<memory_file*>(opaque);
    if (f->fail_at >= 0 && f->pos >= f->fail_at) {
        if (!f->fail_always) f->fail_at = -1;
        return AVERROR(EIO);
    }
    if (f->pos >= f->size) return AVERROR_EOF;
    const int64_t n = std::min<int64_t>(buf_size, f->size - f->pos);
    memcpy(buf, f->data + f->pos, static_cast<size_t>(n));
    f->pos += n;
    return static_cast<int>(n);
}

int64_t seek(void* opaque, int64_t offset, int whence) {
    auto* f = static_cast<memory_file*>(opaque);
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE) return f->size;
    if (f->seek_fails) return AVERROR(EIO);
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return AVERROR(EINVAL);
    const int64_t base = whence == SEEK_CUR ? f->pos : whence == SEEK_END ? f->size : 0;
    if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0) return AVERROR(EINVAL);
    return f->pos = base + offset; // past the end is allowed: the next read gives end of file
}

struct io_freer {
    void operator()(AVIOContext* io) const {
        av_freep(&io->buffer); // the buffer may have been replaced while reading
        avio_context_free(&io);
    }
};

// Small, so that reads and seeks reach the callbacks (and their faults) often.
constexpr int io_buffer_size = 512;

bool starts_with(const std::string& text, const char* prefix) {
    return text.compare(0, strlen(prefix), prefix) == 0;
}

// Checks a run's output: the progress and summary lines, and the analysis lines between.
void check_output(const std::string& output, const Settings& run) {
    std::istringstream lines(output);
    std::string line, analysis;
    int width = -1, height = -1;
    while (std::getline(lines, line)) {
        if (line.empty() || starts_with(line, "Key Frame: ") || starts_with(line, "Duration: ") ||
            line == run.video_file)
            continue;
        if (starts_with(line, "Size: ")) {
            if (width >= 0 || sscanf(line.c_str(), "Size: %dx%d", &width, &height) != 2)
                fail("bad size line: " + line, output);
            continue;
        }
        if (width < 0) fail("a line before the size line: " + line, output);
        analysis += line + "\n";
    }
    if (analysis.empty()) return;
    if (run.flags & FLAG_INFO) fail("analysis in info mode", output);
    const int band_w2 = 2 * (width * run.width_bands / 100);
    const int band_h2 = 2 * (height * run.height_bands / 100);
    check_report(analysis, run, band_w2, band_h2, width, height);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    av_log_set_level(AV_LOG_QUIET);
    byte_reader in(data, size);
    const uint8_t options = in.u8();
    // Faults: bits 0-5 the offset of a failing read in 64-byte steps (0: none), bit 6
    // failing seeks, bit 7 the read fault persists.
    const uint8_t faults = in.u8();

    // The settings of a command line with a few frames and some of -a -y -i -2 -m -X.
    sw = Settings{};
    sw.video_file = "fuzz.input";
    if (options & 1) sw.flags |= FLAG_ALL_CORNERS | FLAG_CANNY;
    if (options & 2) sw.flags |= FLAG_CANNY;
    if (options & 4) sw.flags |= FLAG_TWO_RECTANGLES;
    if (options & 8) sw.flags |= FLAG_REMOVELOGO;
    if (options & 16) sw.flags |= FLAG_SAVE_AS_PCX;
    sw.frames = 5 + ((options >> 5) & 3);
    if ((options & 0xE0) == 0xE0) {
        sw.flags |= FLAG_INFO;
        sw.frames = 1;
    }

    memory_file file{in.rest(),
                     static_cast<int64_t>(in.rest_size()),
                     0,
                     (faults & 63) ? int64_t{64} * (faults & 63) : -1,
                     (faults & 128) != 0,
                     (faults & 64) != 0};
    auto* buffer = static_cast<uint8_t*>(av_malloc(io_buffer_size));
    if (!buffer) return 0;
    std::unique_ptr<AVIOContext, io_freer> io(
        avio_alloc_context(buffer, io_buffer_size, 0, &file, read_packet, nullptr, seek));
    if (!io) {
        av_free(buffer);
        return 0;
    }

    const in_scratch_dir scratch;
    const Settings run = sw;
    stdout_clear();
    try {
        process_video(io.get());
    } catch (const std::bad_alloc&) {
        // The tool reports this as an error too: band images of an absurd frame size.
    }
    sw = Settings{};
    check_output(stdout_text(), run);
    return 0;
}
