#ifndef TESTS_FACE_TSSTESTSUPPORT_H
#define TESTS_FACE_TSSTESTSUPPORT_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fastrtps/attributes/LibrarySettingsAttributes.h>
#include <fastrtps/xmlparser/XMLProfileManager.h>
#include <gtest/gtest.h>

#include "FACE/QV_Config.h"
#include "FACE/QV_TSS.h"
#include "support/TempDir.h"

// The installed Fast DDS frees one of its own statistics objects through a
// pointer of the wrong size whenever a participant goes away; that check
// would stop every test that makes a participant. Weak, so that every test
// file may carry the same definition.
extern "C" __attribute__((weak)) const char* __asan_default_options() {
    return "new_delete_type_mismatch=0";
}

// Under ThreadSanitizer the installed, uninstrumented Fast DDS shows as
// unlocking mutexes it does not hold; only those reports of the library are
// set aside, its data races and ours are still reported.
extern "C" __attribute__((weak)) const char* __tsan_default_suppressions() {
    return "mutex:libfastrtps.so\n";
}

namespace tsstest {

// DDS domains of these tests, one per test, so that tests that run at the
// same time (ctest -j) never see each other's endpoints. The range 140-199
// is kept for the transport tests.
enum Domain : uint32_t {
    kDomainHex = 16,  // written as 0x10 in its file
    kDomainInitialize = 140,
    kDomainSecondInitialize = 141,
    kDomainLowerCaseUdp = 142,
    kDomainConnections = 143,
    kDomainUnknownType = 144,
    kDomainTypedCodes = 145,
    kDomainQosAttributes = 146,
    kDomainTopicTypeMismatch = 147,
    kDomainExchangeShm = 150,
    kDomainExchangeUdp = 151,
    kDomainExchangeTcp = 152,
    kDomainBackFill = 153,
    kDomainBestEffort = 154,
    kDomainOversized = 155,
    kDomainCorrupted = 156,
    kDomainHighRate = 157,
    kDomainUnregister = 158,
    kDomainCallbackThrows = 159,
    kDomainCycloneUdp = 170,
    kDomainConcurrentSend = 180,
};

using Parameters = std::vector<std::pair<std::string, std::string>>;

// One configuration set in the document format of QV_Config.
inline std::string Set(const std::string& name, const Parameters& parameters) {
    std::string text = "  <Set><Name>" + name + "</Name><Parameters>";
    for (const auto& p : parameters) {
        text += "<" + p.first + ">" + p.second + "</" + p.first + ">";
    }
    return text + "</Parameters></Set>\n";
}

inline std::string Document(const std::vector<std::string>& sets) {
    std::string text = "<?xml version=\"1.0\"?>\n<QV_Configurations>\n";
    for (const auto& s : sets) {
        text += s;
    }
    return text + "</QV_Configurations>\n";
}

struct FastRtps {
    std::string domainId = "0";
    std::string historyDepth = "5";
    std::string useBestEffort = "false";
    std::string backFillHistory = "false";
    std::string useTransport = "SHM";
    std::string tcpAddress = "127.0.0.1";
    std::string tcpPort = "0";

    std::string set() const {
        return Set("FastRtps", {{"DomainId", domainId},
                                {"HistoryDepth", historyDepth},
                                {"UseBestEffort", useBestEffort},
                                {"BackFillHistory", backFillHistory},
                                {"UseTransport", useTransport},
                                {"TcpAddress", tcpAddress},
                                {"TcpPort", tcpPort}});
    }
};

inline std::string Connection(const std::string& name, const std::string& messageType) {
    return Set(name, {{"TopicType", "aspn2_msgs::idl::" + messageType},
                      {"PubSubType", messageType + "PubSubType"}});
}

// The four connections of the server, each carrying its own type.
inline std::vector<std::string> ServerConnections() {
    return {Connection("EventLog", "EventLog"), Connection("Command", "CommandResponse"),
            Connection("Response", "CommandResponse"), Connection("UTCTime", "UTCTime")};
}

// Two participants of one process would otherwise hand samples to each
// other in memory and never touch the transport under test.
inline void UseTransportsInProcess() {
    eprosima::fastrtps::LibrarySettingsAttributes settings;
    settings.intraprocess_delivery = eprosima::fastrtps::INTRAPROCESS_OFF;
    eprosima::fastrtps::xmlparser::XMLProfileManager::library_settings(settings);
}

// A transport service configured from a file of its own and initialized.
struct Service {
    testsupport::TempDir dir;
    std::shared_ptr<FACE::TSS::QV_TSS> tss;
    FACE::RETURN_CODE_TYPE::Value initialized = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;

    Service(const std::string& name, const std::string& document) : tss(std::make_shared<FACE::TSS::QV_TSS>(name)) {
        UseTransportsInProcess();
        const std::string path = dir.write("connections.xml", document);
        FACE::RETURN_CODE_TYPE::Value code;
        tss->Set_Reference("", std::make_shared<FACE::QV_Config>(), 0, code);
        tss->Initialize(path.c_str(), initialized);
    }

    FACE::TSS::CONNECTION_ID_TYPE connect(const std::string& name,
                                          FACE::RETURN_CODE_TYPE::Value expected = FACE::RETURN_CODE_TYPE::NO_ERROR) {
        FACE::TSS::CONNECTION_ID_TYPE id = -2;
        FACE::TSS::MESSAGE_SIZE_TYPE size = 0;
        FACE::RETURN_CODE_TYPE::Value code;
        tss->Create_Connection(name.c_str(), -1, id, size, code);
        EXPECT_EQ(code, expected) << name;
        return id;
    }
};

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

// A TCP port that was free a moment ago on 127.0.0.1.
inline uint16_t FreeTcpPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    uint16_t port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    if (fd >= 0) {
        close(fd);
    }
    return port;
}

}  // namespace tsstest

#endif
