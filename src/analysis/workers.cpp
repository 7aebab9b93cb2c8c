// Worker threads: the run's thread count and the owner that starts and joins them.
#include "analysis/workers.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <thread>
#include <vector>

namespace {

// A thread count beyond the cores only adds decoders to memory; the default stops at 8,
// where a decoder's memory (about 90 MiB at 4K) and the one demuxer that feeds them all
// make more threads of little use. An explicit DELOGO_THREADS may go further, to a bound
// that still keeps memory sane.
constexpr int default_limit = 8;
constexpr int explicit_limit = 64;

int threads_from_environment() {
    if (const char* text = std::getenv("DELOGO_THREADS")) {
        char* end = nullptr;
        errno = 0;
        const long n = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && errno == 0 && n >= 1 && n <= explicit_limit)
            return static_cast<int>(n);
    }
    const unsigned cores = std::thread::hardware_concurrency(); // 0 when unknown
    return cores == 0 ? 1 : static_cast<int>(std::min<unsigned>(cores, default_limit));
}

// Joins every thread it started, whatever way the caller leaves.
struct thread_owner {
    std::vector<std::thread> threads;
    ~thread_owner() {
        for (std::thread& t : threads)
            if (t.joinable()) t.join();
    }
};

} // namespace

int worker_threads() {
    // The run's one thread count: a function-local static is set once, safely even when
    // two threads ask first at the same time.
    static const int count = threads_from_environment();
    return count;
}

void run_workers(int count, const std::function<void(int)>& body) {
    if (count < 1) return;
    std::vector<std::exception_ptr> errors(static_cast<size_t>(count));
    auto guarded = [&](int k) {
        try {
            body(k);
        } catch (...) {
            errors[static_cast<size_t>(k)] = std::current_exception();
        }
    };
    int started = 1; // body(0) belongs to the caller's thread
    {
        thread_owner owner;
        try {
            owner.threads.reserve(static_cast<size_t>(count - 1));
            for (; started < count; ++started)
                owner.threads.emplace_back(guarded, started);
        } catch (const std::exception&) {
            // Out of threads or memory: the bodies not started run below, one after another.
        }
        guarded(0);
        for (int k = started; k < count; ++k)
            guarded(k);
    } // joined here
    for (const std::exception_ptr& e : errors)
        if (e) std::rethrow_exception(e);
}
