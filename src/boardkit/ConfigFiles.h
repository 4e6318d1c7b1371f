#ifndef BOARDKIT_CONFIGFILES_H
#define BOARDKIT_CONFIGFILES_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "FACE/TSS_Security.h"

namespace boardkit {

// One configuration set in the document format of QV_Config.
inline std::string Set(const std::string& name, const std::vector<std::pair<std::string, std::string>>& parameters) {
    std::string text = "  <Set><Name>" + name + "</Name><Parameters>";
    for (const auto& p : parameters) {
        text += "<" + p.first + ">" + p.second + "</" + p.first + ">";
    }
    return text + "</Parameters></Set>\n";
}

inline std::string Document(const std::string& sets) {
    return "<?xml version=\"1.0\"?>\n<QV_Configurations>\n" + sets + "</QV_Configurations>\n";
}

inline std::string Connection(const std::string& name, const std::string& messageType) {
    return Set(name, {{"TopicType", "aspn2_msgs::idl::" + messageType}, {"PubSubType", messageType + "PubSubType"}});
}

// The "Security" set naming these files.
inline std::string SecuritySet(const FACE::TSS::Security::Files& f) {
    return Set("Security", {{"IdentityCA", f.identityCa}, {"IdentityCertificate", f.identityCertificate},
                            {"PrivateKey", f.privateKey}, {"PermissionsCA", f.permissionsCa},
                            {"Governance", f.governance}, {"Permissions", f.permissions}});
}

// An identity of a PKI made by config/security/make-demo-pki.sh in dir.
inline FACE::TSS::Security::Files DemoIdentity(const std::string& dir, const std::string& identity,
                                               const std::string& governance = "governance.p7s") {
    return {dir + "/ca.pem", dir + "/" + identity + ".pem", dir + "/" + identity + ".key",
            dir + "/ca.pem", dir + "/" + governance, dir + "/permissions.p7s"};
}

struct FastRtps {
    explicit FastRtps(uint32_t domain, std::string transport = "SHM")
        : domainId(std::to_string(domain)), useTransport(std::move(transport)) {}

    std::string domainId;
    std::string useTransport;
    std::string historyDepth = "5";
    std::string useBestEffort = "false";
    std::string backFillHistory = "false";
    std::string tcpAddress = "127.0.0.1";
    std::string tcpPort = "0";
    std::string security;  // a SecuritySet, or nothing for an unsecured participant

    std::string set() const {
        return Set("FastRtps", {{"DomainId", domainId}, {"HistoryDepth", historyDepth},
                                {"UseBestEffort", useBestEffort}, {"BackFillHistory", backFillHistory},
                                {"UseTransport", useTransport}, {"TcpAddress", tcpAddress},
                                {"TcpPort", tcpPort}}) +
               security;
    }
    // With the four connections of the server, each carrying its own type.
    std::string document() const {
        return Document(set() + Connection("EventLog", "EventLog") + Connection("Command", "CommandResponse") +
                        Connection("Response", "CommandResponse") + Connection("UTCTime", "UTCTime"));
    }
};

}  // namespace boardkit

#endif
