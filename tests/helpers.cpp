// Running commands with a time limit, and test videos made by the ffmpeg command.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <utility>

#include "helpers.h"

namespace fs = std::filesystem;

run_result run_argv(const std::vector<std::string>& argv, const std::string& cwd,
                    int timeout_seconds) {
    run_result result;
    fs::create_directories(cwd);
    // Output goes to unnamed temporary files: no pipe can fill up while we wait.
    FILE* out = tmpfile();
    FILE* err = tmpfile();
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = out && err ? fork() : -1;
    if (pid == 0) {
        FILE* in = freopen("/dev/null", "r", stdin);
        if (in && chdir(cwd.c_str()) == 0 && dup2(fileno(out), 1) >= 0 && dup2(fileno(err), 2) >= 0)
            execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    bool killed = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    while (pid > 0 && waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline && !killed) {
            kill(pid, SIGKILL);
            killed = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (auto [file, text] : {std::pair{out, &result.out}, {err, &result.err}}) {
        if (!file) continue;
        rewind(file);
        for (int c; (c = fgetc(file)) != EOF;)
            text->push_back(static_cast<char>(c));
        fclose(file);
    }
    result.status = pid > 0 && !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

run_result run_command(const std::string& command, const std::string& cwd) {
    return run_argv({"/bin/sh", "-c", command}, cwd);
}

std::string fresh_dir(const std::string& name) {
    const fs::path dir = fs::path(TEST_WORK_DIR) / name;
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
    return dir.string();
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
