#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "FACE/FACE_Common.h"
#include "FACE/StringUtils.h"
#include "FACE/TSS_Topics.h"
#include "aspn2_msgs/Messages.h"

using FACE::String;
namespace RC = FACE::RETURN_CODE_TYPE;
using Strings = std::vector<std::string>;
using FACE::TSS::Topics::GetPubSubType;

TEST(ReturnCode, NamesAndChecksThatThrowWithFileAndLine) {
    EXPECT_EQ(RC::ToString(RC::DATA_OVERFLOW).str() + " " + RC::Name(static_cast<RC::Value>(14)),
              "DATA_OVERFLOW RC_UNKNOWN");
    EXPECT_THROW(FACE::Return_Code_Value_No_Error("f", 1, "m", RC::NO_ACTION), std::runtime_error);
    EXPECT_NO_THROW(FACE::Return_Code_Value_No_Error_No_Action("f", 1, "m", RC::NO_ACTION));
    testing::internal::CaptureStdout();
    EXPECT_THAT([] { FACE::Return_Code_Value_No_Error_No_Action("main", 121, "Configure() failed", RC::INVALID_CONFIG); },
                testing::ThrowsMessage<std::runtime_error>(testing::StrEq("main[121]:INVALID_CONFIG Configure() failed")));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "main[121]:INVALID_CONFIG Configure() failed\n");
}

TEST(FaceString, AppendsStopAtTheBoundAndInvalidStringsRefuseEverything) {
    String::RETURN_CODE rc;
    for (uint32_t bad : {0u, String::UNBOUNDED_VALUE}) {
        String s(bad, rc);
        EXPECT_EQ(std::make_tuple(rc, s.buffer(), s.append('x')),
                  std::make_tuple(String::INVALID_VALUE, nullptr, String::INVALID_VALUE));
    }
    EXPECT_EQ((String(static_cast<const char*>(nullptr), rc), rc), String::INVALID_VALUE);
    String one(1u, rc);
    EXPECT_EQ(one.append('a'), String::NO_ERROR);
    EXPECT_EQ(one.append('b'), String::INSUFFICIENT_BOUND);
    String abc("abc", rc);  // full at its own length
    EXPECT_EQ(abc.append(String("d")), String::INSUFFICIENT_BOUND);
    EXPECT_EQ(abc.append(String("")), String::NO_ERROR);
    EXPECT_EQ(abc[1000], '\0');
    String withNul;  // the length is counted, not found by a terminator
    withNul.append('\0');
    withNul.append('b');
    EXPECT_EQ(withNul.str(), std::string("\0b", 2));
    static const char text[] = "view";
    String view(text);  // read-only: the constant text is never written
    view.clear();
    EXPECT_STREQ(view.buffer(), "");
    EXPECT_EQ(view.append('x'), String::INSUFFICIENT_BOUND);
    EXPECT_STREQ(text, "view");
    EXPECT_FALSE(String(static_cast<const char*>(nullptr)).is_valid());
}

TEST(FaceString, CallerBuffersAreWrittenOnlyInsideTheBoundAndCopiesDetach) {
    char buf[11] = "abcXXXXXXX";
    String::RETURN_CODE rc;
    EXPECT_EQ((String(buf, 9, 8, rc), rc), String::INVALID_VALUE);  // longer than its bound: nothing written
    EXPECT_EQ((String(nullptr, 0, 8, rc), rc), String::INVALID_VALUE);
    String s(buf, 3, 8, rc);
    ASSERT_EQ(rc, String::NO_ERROR);
    EXPECT_EQ(buf[3], '\0');
    EXPECT_EQ(s.append(s), String::NO_ERROR);  // overlapping self-append
    EXPECT_EQ(s.append(String("def")), String::INSUFFICIENT_BOUND);
    EXPECT_EQ(s.append(String("de")), String::NO_ERROR);
    EXPECT_EQ(s.append('i'), String::INSUFFICIENT_BOUND);
    EXPECT_EQ(std::string(buf, 10), std::string("abcabcde\0X", 10));
    const String copy(s);  // managed, with the source's bound
    s.clear();
    EXPECT_EQ(buf[0], '\0');
    EXPECT_TRUE(copy.is_managed());
    EXPECT_EQ(copy.str() + " " + std::to_string(copy.bound()), "abcabcde 8");
    char target[9] = "old";
    String external(target, 3, 8, rc);
    external = String("new");
    EXPECT_STREQ(target, "old");
    EXPECT_EQ(external.str(), "new");
    String unbounded;
    unbounded.append(String("longer than two"));
    String bounded(2u, rc);
    bounded = unbounded;  // takes the source's bound
    EXPECT_FALSE(bounded.is_bounded());
    EXPECT_EQ(bounded.str(), "longer than two");
    bounded = String(0u, rc);
    EXPECT_FALSE(bounded.is_valid());
}

TEST(StringUtils, TrimSplitJoinChunksReplaceAndCopy) {
    EXPECT_EQ(StringUtils::trim(" \t\v\f abc \r\n") + StringUtils::trim(" \v\f"), "abc");
    EXPECT_EQ(StringUtils::trim("\xC2\xA0" "a"), "\xC2\xA0" "a");  // ASCII whitespace only
    EXPECT_EQ(StringUtils::ltrim("  a b  ") + "|" + StringUtils::rtrim("  a b  "), "a b  |  a b");
    EXPECT_EQ(StringUtils::split("x,y,,z,", ','), (Strings{"x", "y", "", "z"}));  // no trailing empty token
    EXPECT_EQ(StringUtils::split(",", ','), Strings{""});
    EXPECT_EQ(StringUtils::join({"x", "y", "z"}, ',') + StringUtils::join({}, ','), "x,y,z");
    Strings chunks{"keep"};  // appended to what is there
    StringUtils::splitToChunks("abcdefg", 3, chunks);
    StringUtils::splitToChunks("", 3, chunks);
    EXPECT_EQ(chunks, (Strings{"keep", "abc", "def", "g"}));
    EXPECT_EQ(StringUtils::splitToChunks("abc", 0), Strings{"abc"});
    char text[] = "a-b_c-aX";
    StringUtils::cstr_replace(text, "-_X", 'X');  // the replacement in the set must still end
    EXPECT_STREQ(text, "aXbXcXaX");
    char dest[8] = "ZZZZZZZ";
    StringUtils::strncpy_prot(dest, "abcdef", 4);
    EXPECT_EQ(std::string(dest, 5), std::string("abc\0Z", 5));
    StringUtils::strncpy_prot(dest, "ab", 8);
    EXPECT_EQ(std::string(dest, 8), std::string("ab\0\0\0\0\0\0", 8));
}

namespace {

struct Row {
    const char* message;
    std::size_t (*maxBodyFrom)(std::size_t);
    std::size_t maxBody;
    bool plain;
};

#define ROW_(Name, maxBody, plain) {#Name, &aspn2_msgs::idl::Name::getMaxCdrSerializedSize, maxBody, plain}
// Every message a connection may name, with its largest body (strings of
// 255 characters, sequences of 100 elements) and whether it holds neither
// string, sequence nor enum.
const Row kMessages[] = {
    ROW_(Altitude, 64, true), ROW_(BitReport, 860, false), ROW_(BitEntryStatus, 47, true),
    ROW_(ChallengedEnvironment, 1652, false), ROW_(ChannelStatus, 4452, false), ROW_(CommandResponse, 316, false),
    ROW_(DeltaTimeAndFrequency, 72, true), ROW_(EventLog, 308, false), ROW_(GNSS, 4076, false),
    ROW_(GNSSSubframe, 176, false), ROW_(GPSTime, 136, true), ROW_(IMU, 96, true),
    ROW_(MaintenanceEvent, 168, true), ROW_(MeasurementIncorporationStatus, 1252, false),
    ROW_(QuorvanePNT, 212, false), ROW_(NavigationMode, 48, false), ROW_(PositionVelocity, 384, true),
    ROW_(PositionVelocityAttitude, 768, true), ROW_(ThreeAxisMagnetometer, 144, true),
    ROW_(TimeAtTheTone, 44, true), ROW_(UtcDownlink, 88, true), ROW_(UTCTime, 112, true), ROW_(GSSIP, 152, false),
    ROW_(Velocity3D, 144, true), ROW_(ReceiverStatus, 72, true), ROW_(GPSLineOfSight, 14456, false),
    ROW_(GPSCryptoStatus, 2052, false), ROW_(AssuranceState, 48, false), ROW_(PlatformDynamics, 1296, true),
    ROW_(TimeSync, 64, true), ROW_(SVStatus, 2449, false), ROW_(ForwardReverseStatus, 52, false),
};
#undef ROW_

}  // namespace

TEST(TopicRegistry, EveryKeyMakesTheTypeOfItsMessageWithItsSizes) {
    for (const Row& row : kMessages) {
        SCOPED_TRACE(row.message);
        auto type = GetPubSubType(std::string(row.message) + "PubSubType");
        ASSERT_NE(type, nullptr);
        EXPECT_EQ(std::string(type->getName()), std::string("aspn2_msgs::idl::") + row.message);
        EXPECT_EQ(std::make_tuple(row.maxBodyFrom(0), type->m_typeSize, type->is_bounded(), type->is_plain()),
                  std::make_tuple(row.maxBody, row.maxBody + 4, row.plain, row.plain));
    }
}

TEST(TopicRegistry, OnlyExactKeysMatch) {
    for (const std::string& name :
         Strings{"utctimepubsubtype", "UTCTIMEPUBSUBTYPE", "UtcTimePubSubType", "UTCTime", "UTCTimePubSub",
          "UTCTimePubSubType ", "aspn2_msgs::idl::UTCTimePubSubType", "", "headerPubSubType",
          "bit_comp_setPubSubType", "EventLogPubSubTypeX", std::string("UTCTimePubSubType\0", 18)}) {
        EXPECT_EQ(GetPubSubType(name), nullptr) << "'" << name << "'";
    }
}
