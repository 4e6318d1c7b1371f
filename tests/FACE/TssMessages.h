#ifndef TESTS_FACE_TSSMESSAGES_H
#define TESTS_FACE_TSSMESSAGES_H

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "FACE/QV_TypedTS.h"
#include "TssTestSupport.h"
#include "aspn2_msgs/Messages.h"

namespace tsstest {

namespace idl = aspn2_msgs::idl;

// Every field gets its own value, derived from base, so that a field read
// from the wrong place never matches by accident.
inline idl::header MakeHeader(int64_t base) {
    idl::header h;
    h.seq_num(base * 1000003 + 1);
    h.timestamp_arrival().sec(base + 1700000000LL);
    h.timestamp_arrival().nsec(static_cast<int32_t>(base + 123456789));
    h.timestamp_arrival().time_code(100);
    h.timestamp_valid().sec(base + 1700000001LL);
    h.timestamp_valid().nsec(static_cast<int32_t>(base + 987654321));
    h.timestamp_valid().time_code(101);
    h.device_id(static_cast<int32_t>(0x032C0200 + base));
    return h;
}

inline idl::UTCTime MakeUtc(int64_t base) {
    idl::UTCTime m;
    m.header(MakeHeader(base));
    m.gps_tow_sec(static_cast<int32_t>(345600 + base));
    m.gps_tow_nsec(0.25 + static_cast<double>(base));
    m.gps_week(static_cast<int32_t>(2300 + base));
    m.utc_tod_sec(static_cast<int32_t>(43200 + base));
    m.utc_tod_nsec(999999.5 + static_cast<double>(base));
    m.a1(-1.5e-9);
    m.covariance({{{1e-16, 2e-17}, {3e-18, -4e-19}}});
    return m;
}

inline idl::CommandResponse MakeCommand(int64_t base, const std::string& text) {
    idl::CommandResponse m;
    m.header(MakeHeader(base));
    m.commanded_device_id(static_cast<int32_t>(0x01600000 + base));
    m.command_identifier(static_cast<int32_t>(7 + base));
    m.command_response_type(idl::COMMAND_RESPONSE_TYPE_RESPONSE);
    m.command_response(text);
    return m;
}

inline idl::EventLog MakeEvent(int64_t base, const std::string& text) {
    idl::EventLog m;
    m.header(MakeHeader(base));
    m.event_log_type(idl::EVENT_LOG_TYPE_FAULT);
    m.eventlog(text);
    return m;
}

inline void ExpectSame(const idl::timestamp& a, const idl::timestamp& b, const char* what) {
    EXPECT_EQ(a.sec(), b.sec()) << what;
    EXPECT_EQ(a.nsec(), b.nsec()) << what;
    EXPECT_EQ(a.time_code(), b.time_code()) << what;
}

inline void ExpectSame(const idl::header& a, const idl::header& b) {
    EXPECT_EQ(a.seq_num(), b.seq_num());
    ExpectSame(a.timestamp_arrival(), b.timestamp_arrival(), "timestamp_arrival");
    ExpectSame(a.timestamp_valid(), b.timestamp_valid(), "timestamp_valid");
    EXPECT_EQ(a.device_id(), b.device_id());
}

inline void ExpectSame(const idl::UTCTime& a, const idl::UTCTime& b) {
    ExpectSame(a.header(), b.header());
    EXPECT_EQ(a.gps_tow_sec(), b.gps_tow_sec());
    EXPECT_EQ(a.gps_tow_nsec(), b.gps_tow_nsec());
    EXPECT_EQ(a.gps_week(), b.gps_week());
    EXPECT_EQ(a.utc_tod_sec(), b.utc_tod_sec());
    EXPECT_EQ(a.utc_tod_nsec(), b.utc_tod_nsec());
    EXPECT_EQ(a.a1(), b.a1());
    EXPECT_EQ(a.covariance(), b.covariance());
}

inline void ExpectSame(const idl::CommandResponse& a, const idl::CommandResponse& b) {
    ExpectSame(a.header(), b.header());
    EXPECT_EQ(a.commanded_device_id(), b.commanded_device_id());
    EXPECT_EQ(a.command_identifier(), b.command_identifier());
    EXPECT_EQ(a.command_response_type(), b.command_response_type());
    EXPECT_EQ(a.command_response(), b.command_response());
}

inline void ExpectSame(const idl::EventLog& a, const idl::EventLog& b) {
    ExpectSame(a.header(), b.header());
    EXPECT_EQ(a.event_log_type(), b.event_log_type());
    EXPECT_EQ(a.eventlog(), b.eventlog());
}

// What one read callback was given.
template <typename T>
struct Delivery {
    FACE::TSS::CONNECTION_ID_TYPE connectionId;
    FACE::TSS::TRANSACTION_ID_TYPE transactionId;
    T message;
    FACE::TSS::HEADER_TYPE header;
    std::vector<std::pair<std::string, std::string>> qos;
};

// Collects what a read callback receives, for the test thread to wait on.
template <typename T>
class Collector {
public:
    FACE::TSS::Read_Callback<T> callback() {
        return [this](FACE::TSS::CONNECTION_ID_TYPE id, FACE::TSS::TRANSACTION_ID_TYPE transaction, const T& message,
                      const FACE::TSS::HEADER_TYPE& header, const FACE::TSS::QoS_EVENT_TYPE& qos,
                      FACE::RETURN_CODE_TYPE::Value& code) {
            Delivery<T> d{id, transaction, message, header, {}};
            for (uint32_t i = 0; i < qos.length(); ++i) {
                d.qos.emplace_back(qos[i].name.str(), qos[i].value.str());
            }
            code = FACE::RETURN_CODE_TYPE::NO_ERROR;
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

    std::size_t size() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_deliveries.size();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Delivery<T>> m_deliveries;
};

// A typed transport over a service, set up for the test.
template <typename T>
std::shared_ptr<FACE::TSS::Details::QV_TypedTS<T>> Typed(const std::shared_ptr<FACE::TSS::QV_TSS>& tss) {
    auto typed = std::make_shared<FACE::TSS::Details::QV_TypedTS<T>>();
    FACE::RETURN_CODE_TYPE::Value code;
    typed->Set_Reference("", tss, 0, code);
    EXPECT_EQ(code, FACE::RETURN_CODE_TYPE::NO_ERROR);
    return typed;
}

inline FACE::TSS::QV_TSS::Connection_t& At(FACE::TSS::QV_TSS& tss, FACE::TSS::CONNECTION_ID_TYPE id) {
    return tss.connectionMap_mutex_at(static_cast<uint32_t>(id));
}

// Until the writer on one connection and the reader on another see each
// other.
inline bool WaitMatched(FACE::TSS::QV_TSS& writerSide, FACE::TSS::CONNECTION_ID_TYPE writer,
                        FACE::TSS::QV_TSS& readerSide, FACE::TSS::CONNECTION_ID_TYPE reader) {
    auto& w = At(writerSide, writer);
    auto& r = At(readerSide, reader);
    return WaitUntil([&] {
        return w.publisherListener() != nullptr && r.subscriberListener() != nullptr &&
               w.publisherListener()->matched() > 0 && r.subscriberListener()->matched() > 0;
    });
}

}  // namespace tsstest

#endif
