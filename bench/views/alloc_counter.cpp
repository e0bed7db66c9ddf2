#include "alloc_counter.h"

#include <atomic>
#include <cstddef>

extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t n, std::size_t size);
void *__libc_realloc(void *p, std::size_t size);
void *__libc_memalign(std::size_t alignment, std::size_t size);
}

namespace {
std::atomic<std::uint64_t> g_count{0};
}

// These definitions take the place of glibc's for the whole process, Qt's
// libraries included; each one counts and forwards.
extern "C" void *malloc(std::size_t size) {
    g_count.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
extern "C" void *calloc(std::size_t n, std::size_t size) {
    g_count.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(n, size);
}
extern "C" void *realloc(void *p, std::size_t size) {
    g_count.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, size);
}
extern "C" void *aligned_alloc(std::size_t alignment, std::size_t size) {
    g_count.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(alignment, size);
}

namespace bench {

std::uint64_t AllocationCount() {
    return g_count.load(std::memory_order_relaxed);
}

} // namespace bench
