// Worker threads of a run, shared by the sampler (one decoder per thread) and
// the Canny detector (one set of working buffers per thread). Includes nothing of the
// project: both floors above use it.
#pragma once

#include <functional>

// The threads a run may work on, from 1: DELOGO_THREADS when it holds a whole number from
// 1 to 64, else the number of cores (std::thread::hardware_concurrency), at most 8. Read
// from the environment once, at the first call, and kept for the rest of the process.
int worker_threads();

// Runs body(k) once for every k in [0, count): body(0) on the caller's thread, each other
// on a thread of its own, or after body(0) on the caller's when no thread can be started.
// Returns when every body has ended; an exception thrown by a body is caught on its
// thread, and the first one in order of k is thrown again here after all have ended.
void run_workers(int count, const std::function<void(int)>& body);
