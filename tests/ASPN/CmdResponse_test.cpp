#include "ASPN/CmdResponse.h"
#include "ASPN/TimeCodeHelper.h"
#include "platform/FPGA.h"
#include "support/FpgaSession.h"
#include "support/RegisterImage.h"

#include <gtest/gtest.h>

#include <string>

using ASPN2::CmdResponse;
using ASPN2::DeviceIdFactory;
using Message = ASPN2::CmdResponse::Message;

namespace {

Message commandWithText(const std::string& text, int32_t senderDeviceId = 0x0121'0200, int32_t identifier = 7) {
    Message cmd;
    cmd.header().device_id(senderDeviceId);
    cmd.command_identifier(identifier);
    cmd.command_response(text);
    return cmd;
}

}  // namespace

TEST(CmdResponse, CommandsAndResponsesCountIndependently) {
    CmdResponse builder(DeviceIdFactory(3, 44));
    const Message c0 = builder.makeCommand("QUERY_VERSIONING");
    const Message c1 = builder.makeCommand("BITSERVER_PING");
    EXPECT_EQ(0, c0.header().seq_num());
    EXPECT_EQ(1, c1.header().seq_num());
    EXPECT_EQ(0, c0.command_identifier());
    EXPECT_EQ(1, c1.command_identifier());

    const Message r0 = builder.makeResponse(c1, std::string("Chronavel"));
    const Message r1 = builder.makeResponse(c0, true);
    EXPECT_EQ(0, r0.header().seq_num()) << "responses have their own sequence";
    EXPECT_EQ(1, r1.header().seq_num());

    const Message c2 = builder.makeCommand("SERVER_STARTED");
    EXPECT_EQ(2, c2.header().seq_num()) << "responses leave the command sequence alone";
    EXPECT_EQ(2, c2.command_identifier());
    EXPECT_EQ(2, builder.makeResponseAck(c2, false).header().seq_num());

    // reset changes the device id only.
    builder.reset(DeviceIdFactory(1, 44));
    const Message c3 = builder.makeCommand("x");
    EXPECT_EQ(3, c3.header().seq_num());
    EXPECT_EQ(3, c3.command_identifier());
    EXPECT_EQ(0x012C0200, c3.header().device_id());
}

TEST(CmdResponse, CommandFields) {
    CmdResponse builder(DeviceIdFactory(3, 44));
    EXPECT_EQ(0x032C0200u, builder.deviceId());
    const Message c = builder.makeCommand("REQUEST_ZEROIZE");
    EXPECT_EQ(0x032C0200, c.header().device_id());
    EXPECT_EQ(0, c.commanded_device_id());
    EXPECT_EQ(aspn2_msgs::idl::command_response_type_enum::COMMAND_RESPONSE_TYPE_COMMAND,
              c.command_response_type());
    EXPECT_EQ("REQUEST_ZEROIZE", c.command_response());

    CmdResponse unset;
    EXPECT_EQ(0, unset.makeCommand("x").header().device_id());
}

TEST(CmdResponse, ResponseAnswersItsCommand) {
    CmdResponse builder(DeviceIdFactory(2, 44));
    const Message cmd = commandWithText("BITSERVER_PING", static_cast<int32_t>(0x8160'0203u), -5);
    const Message r = builder.makeResponse(cmd, std::string("Chronavel"));
    EXPECT_EQ(0x022C0200, r.header().device_id());
    EXPECT_EQ(static_cast<int32_t>(0x8160'0203u), r.commanded_device_id());
    EXPECT_EQ(-5, r.command_identifier());
    EXPECT_EQ(aspn2_msgs::idl::command_response_type_enum::COMMAND_RESPONSE_TYPE_RESPONSE,
              r.command_response_type());
    EXPECT_EQ("Chronavel", r.command_response());
    // A literal is a reply text, not a pass/fail flag.
    EXPECT_EQ("Chronavel", builder.makeResponse(cmd, "Chronavel").command_response());
}

TEST(CmdResponse, PassFailAckNackAnswerWithTheCommandWord) {
    CmdResponse builder;
    struct Case {
        std::string command;
        std::string word;
    } cases[] = {{"BITSERVER_PING", "BITSERVER_PING"},
                 {"BITSERVER_PING,extra,args", "BITSERVER_PING"},
                 {"", ""},
                 {",lead", ""},
                 {"TRAILING,", "TRAILING"},
                 {"A B,C", "A B"}};
    for (const Case& c : cases) {
        const Message cmd = commandWithText(c.command);
        EXPECT_EQ(c.word + "_PASS", builder.makeResponse(cmd, true).command_response()) << c.command;
        EXPECT_EQ(c.word + "_FAIL", builder.makeResponse(cmd, false).command_response()) << c.command;
        EXPECT_EQ(c.word + "_ACK", builder.makeResponseAck(cmd, true).command_response()) << c.command;
        EXPECT_EQ(c.word + "_NACK", builder.makeResponseAck(cmd, false).command_response()) << c.command;
    }
}

TEST(CmdResponse, TopicIdReplacesOnlyTheLowByte) {
    CmdResponse builder(DeviceIdFactory(3, 44));
    Message m = builder.makeCommand("x");
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
    EXPECT_EQ(eNack, GetResponseType(std::string("BITSERVER_PING_NACK")));
    EXPECT_EQ(eAck, GetResponseType(std::string("BITSERVER_PING_ACK")));
    EXPECT_EQ(eNone, GetResponseType(std::string("QUERY_VERSIONING")));
    EXPECT_EQ(ePass, GetResponseType(std::string("X_PASS")));
    EXPECT_EQ(eFail, GetResponseType(std::string("X_FAIL")));
    EXPECT_EQ(eNone, GetResponseType(std::string("")));
    // Earlier words win wherever they stand.
    EXPECT_EQ(eAck, GetResponseType(std::string("_NACK then _ACK")));
    EXPECT_EQ(eNack, GetResponseType(std::string("_FAIL_PASS_NACK")));
    EXPECT_EQ(ePass, GetResponseType(std::string("_FAIL_PASS")));
    EXPECT_EQ(eNone, GetResponseType(std::string("PASS FAIL ACK")));
    EXPECT_EQ(eNack, GetResponseType(commandWithText("Y_NACK")));
}

TEST(CmdResponse, StampedFromTheFpgaCounter) {
    testsupport::FpgaImageContents contents;
    contents.systemCount = 2 * 58982400;
    testsupport::RegisterImage image(contents);
    testsupport::FpgaSession session(image);

    CmdResponse builder(DeviceIdFactory(3, 44));
    const Message c = builder.makeCommand("x");
    EXPECT_EQ(1, c.header().timestamp_valid().sec());
    EXPECT_EQ(999999992, c.header().timestamp_valid().nsec());
    EXPECT_EQ(100, c.header().timestamp_valid().time_code());
    EXPECT_EQ(1, c.header().timestamp_arrival().sec());
    EXPECT_EQ(999999992, c.header().timestamp_arrival().nsec());

    image.poke(testsupport::fpgablock::kTimestamp, 0x80, 64, 3 * 58982400);
    ASPN2::TimeCodeHelper::Instance().setSimMode();
    const Message r = builder.makeResponse(c, true);
    const Message late = builder.makeCommand(58982400, "y");
    ASPN2::TimeCodeHelper::Instance().setLiveMode();
    EXPECT_EQ(2, r.header().timestamp_valid().sec());
    EXPECT_EQ(101, r.header().timestamp_valid().time_code());
    EXPECT_EQ(2, r.header().timestamp_arrival().sec());
    // makeCommand with ticks: the arrival from the ticks, validity from the counter.
    EXPECT_EQ(2, late.header().timestamp_valid().sec());
    EXPECT_EQ(0, late.header().timestamp_arrival().sec());
    EXPECT_EQ(999999992, late.header().timestamp_arrival().nsec());
}

TEST(CmdResponse, UnstartedFpgaStampsZeroTicks) {
    CmdResponse builder;
    const Message c = builder.makeCommand("x");
    EXPECT_EQ(0, c.header().timestamp_valid().sec());
    EXPECT_EQ(-8, c.header().timestamp_valid().nsec());
}
