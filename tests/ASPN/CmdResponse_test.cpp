#include "ASPN/CmdResponse.h"
#include "ASPN/TimeCodeHelper.h"
#include "support/FpgaSession.h"
#include "support/RegisterImage.h"

#include <gtest/gtest.h>

#include <string>

using ASPN2::CmdResponse;
using ASPN2::DeviceIdFactory;
using Message = ASPN2::CmdResponse::Message;
using aspn2_msgs::idl::command_response_type_enum;

namespace {

Message command(const std::string& text, int32_t senderDeviceId = 0x0121'0200, int32_t identifier = 7) {
    Message cmd;
    cmd.header().device_id(senderDeviceId);
    cmd.command_identifier(identifier);
    cmd.command_response(text);
    return cmd;
}

}  // namespace

TEST(CmdResponse, CommandAndResponseSequencesAreIndependent) {
    CmdResponse builder(DeviceIdFactory(3, 44));
    const Message c0 = builder.makeCommand("QUERY_VERSIONING");
    const Message c1 = builder.makeCommand("BITSERVER_PING");
    EXPECT_EQ(0, c0.header().seq_num());
    EXPECT_EQ(0, c0.command_identifier());
    EXPECT_EQ(1, c1.header().seq_num());
    EXPECT_EQ(1, c1.command_identifier());
    EXPECT_EQ(0, builder.makeResponse(c1, std::string("Chronavel")).header().seq_num());
    EXPECT_EQ(1, builder.makeResponse(c0, true).header().seq_num());
    EXPECT_EQ(2, builder.makeResponseAck(c0, false).header().seq_num());

    builder.reset(DeviceIdFactory(1, 44));
    const Message c2 = builder.makeCommand("x");
    EXPECT_EQ(2, c2.header().seq_num()) << "responses and reset leave the command counters alone";
    EXPECT_EQ(2, c2.command_identifier());
    EXPECT_EQ(0x012C0200, c2.header().device_id());
}

TEST(CmdResponse, CommandAndResponseFields) {
    CmdResponse builder(DeviceIdFactory(3, 44));
    const Message c = builder.makeCommand("REQUEST_ZEROIZE");
    EXPECT_EQ(0x032C0200, c.header().device_id());
    EXPECT_EQ(0, c.commanded_device_id());
    EXPECT_EQ(command_response_type_enum::COMMAND_RESPONSE_TYPE_COMMAND, c.command_response_type());
    EXPECT_EQ("REQUEST_ZEROIZE", c.command_response());

    const Message cmd = command("BITSERVER_PING", static_cast<int32_t>(0x8160'0203u), -5);
    const Message r = builder.makeResponse(cmd, std::string("Chronavel"));
    EXPECT_EQ(0x032C0200, r.header().device_id());
    EXPECT_EQ(static_cast<int32_t>(0x8160'0203u), r.commanded_device_id());
    EXPECT_EQ(-5, r.command_identifier());
    EXPECT_EQ(command_response_type_enum::COMMAND_RESPONSE_TYPE_RESPONSE, r.command_response_type());
    EXPECT_EQ("Chronavel", r.command_response());
    EXPECT_EQ("Chronavel", builder.makeResponse(cmd, "Chronavel").command_response())
        << "a literal is a reply text, not a pass/fail flag";
    EXPECT_EQ(0, CmdResponse().makeCommand("x").header().device_id());
}

TEST(CmdResponse, PassFailAckNackAnswerWithTheCommandWord) {
    CmdResponse builder;
    const std::pair<std::string, std::string> cases[] = {{"BITSERVER_PING", "BITSERVER_PING"},
                                                         {"BITSERVER_PING,extra,args", "BITSERVER_PING"},
                                                         {"", ""},
                                                         {",lead", ""},
                                                         {"A B,", "A B"}};
    for (const auto& [text, word] : cases) {
        const Message cmd = command(text);
        EXPECT_EQ(word + "_PASS", builder.makeResponse(cmd, true).command_response()) << text;
        EXPECT_EQ(word + "_FAIL", builder.makeResponse(cmd, false).command_response()) << text;
        EXPECT_EQ(word + "_ACK", builder.makeResponseAck(cmd, true).command_response()) << text;
        EXPECT_EQ(word + "_NACK", builder.makeResponseAck(cmd, false).command_response()) << text;
    }
}

TEST(CmdResponse, TopicIdReplacesOnlyTheLowByte) {
    Message m = CmdResponse(DeviceIdFactory(3, 44)).makeCommand("x");
    CmdResponse::setTopicId(m, 0x5A);
    EXPECT_EQ(0x032C025A, m.header().device_id());
    CmdResponse::setTopicId(m, 0);
    EXPECT_EQ(0x032C0200, m.header().device_id());
    m.header().device_id(static_cast<int32_t>(0xFFFFFF00u));
    CmdResponse::setTopicId(m, 0xFF);
    EXPECT_EQ(-1, m.header().device_id());
}

TEST(ResponseType, SearchOrderAckNackPassFail) {
    using namespace ASPN2::ResponseType;
    const std::pair<std::string, eResponseType> cases[] = {
        {"BITSERVER_PING_NACK", eNack}, {"BITSERVER_PING_ACK", eAck}, {"QUERY_VERSIONING", eNone},
        {"X_PASS", ePass},              {"X_FAIL", eFail},            {"", eNone},
        {"_NACK then _ACK", eAck},      {"_FAIL_PASS_NACK", eNack},   {"_FAIL_PASS", ePass},
        {"PASS FAIL ACK", eNone}};
    for (const auto& [text, type] : cases) {
        EXPECT_EQ(type, GetResponseType(command(text))) << text;
    }
}

TEST(CmdResponse, StampedFromTheFpgaCounter) {
    EXPECT_EQ(-8, CmdResponse().makeCommand("before the FPGA starts").header().timestamp_valid().nsec());

    testsupport::FpgaImageContents contents;
    contents.systemCount = 2 * 58982400;
    testsupport::RegisterImage image(contents);
    testsupport::FpgaSession session(image);
    CmdResponse builder;
    const Message c = builder.makeCommand("x");
    EXPECT_EQ(1, c.header().timestamp_valid().sec());
    EXPECT_EQ(999999992, c.header().timestamp_valid().nsec());
    EXPECT_EQ(100, c.header().timestamp_valid().time_code());
    EXPECT_EQ(1, c.header().timestamp_arrival().sec());

    image.poke(testsupport::fpgablock::kTimestamp, 0x80, 64, 3 * 58982400);
    ASPN2::TimeCodeHelper::Instance().setSimMode();
    const Message r = builder.makeResponse(c, true);
    const Message late = builder.makeCommand(58982400, "arrived a while ago");
    ASPN2::TimeCodeHelper::Instance().setLiveMode();
    EXPECT_EQ(2, r.header().timestamp_valid().sec());
    EXPECT_EQ(101, r.header().timestamp_arrival().time_code());
    EXPECT_EQ(2, late.header().timestamp_valid().sec());
    EXPECT_EQ(0, late.header().timestamp_arrival().sec()) << "arrival from the given ticks";
    EXPECT_EQ(999999992, late.header().timestamp_arrival().nsec());
}
