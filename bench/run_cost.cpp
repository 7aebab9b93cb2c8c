// The cost of one command and every process it starts: CPU seconds (user and system, of
// all its processes, as wait4 counts them) and the peak of their summed resident memory
// (sampled every 20 ms from /proc: the pipeline's processes run at the same time, and one
// process's peak alone would miss the others'). For scripts/bench-transcode.
//
//   run_cost COMMAND [ARGS...]   prints "user SECONDS sys SECONDS peak_mb MB wall SECONDS"
#include <dirent.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

namespace {

// The summed resident memory of `root` and its descendants, bytes.
long long tree_rss(pid_t root) {
    std::map<pid_t, pid_t> parent;
    std::map<pid_t, long long> rss;
    const long page = sysconf(_SC_PAGESIZE);
    DIR* proc = opendir("/proc");
    if (!proc) return 0;
    while (dirent* e = readdir(proc)) {
        const pid_t pid = atoi(e->d_name);
        if (pid <= 0) continue;
        char path[64], text[512];
        snprintf(path, sizeof path, "/proc/%d/stat", pid);
        FILE* f = fopen(path, "r");
        if (!f) continue;
        const size_t n = fread(text, 1, sizeof text - 1, f);
        fclose(f);
        text[n] = 0;
        const char* close_paren = strrchr(text, ')');
        int ppid = 0;
        char state;
        if (!close_paren || sscanf(close_paren + 2, "%c %d", &state, &ppid) != 2) continue;
        parent[pid] = ppid;
        snprintf(path, sizeof path, "/proc/%d/statm", pid);
        if ((f = fopen(path, "r"))) {
            long size = 0, resident = 0;
            if (fscanf(f, "%ld %ld", &size, &resident) == 2) rss[pid] = resident * page;
            fclose(f);
        }
    }
    closedir(proc);
    long long total = 0;
    for (const auto& [pid, bytes] : rss) {
        for (pid_t p = pid; p > 1;) {
            if (p == root) {
                total += bytes;
                break;
            }
            const auto up = parent.find(p);
            if (up == parent.end()) break;
            p = up->second;
        }
    }
    return total;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: run_cost COMMAND [ARGS...]\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    long long peak = 0;
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t done = wait4(child, &status, WNOHANG, &usage);
        if (done == child) break;
        peak = std::max(peak, tree_rss(child));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("user %.2f sys %.2f peak_mb %.0f wall %.2f\n",
           usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6,
           usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6, peak / 1048576.0, wall);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
