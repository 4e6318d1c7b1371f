#include "support/AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<uint64_t> g_count{0};
std::atomic<std::size_t> g_largest{0};
}  // namespace

void* operator new(std::size_t size) {
    g_count.fetch_add(1, std::memory_order_relaxed);
    for (std::size_t largest = g_largest.load(); size > largest && !g_largest.compare_exchange_weak(largest, size);) {}
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}

// Every other unaligned form too: under AddressSanitizer its runtime would
// otherwise serve them, and a library that frees through the plain delete
// below would mismatch.
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept try { return ::operator new(size); } catch (...) {
    return nullptr;
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return ::operator new(size, tag); }

// GCC cannot see that operator new above is the malloc-backed pair of these.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#pragma GCC diagnostic pop

uint64_t testsupport::allocationCount() { return g_count.load(); }
std::size_t testsupport::largestAllocation() { return g_largest.load(); }
void testsupport::resetLargestAllocation() { g_largest.store(0); }
