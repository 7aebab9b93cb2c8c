// The cost of one command and every process it starts: CPU seconds (user and system, of
// all its processes, as wait4 counts them) and the peak of their summed resident memory,
// the largest sum at any one moment (sampled from /proc every 20 ms, or RUN_COST_MS: the
// pipeline's processes run at the same time, and one process's peak alone would miss the
// others', while the sum of each one's own peak counts moments that never met). For
// scripts/bench-transcode.
//
//   run_cost COMMAND [ARGS...]
// prints "user SECONDS sys SECONDS peak_mb MB wall SECONDS file_mb MB" on standard output
// (file_mb: the part of the peak that is mapped files, the FFmpeg libraries above all,
// which each process counts again), and on standard error what each process held at the
// peak ("run_cost: peak NAME MB ...").
#include <dirent.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

struct process_memory {
    std::string name;
    long long rss = 0, file = 0; // bytes: resident, of it mapped files
};

// The resident memory of `root` and its descendants at this moment, one entry a process.
std::vector<process_memory> tree_memory(pid_t root) {
    std::map<pid_t, pid_t> parent;
    std::map<pid_t, process_memory> memory;
    DIR* proc = opendir("/proc");
    if (!proc) return {};
    while (dirent* e = readdir(proc)) {
        const pid_t pid = atoi(e->d_name);
        if (pid <= 0) continue;
        char path[64], text[4096];
        snprintf(path, sizeof path, "/proc/%d/stat", pid);
        FILE* f = fopen(path, "r");
        if (!f) continue;
        size_t n = fread(text, 1, sizeof text - 1, f);
        fclose(f);
        text[n] = 0;
        const char* open_paren = strchr(text, '(');
        const char* close_paren = strrchr(text, ')');
        int ppid = 0;
        char state;
        if (!open_paren || !close_paren || sscanf(close_paren + 2, "%c %d", &state, &ppid) != 2)
            continue;
        parent[pid] = ppid;
        process_memory m;
        m.name.assign(open_paren + 1, close_paren);
        // RssAnon + RssFile + RssShmem = VmRSS, in kB.
        snprintf(path, sizeof path, "/proc/%d/status", pid);
        if (!(f = fopen(path, "r"))) continue;
        n = fread(text, 1, sizeof text - 1, f);
        fclose(f);
        text[n] = 0;
        auto field = [&](const char* key) {
            const char* at = strstr(text, key);
            return at ? atoll(at + strlen(key)) * 1024 : 0;
        };
        m.rss = field("VmRSS:");
        m.file = field("RssFile:");
        memory[pid] = m;
    }
    closedir(proc);
    std::vector<process_memory> tree;
    for (const auto& [pid, m] : memory) {
        for (pid_t p = pid; p > 1;) {
            if (p == root) {
                tree.push_back(m);
                break;
            }
            const auto up = parent.find(p);
            if (up == parent.end()) break;
            p = up->second;
        }
    }
    return tree;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: run_cost COMMAND [ARGS...]\n");
        return 2;
    }
    const int interval_ms = getenv("RUN_COST_MS") ? std::max(1, atoi(getenv("RUN_COST_MS"))) : 20;
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    long long peak = 0, peak_file = 0;
    std::vector<process_memory> at_peak;
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t done = wait4(child, &status, WNOHANG, &usage);
        if (done == child) break;
        std::vector<process_memory> now = tree_memory(child);
        long long sum = 0, file = 0;
        for (const process_memory& m : now) {
            sum += m.rss;
            file += m.file;
        }
        if (sum > peak) {
            peak = sum;
            peak_file = file;
            at_peak = std::move(now);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(interval_ms));
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    fprintf(stderr, "run_cost: peak");
    for (const process_memory& m : at_peak)
        fprintf(stderr, " %s %.0f (files %.0f)", m.name.c_str(), m.rss / 1048576.0,
                m.file / 1048576.0);
    fprintf(stderr, "\n");
    printf("user %.2f sys %.2f peak_mb %.0f wall %.2f file_mb %.0f\n",
           usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6,
           usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6, peak / 1048576.0, wall,
           peak_file / 1048576.0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
