#include "ASPN/CommandStrings.h"
#include "ASPN/DeviceIds.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

using ASPN2::DeviceIdFactory;

namespace {

std::vector<uint8_t> bytesOf(uint32_t id) {
    return {static_cast<uint8_t>(id >> 24), static_cast<uint8_t>(id >> 16), static_cast<uint8_t>(id >> 8),
            static_cast<uint8_t>(id)};
}

}  // namespace

TEST(DeviceIdFactory, BytesAreSystemServerClassTopic) {
    DeviceIdFactory f;
    EXPECT_EQ(0u, f.makeDeviceId(0, 0));
    EXPECT_EQ(0x0201u, f.makeDeviceId(2, 1));

    f.reset(3, 44);
    EXPECT_EQ((std::vector<uint8_t>{3, 44, 2, 0}), bytesOf(f.makeDeviceId(2, 0)));
    EXPECT_EQ((std::vector<uint8_t>{3, 44, 1, 0}), bytesOf(f.makeDeviceId(1, 0)));
    EXPECT_EQ((std::vector<uint8_t>{3, 44, 255, 255}), bytesOf(f.makeDeviceId(255, 255)));

    // Reset replaces both bytes, nothing of the old base survives.
    f.reset(0, 1);
    EXPECT_EQ((std::vector<uint8_t>{0, 1, 2, 7}), bytesOf(f.makeDeviceId(2, 7)));

    const DeviceIdFactory top(255, 255);
    EXPECT_EQ(0xFFFF0000u | 0x0102u, top.makeDeviceId(1, 2));
}

TEST(DeviceIdFactory, SystemNamesGiveIdsOneToThree) {
    std::set<uint8_t> seen;
    for (uint8_t id = 1; id <= 3; ++id) {
        const std::string name = ASPN2::SystemIds::to_string(id);
        EXPECT_EQ(id, ASPN2::SystemIds::from_string(name)) << name;
        EXPECT_EQ(id, DeviceIdFactory(name, 44).makeDeviceId(2, 0) >> 24);
        seen.insert(id);
    }
    EXPECT_EQ(3u, seen.size());
    EXPECT_EQ("INVALID_SYSTEM_ID", ASPN2::SystemIds::to_string(0));
    EXPECT_EQ("INVALID_SYSTEM_ID", ASPN2::SystemIds::to_string(4));
}

TEST(DeviceIdFactory, UnknownSystemNameLeavesTheSystemByteZero) {
    const std::string known = ASPN2::SystemIds::to_string(2);
    std::string upper = known;
    for (char& c : upper) {
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    }
    for (const std::string& name : {std::string(), std::string("Unknown"), known + " ", upper,
                                    known.substr(0, known.size() - 1), std::string("INVALID_SYSTEM_ID")}) {
        EXPECT_EQ(0, ASPN2::SystemIds::from_string(name)) << '"' << name << '"';
        DeviceIdFactory f(name, 44);
        EXPECT_EQ((std::vector<uint8_t>{0, 44, 2, 0}), bytesOf(f.makeDeviceId(2, 0)));
    }
    DeviceIdFactory f(3, 9);
    f.reset("no such system", 44);
    EXPECT_EQ((std::vector<uint8_t>{0, 44, 1, 0}), bytesOf(f.makeDeviceId(1, 0)));
}

TEST(ServerIds, FortyNamedServersAndChronavelIs44) {
    std::vector<int> valid = {1, 16};
    for (int id = 32; id <= 42; ++id) valid.push_back(id);
    for (int id = 44; id <= 54; ++id) valid.push_back(id);
    for (int id : {80, 96, 97}) valid.push_back(id);
    for (int id = 113; id <= 125; ++id) valid.push_back(id);
    ASSERT_EQ(40u, valid.size());

    std::set<std::string> names;
    std::vector<int> named;
    for (int id = 0; id <= 255; ++id) {
        const std::string name = ASPN2::ServerIds::to_string(static_cast<uint8_t>(id));
        if (name != "INVALID_SERVER_ID") {
            named.push_back(id);
            EXPECT_FALSE(name.empty()) << id;
            EXPECT_TRUE(names.insert(name).second) << "duplicate name " << name;
        }
    }
    EXPECT_EQ(valid, named);
    EXPECT_EQ("Chronavel", ASPN2::ServerIds::to_string(44));
    EXPECT_EQ("Chronavel", ASPN2::ServerIds::to_string(ASPN2::ServerIds::ChronavelId));
    EXPECT_EQ("INVALID_SERVER_ID", ASPN2::ServerIds::to_string(43));
    // Values beyond the byte do not wrap onto a real server.
    EXPECT_EQ("INVALID_SERVER_ID", ASPN2::ServerIds::to_string(44 + 256));
    EXPECT_EQ("INVALID_SERVER_ID", ASPN2::ServerIds::to_string(static_cast<uint32_t>(-212)));
    EXPECT_EQ("INVALID_SYSTEM_ID", ASPN2::SystemIds::to_string(1 + 256));
    EXPECT_EQ("INVALID_SERVER_ID", ASPN2::Components::to_component(38 + 256, 0));
    EXPECT_EQ("INVALID_SERVER_ID", ASPN2::Components::to_component(44, 1 + 256));
}

TEST(Components, ByOwnSystemOrForStandAloneServers) {
    const std::string sys1 = ASPN2::Components::to_component(44, 1);
    const std::string sys2 = ASPN2::Components::to_component(44, 2);
    EXPECT_NE("INVALID_SERVER_ID", sys1);
    EXPECT_NE("INVALID_SERVER_ID", sys2);
    EXPECT_NE(sys1, sys2);
    EXPECT_EQ(sys1, ASPN2::Components::to_component(1, 1)) << "one name per system";
    EXPECT_EQ("INVALID_SERVER_ID", ASPN2::Components::to_component(44, 3));

    std::set<std::string> standAlone;
    for (int id = 0; id <= 255; ++id) {
        const std::string name = ASPN2::Components::to_component(static_cast<uint8_t>(id), 0);
        if (name != "INVALID_SERVER_ID") {
            standAlone.insert(name);
            EXPECT_TRUE(id == 38 || id == 39 || id == 47 || id == 49 || id == 53) << id;
        }
    }
    EXPECT_EQ(5u, standAlone.size());
}

TEST(CommandVocabulary, WordsAreDistinctAndResponseSuffixesAreExact) {
    using namespace Sys;
    const std::vector<const std::string*> words = {
        &CommandString::SystemModeLive, &CommandString::SystemModeSim, &CommandString::QueryVersioning,
        &CommandString::BitServerPing, &CommandString::BitServerReportClear,
        &CommandString::BitServerReportAppend, &CommandString::BitServerReportRemove,
        &CommandString::RequestBitReport, &CommandString::RequestSystemCBit,
        &CommandString::RequestComponentCBit, &CommandString::NavigatorCommand,
        &CommandString::NavigatorStatus, &CommandString::SystemEnvRerad, &CommandString::SystemEnvLive,
        &CommandString::InitSincgars, &CommandString::InitHotStart, &CommandString::InitWarmStart,
        &CommandString::InitDataTransferOutLNav, &CommandString::SetHmiBlackoutEnable,
        &CommandString::SetHmiBlackoutDisable, &CommandString::RequestZeroize, &CommandString::RequestDestroy,
        &CommandString::StartSystemZeroize, &CommandString::StartSystemDestroy,
        &CommandString::QueryPassthrough, &CommandString::ServerStarted, &CommandString::ServerStopped,
        &CommandString::RequestPartNumbers, &CommandString::QueryLinkRadioStatus,
        &CommandString::QueryHmiPanelStatus, &CommandString::SetLinkRadioStatus, &CommandString::ErmStandby,
        &CommandString::ErmContinuous, &CommandString::ErmCvZeroize, &CommandString::ErmZeroize,
        &CommandString::ErmDestroy, &CommandString::ErmQueryDestroyStatus, &CommandString::AltNavAssured,
        &CommandString::AltNavUnassured, &CommandString::AltNavNotAvailable,
        &CommandString::QueryCompatDesignation, &ResponseString::Pass, &ResponseString::Fail,
        &ResponseString::Ack, &ResponseString::Nack, &ResponseString::ComponentZeroize,
        &ResponseString::ComponentDestroy, &ResponseString::SystemZeroize, &ResponseString::SystemDestroy,
        &ResponseString::CbitResponse, &ResponseString::PassthroughEnabled,
        &ResponseString::PassthroughDisabled, &ResponseString::LinkRadioCurrentStatus,
        &ResponseString::HmiPanelCurrentStatus};
    EXPECT_EQ(28u + 13u + 11u + 2u, words.size());
    std::set<std::string> distinct;
    for (const std::string* w : words) {
        EXPECT_FALSE(w->empty());
        EXPECT_EQ(std::string::npos, w->find(',')) << *w << " would not survive the reply's comma split";
        distinct.insert(*w);
    }
    EXPECT_EQ(words.size(), distinct.size());

    // The words this server acts on and replies with.
    EXPECT_EQ("SYSTEM_MODE_SELECT_LIVE", CommandString::SystemModeLive);
    EXPECT_EQ("SYSTEM_MODE_SELECT_SIMULATION", CommandString::SystemModeSim);
    EXPECT_EQ("BITSERVER_PING", CommandString::BitServerPing);
    EXPECT_EQ("START_ZEROIZE", CommandString::StartSystemZeroize);
    EXPECT_EQ("START_DESTROY", CommandString::StartSystemDestroy);
    EXPECT_EQ("_PASS", ResponseString::Pass);
    EXPECT_EQ("_FAIL", ResponseString::Fail);
    EXPECT_EQ("_ACK", ResponseString::Ack);
    EXPECT_EQ("_NACK", ResponseString::Nack);
}
