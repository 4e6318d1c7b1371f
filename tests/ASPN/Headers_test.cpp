#include "ASPN/CmdResponse.h"
#include "ASPN/TimeCodeHelper.h"
#include "boardkit/FpgaSession.h"
#include "boardkit/RegisterImage.h"
#include "platform/FPGA.h"
#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <tuple>

using namespace ASPN2;
using namespace std::chrono_literals;
using Message = CmdResponse::Message;

namespace {
int* volatile g_escape = nullptr;

Message command(const std::string& text) {
    Message cmd;
    cmd.header().device_id(static_cast<int32_t>(0x8160'0203u));
    cmd.command_identifier(-5);
    cmd.command_response(text);
    return cmd;
}

std::string fields(const Message& m) {
    const bool isCommand = m.command_response_type() == aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_COMMAND;
    std::ostringstream out;
    out << m.header().seq_num() << std::hex << ' ' << m.header().device_id() << ' ' << m.commanded_device_id()
        << std::dec << ' ' << m.command_identifier() << (isCommand ? " command " : " response ") << m.command_response()
        << " @" << m.header().timestamp_valid().sec() << '/' << m.header().timestamp_arrival().sec();
    return out.str();
}

auto fields(const aspn2_msgs::idl::header& h) {
    const auto &a = h.timestamp_arrival(), &v = h.timestamp_valid();
    return std::make_tuple(h.seq_num(), h.device_id(), a.sec(), a.nsec(), a.time_code(), v.sec(), v.nsec(),
                           v.time_code());
}
}  // namespace

// System, server, message class and topic bytes. Names and wide ids that
// are not in the tables give the invalid id, never a wrapped one.
TEST(DeviceIds, BytesInOrderNamesMatchExactlyWideIdsAreRefused) {
    DeviceIdFactory f(3, 44);
    for (uint8_t id = 1; id <= 3; ++id) {
        f.reset(SystemIds::to_string(id), 7);
        EXPECT_EQ(uint32_t{id} << 24 | 0x70107u, f.makeDeviceId(1, 7)) << "reset replaces both bytes";
    }
    const std::string known = SystemIds::to_string(2);
    for (const std::string& name : {std::string(), known + " ", known.substr(1), std::string("INVALID_SYSTEM_ID")}) {
        EXPECT_EQ(0x002C0200u, DeviceIdFactory(name, 44).makeDeviceId(2, 0)) << '"' << name << '"';
    }
    for (uint32_t id : {0u, 4u, 2u + 256u}) EXPECT_EQ("INVALID_SYSTEM_ID", SystemIds::to_string(id)) << id;
    for (uint32_t id : {43u, 44u + 256u, 44u + 65536u, 0xFFFFFF2Cu}) {
        EXPECT_EQ("INVALID_SERVER_ID", ServerIds::to_string(id)) << id;
    }
    EXPECT_NE("INVALID_SERVER_ID", Components::to_component(38, 0));
    EXPECT_EQ("INVALID_SERVER_ID", Components::to_component(38 + 256, 0));
    EXPECT_EQ("INVALID_SERVER_ID", Components::to_component(44, 1 + 256));
}

TEST(CmdResponse, FieldsStampsAndIndependentSequences) {
    EXPECT_EQ(-8, CmdResponse().makeCommand("x").header().timestamp_valid().nsec()) << "before the FPGA starts";
    boardkit::RegisterImage image;
    boardkit::FpgaSession session(image);
    image.poke(boardkit::fpgablock::kTimestamp, 0x80, 64, 2 * 58982400);
    CmdResponse builder(DeviceIdFactory(3, 44));
    builder.makeCommand("QUERY_VERSIONING");
    const Message c = builder.makeCommand(58982400, "REQUEST_ZEROIZE");
    EXPECT_EQ("1 32c0200 0 1 command REQUEST_ZEROIZE @1/0", fields(c)) << "arrival from the given ticks";
    image.poke(boardkit::fpgablock::kTimestamp, 0x80, 64, 3 * 58982400);
    const Message r = builder.makeResponse(command("BITSERVER_PING"), "Chronavel");
    EXPECT_EQ("0 32c0200 81600203 -5 response Chronavel @2/2", fields(r)) << "a literal is a text, not a pass/fail flag";
    EXPECT_EQ("1 32c0200 32c0200 1 response REQUEST_ZEROIZE_NACK @2/2", fields(builder.makeResponseAck(c, false)));
    builder.reset(DeviceIdFactory(1, 44));
    EXPECT_EQ("2 12c0200 0 2 command x @2/2", fields(builder.makeCommand("x"))) << "responses and reset keep the counters";
}

// Answers carry the command word (the text before the first comma); replies
// are searched for _ACK, _NACK, _PASS and _FAIL in that order.
TEST(CmdResponse, AnswersNameTheCommandWordAndRepliesAreClassifiedInOrder) {
    CmdResponse builder;
    const std::pair<std::string, std::string> words[] = {
        {"BITSERVER_PING,extra,args", "BITSERVER_PING"}, {"", ""}, {",lead", ""}, {"A B,", "A B"}};
    for (const auto& [text, word] : words) {
        EXPECT_EQ(word + "_PASS", builder.makeResponse(command(text), true).command_response()) << text;
        EXPECT_EQ(word + "_NACK", builder.makeResponseAck(command(text), false).command_response()) << text;
    }
    using namespace ResponseType;
    const std::pair<std::string, eResponseType> replies[] = {{"_NACK then _ACK", eAck}, {"_FAIL_PASS_NACK", eNack},
                                                             {"_FAIL_PASS", ePass},     {"X_FAIL", eFail},
                                                             {"PASS FAIL ACK", eNone}};
    for (const auto& [text, type] : replies) EXPECT_EQ(type, GetResponseType(command(text))) << text;
}

// ticks * 10^9 / 58 982 400 - 8 ns, worked out with unbounded integers; the
// plain 64-bit product overflows from 2^63 / 78125 + 1 ticks on.
TEST(FpgaTicks, ExactForEveryTickCount) {
    constexpr uint64_t kOverflowLimit = (uint64_t{1} << 63) / 78125u + 1;
    const std::pair<uint64_t, std::pair<int64_t, int32_t>> cases[] = {
        {0, {0, -8}},                                  {1, {0, 8}},
        {58982399, {0, 999999975}},                    {58982400, {0, 999999992}},
        {117964800, {1, 999999992}},                   {0x123456789ABC, {339355, 440671582}},
        {kOverflowLimit - 1, {2001599, 834386876}},    {kOverflowLimit, {2001599, 834386893}},
        {kOverflowLimit + 1, {2001599, 834386910}},    {uint64_t{1} << 63, {156374987061, 475555547}},
        {0x0123456789ABCDEF, {1389999884, 990893801}}, {58982400 * uint64_t{10000000000}, {9999999999, 999999992}},
        {std::numeric_limits<uint64_t>::max(), {312749974122, 951111086}}};
    for (const auto& [ticks, time] : cases) {
        const FpgaTime t = fpgaTicksToTime(ticks);
        EXPECT_EQ(time, std::make_pair(t.sec, t.nsec)) << ticks;
    }
}

TEST(TimeCode, NanosecondStampsAndDifferencesSaturateOnHostileValues) {
    header a, b;
    setToVandToA_fromNSec(-2000000001ns, a);
    setToV_fromNSec(5s + 100ns, a);
    setToVandToA_fromNSec(4s + 999999900ns, b);
    EXPECT_EQ(-2000000001ns, getNSec_fromToA(a));
    EXPECT_NEAR(2e-7, deltaTov(a, b), 1e-15);
    a.toaSec = a.tovSec = INT64_MAX;
    b.toaSec = b.tovSec = INT64_MIN;
    a.tovNsec = INT32_MAX;
    b.tovNsec = INT32_MIN;
    EXPECT_EQ(std::make_pair(std::chrono::nanoseconds::min(), std::chrono::nanoseconds::max()),
              std::make_pair(getNSec_fromToA(b), getNSec_fromToA(a)));
    EXPECT_TRUE(deltaTov(a, b) > 1.8e19 && std::isfinite(deltaTov(a, b))) << deltaTov(a, b);
}

TEST(TimeCode, StampsCarryTheirTimeCodeAndCopiesKeepEveryField) {
    aspn2_msgs::idl::header original;
    original.seq_num(-3);  // must survive the unsigned plain form
    original.device_id(static_cast<int32_t>(0x812C0205u));
    setToVandToA_fromFpgaTicks(117964800, original);
    TimeCodeHelper::Instance().setSimMode();
    setToV_fromFpgaTicks(0, original);
    TimeCodeHelper::Instance().setLiveMode();
    EXPECT_EQ(std::make_tuple(-3, static_cast<int32_t>(0x812C0205u), 1, 999999992, 100, 0, -8, 101), fields(original));
    header plain;
    setToVandToA_fromTo(original, plain);
    EXPECT_EQ(0, plain.device_id) << "stamps only";
    copyHeader_fromTo(original, plain);
    EXPECT_EQ(std::make_tuple(1, 100, 0, 101),
              std::make_tuple(plain.toaSec, plain.toaTimeCode, plain.tovSec, plain.tovTimeCode));
    aspn2_msgs::idl::header back;
    copyHeader_fromTo(plain, back);
    EXPECT_EQ(fields(original), fields(back));
}

// The listener threads read the counter, stamp every message they send and
// drive control registers: after the first use none of it may touch the heap.
TEST(StampAllocation, CounterStampsAndRegisterAccessesDoNotAllocate) {
    boardkit::RegisterImage image;
    boardkit::FpgaSession session(image);
    FpgaFace& fpga = FpgaFace::Instance();
    aspn2_msgs::idl::header message;
    setToVandToA_fromFpgaTicks(fpga.fpga_get_SystemCount(), message);  // first use
    const uint64_t before = testsupport::allocationCount();
    for (int i = 0; i < 1000; ++i) {
        setToVandToA_fromFpgaTicks(static_cast<uint64_t>(i) << 50, message);
        fpga.fpga_set_periph_control(i % 16, i + fpga.fpga_pulsegen_adjust_Int_phase(0, 3));
        fpga.setUartDelay(i % 4u, 115200.0, 10.0, 2.0);
        setToVandToA_fromFpgaTicks(fpga.fpga_get_SystemCount(), message);
    }
    EXPECT_EQ(before, testsupport::allocationCount());
    g_escape = new int(1);  // the counter itself works
    delete g_escape;
    EXPECT_EQ(before + 1, testsupport::allocationCount());
}
