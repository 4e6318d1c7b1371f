#ifndef TESTS_SUPPORT_ALLOCATIONCOUNTER_H
#define TESTS_SUPPORT_ALLOCATIONCOUNTER_H

#include <cstddef>
#include <cstdint>

// Any program that uses these functions gets a replaced global operator new
// that counts every allocation (the array and nothrow forms end in it), so
// tests can show that a path does not touch the heap.
namespace testsupport {

uint64_t allocationCount();
// Largest single request since the last reset.
std::size_t largestAllocation();
void resetLargestAllocation();

}  // namespace testsupport

#endif
