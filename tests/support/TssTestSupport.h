#ifndef TESTS_FACE_TSSTESTSUPPORT_H
#define TESTS_FACE_TSSTESTSUPPORT_H

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>

#include "FACE/TSS_Attributes.h"
#include "boardkit/DdsPeer.h"
#include "support/MessageLeaves.h"

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
    kDomainLowerCaseUdp = 142, kDomainConnections, kDomainTypedCodes = 145, kDomainExchangeShm = 150,
    kDomainExchangeUdp, kDomainExchangeTcp, kDomainCorrupted = 156, kDomainCycloneUdp = 170,
    kDomainConcurrentSend = 180,
};

using boardkit::At, boardkit::Collector, boardkit::Connection, boardkit::Delivery, boardkit::Document;
using boardkit::FastRtps, boardkit::FreeTcpPort, boardkit::Send, boardkit::Service, boardkit::Set;
using boardkit::Typed, boardkit::TypedPtr, boardkit::WaitMatched, boardkit::WaitUntil;
using testsupport::Filled, testsupport::Leaves;

inline idl::EventLog Event(int64_t seed, const std::string& text) {
    idl::EventLog event = Filled<idl::EventLog>(seed);
    event.eventlog(text);
    return event;
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
