// The logo library's files: read, locked, written in place.
#include "apply/library_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "apply/output_files.h"
#include "logo/logo_file.h"

namespace {

const char stats_suffix[] = ".stats";

std::string path_in(const std::string& dir, const std::string& file) {
    return dir.empty() || dir.back() == '/' ? dir + file : dir + "/" + file;
}

bool exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

// Writes `bytes` to a temporary beside `path` and renames it over `path`.
std::string put_bytes(const std::string& path, const std::string& bytes) {
    temporary_file file;
    std::string error;
    if (!file.create(path, error)) return error;
    const int fd = file.release_descriptor();
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = "cannot write " + path + ": " + strerror(n < 0 ? errno : EIO);
            close(fd);
            return error;
        }
        done += size_t(n);
    }
    if (close(fd) != 0) return "cannot write " + path + ": " + strerror(errno);
    if (file.commit(true, error) != commit_end::done)
        return "cannot put " + path + " in place: " + error;
    return "";
}

// Reads entry `name` of `dir` for frames whose chroma is subsampled by the shifts. Returns ""
// or what is wrong, naming the file (damaged, of a newer version, missing its picture).
std::string read_entry(const std::string& dir, const std::string& name, int shift_x, int shift_y,
                       library_entry& out) {
    const std::string stats_path = path_in(dir, name + stats_suffix);
    std::ifstream in(stats_path, std::ios::binary);
    if (!in) return "cannot read " + stats_path + ": " + strerror(errno);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    library_entry e;
    e.name = name;
    std::string error = decode_statistics(bytes.str(), e.stats);
    if (!error.empty()) return stats_path + ": " + error;
    if (e.stats.shift_x != shift_x || e.stats.shift_y != shift_y) {
        out = std::move(e); // another layout: the caller passes it over
        return "";
    }
    const std::string png = path_in(dir, name + ".png");
    error = load_logo(png, shift_x, shift_y, e.logo);
    if (!error.empty()) return error;
    if (e.logo.width != e.stats.frame_width || e.logo.height != e.stats.frame_height)
        return png + " is " + std::to_string(e.logo.width) + "x" + std::to_string(e.logo.height) +
               ", its statistics " + stats_path + " are of " +
               std::to_string(e.stats.frame_width) + "x" + std::to_string(e.stats.frame_height);
    const int cx = e.logo.box_x + e.logo.box_w / 2 < e.logo.width / 2 ? 0 : 1;
    e.logo.corner = cx + (e.logo.box_y + e.logo.box_h / 2 < e.logo.height / 2 ? 0 : 2);
    out = std::move(e);
    return "";
}

} // namespace

library_lock::library_lock(const std::string& dir, bool exclusive) {
    const std::string path = path_in(dir, ".lock");
    fd_ = open(path.c_str(), (exclusive ? O_RDWR | O_CREAT : O_RDONLY) | O_CLOEXEC, 0666);
    if (fd_ < 0 && !exclusive && errno == ENOENT) return; // nobody has written yet
    if (fd_ < 0) {
        error_ = "cannot open " + path + ": " + strerror(errno);
        return;
    }
    while (flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0)
        if (errno != EINTR) {
            error_ = "cannot lock " + path + ": " + strerror(errno);
            return;
        }
}

library_lock::~library_lock() {
    if (fd_ >= 0) close(fd_); // (the lock goes with the descriptor)
}

std::vector<std::string> library_names(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d) return names;
    const size_t suffix = sizeof stats_suffix - 1;
    while (const dirent* f = readdir(d)) {
        const std::string file = f->d_name;
        if (file.size() > suffix && file[0] != '.' &&
            file.compare(file.size() - suffix, suffix, stats_suffix) == 0)
            names.push_back(file.substr(0, file.size() - suffix));
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<library_entry> read_library(const std::string& dir, int width, int height,
                                        int shift_x, int shift_y, int planes,
                                        std::vector<std::string>& notes) {
    std::vector<library_entry> entries;
    for (const std::string& name : library_names(dir)) {
        library_entry e;
        const std::string error = read_entry(dir, name, shift_x, shift_y, e);
        if (!error.empty()) {
            notes.push_back(error + ": logo " + name + " left out");
            continue;
        }
        if (e.stats.frame_width == width && e.stats.frame_height == height &&
            e.stats.shift_x == shift_x && e.stats.shift_y == shift_y && e.stats.planes == planes)
            entries.push_back(std::move(e));
    }
    return entries;
}

std::string write_entry(const std::string& dir, const library_entry& e) {
    const std::string png = path_in(dir, e.name + ".png");
    temporary_file picture;
    std::string error;
    if (!picture.create(png, error)) return error;
    file_ptr stream(fdopen(picture.release_descriptor(), "wb"));
    const std::string failed = stream ? save_logo(e.logo, std::move(stream)) : strerror(errno);
    if (!failed.empty()) return "cannot write " + png + ": " + failed;
    if (picture.commit(true, error) != commit_end::done)
        return "cannot put " + png + " in place: " + error;
    return put_bytes(path_in(dir, e.name + stats_suffix), encode_statistics(e.stats));
}

std::string write_note(const std::string& dir, const std::string& file, const std::string& text) {
    return put_bytes(path_in(dir, file), text);
}

std::string read_note(const std::string& dir, const std::string& file) {
    std::ifstream in(path_in(dir, file), std::ios::binary);
    std::ostringstream bytes;
    if (in) bytes << in.rdbuf();
    return bytes.str();
}

void remove_entry(const std::string& dir, const std::string& name) {
    unlink(path_in(dir, name + stats_suffix).c_str());
    unlink(path_in(dir, name + ".png").c_str());
    unlink(path_in(dir, name + ".from").c_str());
}

bool name_taken(const std::string& dir, const std::string& name) {
    return exists(path_in(dir, name + ".png")) || exists(path_in(dir, name + stats_suffix));
}
