#ifndef BOARDKIT_DDSPEER_H
#define BOARDKIT_DDSPEER_H

// The rest of the platform, as DDS participants beside the server: a
// transport service on a connections file of its own, typed writers and
// readers on it, and what the readers received. Failures throw.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fastrtps/attributes/LibrarySettingsAttributes.h>
#include <fastrtps/xmlparser/XMLProfileManager.h>

#include "FACE/QV_Config.h"
#include "FACE/QV_TSS.h"
#include "FACE/QV_TypedTS.h"
#include "aspn2_msgs/Messages.h"
#include "boardkit/ConfigFiles.h"
#include "boardkit/TempDir.h"

namespace boardkit {

namespace RC = FACE::RETURN_CODE_TYPE;
using FACE::TSS::CONNECTION_ID_TYPE;
using FACE::TSS::QV_TSS;
template <typename T>
using TypedPtr = std::shared_ptr<FACE::TSS::Details::QV_TypedTS<T>>;

// A transport service configured from a file of its own and initialized.
struct Service {
    TempDir dir;
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
        if (code != expected) {
            throw std::runtime_error("connection " + name + ": " + RC::Name(code) + ", not " + RC::Name(expected));
        }
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
    if (code == RC::NO_ERROR && writer >= 0) {
        typed->Register_Sender(writer, code);
    }
    if (code == RC::NO_ERROR && reader >= 0) {
        typed->Register_Callback(reader, callback, code);
    }
    if (code != RC::NO_ERROR) {
        throw std::runtime_error(std::string("typed transport: ") + RC::Name(code));
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

// A participant of the rest of the platform, on its own DDS participant,
// with the server's four connections: it publishes UTCTime and commands,
// and reads replies and the EventLog. Under DDS Security, a transport that
// its grant does not permit is left out (null), and sending on it is
// NOT_AVAILABLE.
struct PlatformPeer {
    PlatformPeer(const std::string& name, const std::string& document)
        : peer(name, document),
          utcOut(peer.connect("UTCTime")),
          commandOut(peer.connect("Command")),
          responseIn(peer.connect("Response")),
          eventLogIn(peer.connect("EventLog")),
          utcTime(permitted<aspn2_msgs::idl::UTCTime>(utcOut)),
          commands(permitted<aspn2_msgs::idl::CommandResponse>(commandOut, responseIn, replies.callback())),
          eventLogs(permitted<aspn2_msgs::idl::EventLog>(-1, eventLogIn, events.callback())) {}

    // The readers must not call into the collectors once gone.
    ~PlatformPeer() {
        FACE::RETURN_CODE_TYPE::Value code;
        peer.tss->Unregister_Callback(responseIn, code);
        peer.tss->Unregister_Callback(eventLogIn, code);
    }

    // Until the server's endpoints and this peer's have found each other.
    bool matched() {
        auto& utc = At(*peer.tss, utcOut);
        auto& cmd = At(*peer.tss, commandOut);
        auto& rsp = At(*peer.tss, responseIn);
        auto& log = At(*peer.tss, eventLogIn);
        return WaitUntil([&] {
            return utc.publisherListener()->matched() > 0 && cmd.publisherListener()->matched() > 0 &&
                   rsp.subscriberListener()->matched() > 0 && log.subscriberListener()->matched() > 0;
        });
    }

    static aspn2_msgs::idl::CommandResponse command(const std::string& text, int32_t identifier = 7,
                                                    int32_t deviceId = 0x01630201) {
        aspn2_msgs::idl::CommandResponse c;
        c.header().device_id(deviceId);
        c.command_identifier(identifier);
        c.command_response(text);
        return c;
    }
    FACE::RETURN_CODE_TYPE::Value send(const aspn2_msgs::idl::UTCTime& m) {
        return utcTime ? Send(*utcTime, utcOut, m) : RC::NOT_AVAILABLE;
    }
    FACE::RETURN_CODE_TYPE::Value send(const aspn2_msgs::idl::CommandResponse& c) {
        return commands ? Send(*commands, commandOut, c) : RC::NOT_AVAILABLE;
    }
    // Whether this peer's writer on the connection has found a reader.
    bool writerMatched(FACE::TSS::CONNECTION_ID_TYPE id) { return At(*peer.tss, id).publisherListener()->matched() > 0; }

    // The reply to a ping sent now, or "" after the time-out.
    std::string ping(int32_t identifier) {
        send(command("BITSERVER_PING", identifier));
        std::string reply;
        WaitUntil([&] {
            for (const auto& d : replies.deliveries()) {
                if (d.message.command_identifier() == identifier) {
                    reply = d.message.command_response();
                    return true;
                }
            }
            return false;
        });
        return reply;
    }

    bool sawEvent(const std::string& text) {
        return WaitUntil([&] {
            for (const auto& d : events.deliveries()) {
                if (d.message.eventlog().find(text) != std::string::npos) {
                    return true;
                }
            }
            return false;
        });
    }

    template <typename T>
    TypedPtr<T> permitted(FACE::TSS::CONNECTION_ID_TYPE writer, FACE::TSS::CONNECTION_ID_TYPE reader = -1,
                          const FACE::TSS::Read_Callback<T>& callback = nullptr) {
        try {
            return Typed<T>(peer, writer, reader, callback);
        } catch (const std::runtime_error&) {
            return nullptr;
        }
    }

    Service peer;
    FACE::TSS::CONNECTION_ID_TYPE utcOut;
    FACE::TSS::CONNECTION_ID_TYPE commandOut;
    FACE::TSS::CONNECTION_ID_TYPE responseIn;
    FACE::TSS::CONNECTION_ID_TYPE eventLogIn;
    Collector<aspn2_msgs::idl::CommandResponse> replies;
    Collector<aspn2_msgs::idl::EventLog> events;
    TypedPtr<aspn2_msgs::idl::UTCTime> utcTime;
    TypedPtr<aspn2_msgs::idl::CommandResponse> commands;
    TypedPtr<aspn2_msgs::idl::EventLog> eventLogs;
};

}  // namespace boardkit

#endif
