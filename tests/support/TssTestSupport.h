#ifndef TESTS_FACE_TSSTESTSUPPORT_H
#define TESTS_FACE_TSSTESTSUPPORT_H

// Fixtures of the transport tests: configuration documents, services made
// from them, samples with a value in every field, and what readers receive.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include <fastrtps/attributes/LibrarySettingsAttributes.h>
#include <fastrtps/xmlparser/XMLProfileManager.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FACE/QV_Config.h"
#include "FACE/QV_TSS.h"
#include "FACE/QV_TypedTS.h"
#include "FACE/TSS_Attributes.h"
#include "aspn2_msgs/Messages.h"
#include "boardkit/ConfigFiles.h"
#include "boardkit/TempDir.h"

// The installed Fast DDS frees one of its own statistics objects through a
// pointer of the wrong size whenever a participant goes away; that check
// would stop every test that makes a participant. Weak, so that every test
// file may carry the same definition.
extern "C" __attribute__((weak)) const char* __asan_default_options() {
    return "new_delete_type_mismatch=0";
}

// Under ThreadSanitizer the installed, uninstrumented Fast DDS shows as
// unlocking mutexes it does not hold, and its discovery thread takes two of
// its own locks in the opposite order to endpoint creation; only those
// reports of the library are set aside, its data races and ours are still
// reported.
extern "C" __attribute__((weak)) const char* __tsan_default_suppressions() {
    return "mutex:libfastrtps.so\ndeadlock:libfastrtps.so\n";
}

namespace tsstest {

namespace idl = aspn2_msgs::idl;
namespace RC = FACE::RETURN_CODE_TYPE;
using FACE::TSS::CONNECTION_ID_TYPE;
using FACE::TSS::QV_TSS;
template <typename T>
using TypedPtr = std::shared_ptr<FACE::TSS::Details::QV_TypedTS<T>>;

// DDS domains of these tests, one per test, so that tests that run at the
// same time (ctest -j) never see each other's endpoints. The range 140-199
// is kept for the transport tests.
enum Domain : uint32_t {
    kDomainLowerCaseUdp = 142,
    kDomainConnections = 143,
    kDomainShippedFile = 144,
    kDomainTypedCodes = 145,
    kDomainQosAttributes = 146,
    kDomainExchangeShm = 150,
    kDomainExchangeUdp = 151,
    kDomainExchangeTcp = 152,
    kDomainBackFill = 153,
    kDomainOversized = 155,
    kDomainCorrupted = 156,
    kDomainHighRate = 157,
    kDomainCycloneUdp = 170,
    kDomainConcurrentSend = 180,
};

using boardkit::Connection;
using boardkit::Document;
using boardkit::FastRtps;
using boardkit::Set;

// A transport service configured from a file of its own and initialized.
struct Service {
    boardkit::TempDir dir;
    std::shared_ptr<QV_TSS> tss;
    RC::Value initialized = RC::NOT_AVAILABLE;

    Service(const std::string& name, const std::string& document) : tss(std::make_shared<QV_TSS>(name)) {
        // Two participants of one process would otherwise hand samples to
        // each other in memory and never touch the transport under test.
        eprosima::fastrtps::LibrarySettingsAttributes library;
        library.intraprocess_delivery = eprosima::fastrtps::INTRAPROCESS_OFF;
        eprosima::fastrtps::xmlparser::XMLProfileManager::library_settings(library);
        RC::Value code;
        tss->Set_Reference("", std::make_shared<FACE::QV_Config>(), 0, code);
        tss->Initialize(dir.write("connections.xml", document).c_str(), initialized);
    }
    Service(const std::string& name, const FastRtps& settings) : Service(name, settings.document()) {}

    CONNECTION_ID_TYPE connect(const std::string& name, RC::Value expected = RC::NO_ERROR) {
        CONNECTION_ID_TYPE id = -2;
        FACE::TSS::MESSAGE_SIZE_TYPE size = 0;
        RC::Value code;
        tss->Create_Connection(name.c_str(), -1, id, size, code);
        EXPECT_EQ(code, expected) << name;
        return id;
    }
};

inline QV_TSS::Connection_t& At(QV_TSS& tss, CONNECTION_ID_TYPE id) {
    return tss.connectionMap_mutex_at(static_cast<uint32_t>(id));
}

// Polls until the condition holds or the deadline passes; discovery usually
// takes milliseconds but sometimes a second or more.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Until the writer on one connection and the reader on another see each other.
inline bool WaitMatched(QV_TSS& writerSide, CONNECTION_ID_TYPE writer, QV_TSS& readerSide, CONNECTION_ID_TYPE reader) {
    auto& w = At(writerSide, writer);
    auto& r = At(readerSide, reader);
    return WaitUntil([&] {
        return w.publisherListener() != nullptr && r.subscriberListener() != nullptr &&
               w.publisherListener()->matched() > 0 && r.subscriberListener()->matched() > 0;
    });
}

// A TCP port that was free a moment ago on 127.0.0.1.
inline uint16_t FreeTcpPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    close(fd);
    return bound ? ntohs(address.sin_port) : 0;
}

// Every leaf gets its own value from a running counter, so that a field
// read from the wrong place never matches by accident.
template <typename T>
void Fill(T& value, int64_t& n) {
    if constexpr (idl::cdr::is_struct<T>::value) {
        T::cdr_fields([&](auto member, const char*) { Fill(value.*member, n); });
    } else if constexpr (idl::cdr::is_array<T>::value) {
        for (auto& e : value) {
            Fill(e, n);
        }
    } else if constexpr (std::is_enum_v<T>) {
        value = static_cast<T>(1);  // every enum has a second enumerator
    } else if constexpr (std::is_same_v<T, std::string>) {
        value = "text " + std::to_string(++n);
    } else if constexpr (std::is_floating_point_v<T>) {
        value = static_cast<T>(++n) + 0.25;
    } else {
        // 64-bit fields get values that do not fit in 32 bits.
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

// What one read callback was given.
template <typename T>
struct Delivery {
    CONNECTION_ID_TYPE connectionId;
    FACE::TSS::TRANSACTION_ID_TYPE transactionId;
    T message;
    FACE::TSS::HEADER_TYPE header;
    std::vector<std::pair<std::string, std::string>> qos;
    std::chrono::steady_clock::time_point received;
};

// Collects what a read callback receives, for the test thread to wait on.
template <typename T>
class Collector {
public:
    FACE::TSS::Read_Callback<T> callback() {
        return [this](CONNECTION_ID_TYPE id, FACE::TSS::TRANSACTION_ID_TYPE transaction, const T& message,
                      const FACE::TSS::HEADER_TYPE& header, const FACE::TSS::QoS_EVENT_TYPE& qos, RC::Value& code) {
            Delivery<T> d{id, transaction, message, header, {}, std::chrono::steady_clock::now()};
            for (uint32_t i = 0; i < qos.length(); ++i) {
                d.qos.emplace_back(qos[i].name.str(), qos[i].value.str());
            }
            code = RC::NO_ERROR;
            std::lock_guard<std::mutex> lock(m_mutex);
            m_deliveries.push_back(std::move(d));
            m_changed.notify_all();
        };
    }

    bool waitFor(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_deliveries.size() >= count; });
    }

    std::vector<Delivery<T>> deliveries() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_deliveries;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Delivery<T>> m_deliveries;
};

// A typed transport over the service, with a writer and a reader on the
// connections given.
template <typename T>
TypedPtr<T> Typed(const Service& s, CONNECTION_ID_TYPE writer = -1, CONNECTION_ID_TYPE reader = -1,
                  const FACE::TSS::Read_Callback<T>& callback = nullptr) {
    auto typed = std::make_shared<FACE::TSS::Details::QV_TypedTS<T>>();
    RC::Value code;
    typed->Set_Reference("", s.tss, 0, code);
    EXPECT_EQ(code, RC::NO_ERROR);
    if (writer >= 0) {
        typed->Register_Sender(writer, code);
        EXPECT_EQ(code, RC::NO_ERROR) << writer;
    }
    if (reader >= 0) {
        typed->Register_Callback(reader, callback, code);
        EXPECT_EQ(code, RC::NO_ERROR) << reader;
    }
    return typed;
}

template <typename T>
RC::Value Send(FACE::TSS::TypedTS<T>& typed, CONNECTION_ID_TYPE id, const T& message) {
    FACE::TSS::TRANSACTION_ID_TYPE transaction = 0;
    RC::Value code = RC::NOT_AVAILABLE;
    typed.Send_Message(id, -1, transaction, message, code);
    return code;
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

    Service& a;
    Service& b;
    Collector<T> got;
    CONNECTION_ID_TYPE ia;
    CONNECTION_ID_TYPE ib;
    TypedPtr<T> out;
    TypedPtr<T> in;
};

}  // namespace tsstest

#endif
