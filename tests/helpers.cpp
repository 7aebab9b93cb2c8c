// Running commands with a time limit, and test videos made by the ffmpeg command.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "helpers.h"

namespace fs = std::filesystem;

std::string quoted(const std::string& text) {
    std::string q = "'";
    for (char c : text)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

run_result run_argv(const std::vector<std::string>& argv, const std::string& cwd,
                    int timeout_seconds) {
    fs::create_directories(cwd);
    // Output goes to files outside `cwd`: no pipe can fill up, no stray file in the directory.
    char out[] = "/tmp/delogo-test-XXXXXX", err[] = "/tmp/delogo-test-XXXXXX";
    const int out_fd = mkstemp(out), err_fd = mkstemp(err);
    std::string line =
        "cd " + quoted(cwd) + " && exec timeout -s KILL " + std::to_string(timeout_seconds);
    for (const std::string& a : argv)
        line += " " + quoted(a);
    const int status = system((line + " </dev/null >" + out + " 2>" + err).c_str());
    run_result result{WIFEXITED(status) && WEXITSTATUS(status) != 137 ? WEXITSTATUS(status) : -1,
                      read_file(out), read_file(err)};
    for (const int fd : {out_fd, err_fd})
        close(fd);
    fs::remove(out);
    fs::remove(err);
    return result;
}

run_result run_command(const std::string& command, const std::string& cwd,
                       int timeout_seconds) {
    return run_argv({"/bin/sh", "-c", command}, cwd, timeout_seconds);
}

std::string fresh_dir(const std::string& name) {
    const fs::path dir = fs::path(TEST_WORK_DIR) / name;
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
    return dir.string();
}

int ffmpeg_major() {
    static const int major = [] {
        int v = 0;
        const std::string out = run_command("ffmpeg -version", ".").out;
        return sscanf(out.c_str(), "ffmpeg version %d", &v) == 1 ? v : 0;
    }();
    return major;
}

std::string grey_frame(const std::string& dir, const std::string& file, int index) {
    return run_command("ffmpeg -v error -i " + quoted(file) + " -vf 'select=eq(n\\," +
                           std::to_string(index) +
                           ")' -fps_mode passthrough -frames:v 1 -f rawvideo -pix_fmt gray -",
                       dir)
        .out;
}

std::vector<std::string> lines_starting(const std::string& text, const std::string& prefix) {
    std::vector<std::string> lines;
    for (size_t pos = 0, end; pos < text.size(); pos = end + 1) {
        end = std::min(text.find('\n', pos), text.size());
        if (text.compare(pos, prefix.size(), prefix) == 0)
            lines.push_back(text.substr(pos, end - pos));
    }
    return lines;
}

std::string make_video(const std::string& dir, const std::string& name, int w, int h, int frames,
                       const luma_fn& at, const std::string& encode, int fps) {
    const std::string raw = dir + "/" + name + ".raw";
    {
        std::ofstream file(raw, std::ios::binary);
        const std::string chroma(2 * static_cast<size_t>((w + 1) / 2) * ((h + 1) / 2), '\x80');
        std::string luma(static_cast<size_t>(w) * h, '\0');
        for (int f = 0; f < frames; ++f) {
            for (size_t i = 0; i < luma.size(); ++i)
                luma[i] =
                    static_cast<char>(at(f, static_cast<int>(i % w), static_cast<int>(i / w)));
            file << luma << chroma;
        }
    }
    const std::string size = std::to_string(w) + "x" + std::to_string(h);
    const run_result r = run_command(
        "exec ffmpeg -hide_banner -nostdin -v error -y -f rawvideo -pix_fmt yuv420p -s " + size +
            " -r " + std::to_string(fps) + " -i '" + name + ".raw' " + encode + " '" + name + "'",
        dir);
    fs::remove(raw);
    return r.status == 0 ? "" : "ffmpeg for " + name + ": " + r.err;
}

uint8_t noise_luma(int frame, int x, int y) {
    uint32_t h = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u ^
                 static_cast<uint32_t>(frame) * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return static_cast<uint8_t>(40 + h % 40 + (frame % 2 ? 140 : 0));
}

uint8_t logo_luma(int f, int x, int y) {
    if (y < 4 || y >= 86) return 0;
    return y >= 8 && y <= 13 && x >= 130 && x <= 145 ? 235 : noise_luma(f, x, y);
}

std::vector<band_sample> make_samples(int count, int w2, int h2,
                                      const std::function<int(int s, int x, int y)>& value) {
    std::vector<band_sample> samples(count);
    for (int s = 0; s < count; ++s) {
        samples[s].image.reset(new uint8_t[static_cast<size_t>(w2) * h2]);
        samples[s].corner_flags = 15;
        for (int i = 0; i < w2 * h2; ++i)
            samples[s].image[i] = static_cast<uint8_t>(value(s, i % w2, i / w2));
    }
    return samples;
}
