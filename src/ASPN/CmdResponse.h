#ifndef ASPN_CMDRESPONSE_H
#define ASPN_CMDRESPONSE_H

#include <atomic>
#include <cstdint>
#include <string>

#include "ASPN/DeviceIds.h"
#include "aspn2_msgs/Messages.h"

namespace ASPN2 {

// Builds the CommandResponse messages a server sends: header, sequence
// numbers, command identifiers and time stamps. One builder may be used
// from any number of threads at once; no two messages it builds share a
// sequence number, and no two commands a command identifier.
class CmdResponse {
public:
    using Message = aspn2_msgs::idl::CommandResponse;

    CmdResponse() = default;
    explicit CmdResponse(const DeviceIdFactory& factory);
    CmdResponse(const CmdResponse&) = delete;
    CmdResponse& operator=(const CmdResponse&) = delete;

    // Takes the device id from factory; the counters keep running.
    void reset(const DeviceIdFactory& factory);
    uint32_t deviceId() const { return m_deviceId.load(); }

    // Stamped with the FPGA system count.
    Message makeCommand(const std::string& text);
    // As above, with the time of arrival taken from ticks.
    Message makeCommand(uint64_t ticks, const std::string& text);

    // Answers command with text.
    Message makeResponse(const Message& command, const std::string& text);
    // A literal is a text, not a pass/fail flag.
    Message makeResponse(const Message& command, const char* text) {
        return makeResponse(command, std::string(text != nullptr ? text : ""));
    }
    // Answers with the command word followed by "_PASS" or "_FAIL".
    Message makeResponse(const Message& command, bool pass);
    // Answers with the command word followed by "_ACK" or "_NACK".
    Message makeResponseAck(const Message& command, bool ack);

    // Replaces the low byte of the message's device id.
    static void setTopicId(Message& message, uint8_t topicId);

private:
    Message stamped(uint64_t seq) const;

    std::atomic<uint32_t> m_deviceId{0};
    std::atomic<uint64_t> m_commandSeq{0};
    std::atomic<uint64_t> m_responseSeq{0};
    std::atomic<uint32_t> m_commandId{0};
};

namespace ResponseType {
enum eResponseType : int32_t { eNone = 0, eAck = 1, eNack = 2, ePass = 3, eFail = 4 };

// Searches the reply text for "_ACK", "_NACK", "_PASS", "_FAIL", in that
// order; 0 when none is found.
eResponseType GetResponseType(const std::string& text);
eResponseType GetResponseType(const aspn2_msgs::idl::CommandResponse& message);
}  // namespace ResponseType

}  // namespace ASPN2

#endif
