// Makes allocations fail on request, preloaded into the program
// (LD_PRELOAD), so that tests see what it does when memory runs out at any
// point. Counting starts once this library is loaded; every thread counts.
//   MAPCLEAN_FAIL_AT=N    the Nth allocation fails (counted from 1)
//   MAPCLEAN_FAIL_FROM=1  and so does every one after it
//   MAPCLEAN_ALLOC_COUNT=FILE  at exit, the number of allocations goes to FILE
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {

std::atomic<unsigned long> g_count{0};
unsigned long g_failAt = 0;
bool g_failFrom = false;
bool g_armed = false;

unsigned long number_from(const char* name) {
    const char* text = std::getenv(name);
    return text ? std::strtoul(text, nullptr, 10) : 0;
}

__attribute__((constructor)) void arm() {
    g_failAt = number_from("MAPCLEAN_FAIL_AT");
    g_failFrom = number_from("MAPCLEAN_FAIL_FROM") != 0;
    g_armed = true;
}

__attribute__((destructor)) void report() {
    const char* path = std::getenv("MAPCLEAN_ALLOC_COUNT");
    if (!path) return;
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%lu\n", g_count.load());
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return;
    [[maybe_unused]] const ssize_t written = ::write(fd, text, static_cast<size_t>(length));
    ::close(fd);
}

// True when this allocation is to fail.
bool fails() {
    if (!g_armed) return false;
    const unsigned long n = ++g_count;
    if (g_failAt == 0 || n < g_failAt || (n > g_failAt && !g_failFrom)) return false;
    errno = ENOMEM;
    return true;
}

}  // namespace

extern "C" {

void* malloc(size_t size) { return fails() ? nullptr : __libc_malloc(size); }

void* calloc(size_t count, size_t size) { return fails() ? nullptr : __libc_calloc(count, size); }

void* realloc(void* block, size_t size) { return fails() ? nullptr : __libc_realloc(block, size); }

void* memalign(size_t alignment, size_t size) { return fails() ? nullptr : __libc_memalign(alignment, size); }

void* aligned_alloc(size_t alignment, size_t size) { return fails() ? nullptr : __libc_memalign(alignment, size); }

int posix_memalign(void** block, size_t alignment, size_t size) {
    if (fails()) return ENOMEM;
    *block = __libc_memalign(alignment, size);
    return *block ? 0 : ENOMEM;
}

}
