#ifndef TESTS_FACE_TSSTESTSUPPORT_H
#define TESTS_FACE_TSSTESTSUPPORT_H

// Fixtures of the transport tests: configuration documents, services made
// from them, samples with a value in every field, and what readers receive.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <type_traits>

#include "FACE/TSS_Attributes.h"
#include "boardkit/DdsPeer.h"

// The installed Fast DDS frees one of its own statistics objects through a
// pointer of the wrong size whenever a participant goes. Weak: every test
// file may carry it.
extern "C" __attribute__((weak)) const char* __asan_default_options() {
    return "new_delete_type_mismatch=0";
}

// Uninstrumented, Fast DDS shows as unlocking mutexes it does not hold, and
// its discovery thread takes two of its locks in the opposite order to
// endpoint creation; its data races and ours are still reported.
extern "C" __attribute__((weak)) const char* __tsan_default_suppressions() {
    return "mutex:libfastrtps.so\ndeadlock:libfastrtps.so\n";
}

namespace tsstest {
namespace idl = aspn2_msgs::idl;
namespace RC = FACE::RETURN_CODE_TYPE;
using FACE::TSS::CONNECTION_ID_TYPE, FACE::TSS::QV_TSS;

// One DDS domain per test, so that tests run side by side (ctest -j) never
// see each other's endpoints; 140-199 are the transport tests'.
enum Domain : uint32_t {
    kDomainLowerCaseUdp = 142, kDomainConnections, kDomainShippedFile, kDomainTypedCodes, kDomainQosAttributes,
    kDomainExchangeShm = 150, kDomainExchangeUdp, kDomainExchangeTcp, kDomainBackFill, kDomainOversized = 155,
    kDomainCorrupted, kDomainHighRate, kDomainCycloneUdp = 170, kDomainConcurrentSend = 180,
};

using boardkit::At, boardkit::Collector, boardkit::Connection, boardkit::Delivery, boardkit::Document;
using boardkit::FastRtps, boardkit::FreeTcpPort, boardkit::Send, boardkit::Service, boardkit::Set;
using boardkit::Typed, boardkit::TypedPtr, boardkit::WaitMatched, boardkit::WaitUntil;

// Every leaf gets its own value from a running counter, so that a field
// read from the wrong place never matches by accident.
template <typename T>
void Fill(T& value, int64_t& n) {
    if constexpr (idl::cdr::is_struct<T>::value) {
        T::cdr_fields([&](auto member, const char*) { Fill(value.*member, n); });
    } else if constexpr (idl::cdr::is_array<T>::value) {
        for (auto& e : value) Fill(e, n);
    } else if constexpr (std::is_enum_v<T>) {
        value = static_cast<T>(1);  // every enum has a second enumerator
    } else if constexpr (std::is_same_v<T, std::string>) {
        value = "text " + std::to_string(++n);
    } else if constexpr (std::is_floating_point_v<T>) {
        value = static_cast<T>(++n) + 0.25;
    } else {  // 64-bit fields get values that do not fit in 32 bits
        value = static_cast<T>(++n * (sizeof(T) == 8 ? 10000000019LL : 1000003LL));
    }
}

template <typename T>
T Sample(int64_t seed) {
    T value;
    int64_t n = seed * 100;
    Fill(value, n);
    return value;
}

inline idl::EventLog Event(int64_t seed, const std::string& text) {
    idl::EventLog event = Sample<idl::EventLog>(seed);
    event.eventlog(text);
    return event;
}

// Field by field, naming each field that differs.
template <typename T>
void ExpectSame(const T& a, const T& b, const std::string& path = "") {
    if constexpr (idl::cdr::is_struct<T>::value) {
        T::cdr_fields([&](auto member, const char* name) { ExpectSame(a.*member, b.*member, path + "." + name); });
    } else {
        EXPECT_EQ(a, b) << path;
    }
}

// A writer on a connection of one service and a reader, with the collector
// unless told otherwise, on a connection of another or the same service.
template <typename T>
struct Link {
    Link(Service& writerSide, const std::string& writer, Service& readerSide, const std::string& reader,
         const FACE::TSS::Read_Callback<T>& callback = nullptr)
        : a(writerSide), b(readerSide), ia(a.connect(writer)), ib(b.connect(reader)), out(Typed<T>(a, ia)),
          in(Typed<T>(b, -1, ib, callback ? callback : got.callback())) {}
    Link(Service& writerSide, Service& readerSide, const std::string& connection,
         const FACE::TSS::Read_Callback<T>& callback = nullptr)
        : Link(writerSide, connection, readerSide, connection, callback) {}
    // The reader must not call into the collector once it is gone.
    ~Link() {
        RC::Value code;
        b.tss->Unregister_Callback(ib, code);
    }
    bool matched() { return WaitMatched(*a.tss, ia, *b.tss, ib); }
    RC::Value send(const T& message) { return Send(*out, ia, message); }
    Service &a, &b;
    Collector<T> got;
    CONNECTION_ID_TYPE ia, ib;
    TypedPtr<T> out, in;
};
}  // namespace tsstest

#endif
