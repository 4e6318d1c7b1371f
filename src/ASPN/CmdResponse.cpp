#include "ASPN/CmdResponse.h"

#include "ASPN/CommandStrings.h"
#include "ASPN/TimeCodeHelper.h"
#include "FACE/StringUtils.h"
#include "platform/FPGA.h"

#include <vector>

namespace ASPN2 {

namespace {

// The command word: the text before the first comma.
std::string commandWord(const std::string& text) {
    const std::vector<std::string> parts = StringUtils::split(text, ',');
    return parts.empty() ? std::string() : parts.front();
}

}  // namespace

CmdResponse::CmdResponse(const DeviceIdFactory& factory) {
    reset(factory);
}

void CmdResponse::reset(const DeviceIdFactory& factory) {
    m_deviceId.store(factory.makeDeviceId(DeviceIdFactory::CommandResponseClass, 0));
}

CmdResponse::Message CmdResponse::stamped(uint64_t seq) const {
    Message msg;
    aspn2_msgs::idl::header& hdr = msg.header();
    hdr.device_id(static_cast<int32_t>(m_deviceId.load()));
    hdr.seq_num(static_cast<int64_t>(seq));
    setToVandToA_fromFpgaTicks(FpgaFace::Instance().fpga_get_SystemCount(), hdr);
    return msg;
}

CmdResponse::Message CmdResponse::makeCommand(const std::string& text) {
    Message msg = stamped(m_commandSeq.fetch_add(1));
    msg.commanded_device_id(0);
    msg.command_identifier(static_cast<int32_t>(m_commandId.fetch_add(1)));
    msg.command_response_type(aspn2_msgs::idl::command_response_type_enum::COMMAND_RESPONSE_TYPE_COMMAND);
    msg.command_response(text);
    return msg;
}

CmdResponse::Message CmdResponse::makeCommand(uint64_t ticks, const std::string& text) {
    Message msg = makeCommand(text);
    setToA_fromFpgaTicks(ticks, msg.header());
    return msg;
}

CmdResponse::Message CmdResponse::makeResponse(const Message& command, const std::string& text) {
    Message msg = stamped(m_responseSeq.fetch_add(1));
    msg.commanded_device_id(command.header().device_id());
    msg.command_identifier(command.command_identifier());
    msg.command_response_type(aspn2_msgs::idl::command_response_type_enum::COMMAND_RESPONSE_TYPE_RESPONSE);
    msg.command_response(text);
    return msg;
}

CmdResponse::Message CmdResponse::makeResponse(const Message& command, bool pass) {
    return makeResponse(command, commandWord(command.command_response()) +
                                     (pass ? Sys::ResponseString::Pass : Sys::ResponseString::Fail));
}

CmdResponse::Message CmdResponse::makeResponseAck(const Message& command, bool ack) {
    return makeResponse(command, commandWord(command.command_response()) +
                                     (ack ? Sys::ResponseString::Ack : Sys::ResponseString::Nack));
}

void CmdResponse::setTopicId(Message& message, uint8_t topicId) {
    const uint32_t id = static_cast<uint32_t>(message.header().device_id());
    message.header().device_id(static_cast<int32_t>((id & 0xFFFFFF00u) | topicId));
}

ResponseType::eResponseType ResponseType::GetResponseType(const std::string& text) {
    const std::pair<const std::string*, eResponseType> order[] = {{&Sys::ResponseString::Ack, eAck},
                                                                  {&Sys::ResponseString::Nack, eNack},
                                                                  {&Sys::ResponseString::Pass, ePass},
                                                                  {&Sys::ResponseString::Fail, eFail}};
    for (const auto& [word, type] : order) {
        if (text.find(*word) != std::string::npos) {
            return type;
        }
    }
    return eNone;
}

ResponseType::eResponseType ResponseType::GetResponseType(const aspn2_msgs::idl::CommandResponse& message) {
    return GetResponseType(message.command_response());
}

}  // namespace ASPN2
