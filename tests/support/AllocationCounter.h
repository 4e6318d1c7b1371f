#ifndef TESTS_SUPPORT_ALLOCATIONCOUNTER_H
#define TESTS_SUPPORT_ALLOCATIONCOUNTER_H

#include <cstddef>
#include <cstdint>

// A program that uses these gets a global operator new that counts every
// allocation (the array and nothrow forms end in it), so that a test can
// show that a path leaves the heap alone.
namespace testsupport {
uint64_t allocationCount();
std::size_t largestAllocation();  // the largest single request since the last reset
void resetLargestAllocation();
}  // namespace testsupport

#endif
