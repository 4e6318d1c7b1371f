#include "ASPN/CmdResponse.h"
#include "boardkit/FpgaSession.h"
#include "boardkit/RegisterImage.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>

using ASPN2::CmdResponse;
using Message = ASPN2::CmdResponse::Message;

namespace {

Message command(const std::string& text) {
    Message cmd;
    cmd.header().device_id(static_cast<int32_t>(0x8160'0203u));
    cmd.command_identifier(-5);
    cmd.command_response(text);
    return cmd;
}

// Sequence number, device id, commanded device id, identifier, kind, text,
// seconds of validity and of arrival.
std::string fields(const Message& m) {
    const bool isCommand =
        m.command_response_type() == aspn2_msgs::idl::command_response_type_enum::COMMAND_RESPONSE_TYPE_COMMAND;
    std::ostringstream out;
    out << m.header().seq_num() << std::hex << ' ' << m.header().device_id() << ' ' << m.commanded_device_id()
        << std::dec << ' ' << m.command_identifier() << (isCommand ? " command " : " response ") << m.command_response()
        << " @" << m.header().timestamp_valid().sec() << '/' << m.header().timestamp_arrival().sec();
    return out.str();
}

}  // namespace

TEST(CmdResponse, FieldsStampsAndIndependentSequences) {
    EXPECT_EQ(-8, CmdResponse().makeCommand("x").header().timestamp_valid().nsec()) << "before the FPGA starts";
    boardkit::FpgaImageContents contents;
    contents.systemCount = 2 * 58982400;
    boardkit::RegisterImage image(contents);
    boardkit::FpgaSession session(image);
    CmdResponse builder(ASPN2::DeviceIdFactory(3, 44));
    builder.makeCommand("QUERY_VERSIONING");
    const Message c = builder.makeCommand(58982400, "REQUEST_ZEROIZE");
    EXPECT_EQ("1 32c0200 0 1 command REQUEST_ZEROIZE @1/0", fields(c)) << "arrival from the given ticks";

    image.poke(boardkit::fpgablock::kTimestamp, 0x80, 64, 3 * 58982400);
    const Message r = builder.makeResponse(command("BITSERVER_PING"), "Chronavel");
    EXPECT_EQ("0 32c0200 81600203 -5 response Chronavel @2/2", fields(r)) << "a literal is a text, not a pass/fail flag";
    EXPECT_EQ("1 32c0200 32c0200 1 response REQUEST_ZEROIZE_NACK @2/2", fields(builder.makeResponseAck(c, false)));
    builder.reset(ASPN2::DeviceIdFactory(1, 44));
    EXPECT_EQ("2 12c0200 0 2 command x @2/2", fields(builder.makeCommand("x"))) << "responses and reset keep the counters";
}

TEST(CmdResponse, PassFailAckNackAnswerWithTheCommandWord) {
    CmdResponse builder;
    const std::pair<std::string, std::string> cases[] = {
        {"BITSERVER_PING", "BITSERVER_PING"}, {"BITSERVER_PING,extra,args", "BITSERVER_PING"},
        {"", ""}, {",lead", ""}, {"A B,", "A B"}};
    for (const auto& [text, word] : cases) {
        EXPECT_EQ(word + "_PASS", builder.makeResponse(command(text), true).command_response()) << text;
        EXPECT_EQ(word + "_NACK", builder.makeResponseAck(command(text), false).command_response()) << text;
    }
}

TEST(ResponseType, SearchOrderAckNackPassFail) {
    using namespace ASPN2::ResponseType;
    const std::pair<std::string, eResponseType> cases[] = {
        {"X_NACK", eNack},         {"X_ACK", eAck},           {"X_PASS", ePass},
        {"X_FAIL", eFail},         {"QUERY_VERSIONING", eNone}, {"PASS FAIL ACK", eNone},
        {"_NACK then _ACK", eAck}, {"_FAIL_PASS_NACK", eNack}, {"_FAIL_PASS", ePass}};
    for (const auto& [text, type] : cases) {
        EXPECT_EQ(type, GetResponseType(command(text))) << text;
    }
}
