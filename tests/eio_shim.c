/* Preloaded into the tool by the thread comparison: read() of one file fails with EIO
 * wherever it would return bytes of a given range, as a damaged disk does, the same on
 * every reading. DELOGO_EIO="first:end:path", bytes [first, end) of path. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

static ssize_t (*next_read)(int, void*, size_t);
static long long first, end;
static struct stat damaged;
static int active;

__attribute__((constructor)) static void start(void) {
    next_read = (ssize_t(*)(int, void*, size_t))dlsym(RTLD_NEXT, "read");
    const char* range = getenv("DELOGO_EIO");
    char* rest;
    if (!range) return;
    first = strtoll(range, &rest, 10);
    end = strtoll(rest + 1, &rest, 10);
    active = stat(rest + 1, &damaged) == 0;
}

ssize_t read(int fd, void* buf, size_t count) {
    struct stat file;
    if (active && fstat(fd, &file) == 0 && file.st_ino == damaged.st_ino &&
        file.st_dev == damaged.st_dev) {
        const long long at = lseek(fd, 0, SEEK_CUR);
        if (at >= 0 && at < end && at + (long long)count > first) {
            errno = EIO;
            return -1;
        }
    }
    return next_read(fd, buf, count);
}
