#include "ASPN/DeviceIds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

using ASPN2::DeviceIdFactory;

namespace {

std::vector<int> bytesOf(uint32_t id) {
    return {static_cast<int>(id >> 24), static_cast<int>((id >> 16) & 0xFF), static_cast<int>((id >> 8) & 0xFF),
            static_cast<int>(id & 0xFF)};
}

}  // namespace

TEST(DeviceIdFactory, BytesAreSystemServerClassTopic) {
    DeviceIdFactory f;
    EXPECT_EQ(0x0201u, f.makeDeviceId(2, 1));
    f.reset(3, 44);
    EXPECT_EQ((std::vector<int>{3, 44, 2, 0}), bytesOf(f.makeDeviceId(2, 0)));
    EXPECT_EQ((std::vector<int>{3, 44, 255, 255}), bytesOf(f.makeDeviceId(255, 255)));
    f.reset(0, 1);
    EXPECT_EQ((std::vector<int>{0, 1, 1, 7}), bytesOf(f.makeDeviceId(1, 7))) << "reset replaces both bytes";
    EXPECT_EQ(0xFFFF0102u, DeviceIdFactory(255, 255).makeDeviceId(1, 2));
}

TEST(DeviceIdFactory, SystemNamesMatchExactlyOrGiveZero) {
    for (uint8_t id = 1; id <= 3; ++id) {
        const std::string name = ASPN2::SystemIds::to_string(id);
        EXPECT_EQ(id, ASPN2::SystemIds::from_string(name)) << name;
        EXPECT_EQ(id, DeviceIdFactory(name, 44).makeDeviceId(2, 0) >> 24);
    }
    const std::string known = ASPN2::SystemIds::to_string(2);
    std::string upper = known;
    for (char& c : upper) {
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    }
    for (const std::string& name : {std::string(), upper, known + " ", known.substr(1), std::string("INVALID_SYSTEM_ID")}) {
        EXPECT_EQ(0, ASPN2::SystemIds::from_string(name)) << '"' << name << '"';
        DeviceIdFactory f(3, 9);
        f.reset(name, 44);
        EXPECT_EQ((std::vector<int>{0, 44, 2, 0}), bytesOf(f.makeDeviceId(2, 0)));
    }
    EXPECT_EQ("INVALID_SYSTEM_ID", ASPN2::SystemIds::to_string(4));
    EXPECT_EQ("INVALID_SYSTEM_ID", ASPN2::SystemIds::to_string(1 + 256));
}

TEST(ServerIds, FortyDistinctNamesAtTheValidIds) {
    std::vector<int> valid = {1, 16, 80, 96, 97};
    for (int id = 32; id <= 54; ++id) {
        if (id != 43) valid.push_back(id);
    }
    for (int id = 113; id <= 125; ++id) valid.push_back(id);
    std::sort(valid.begin(), valid.end());
    ASSERT_EQ(40u, valid.size());

    std::set<std::string> names;
    std::vector<int> named;
    for (int id = 0; id <= 300; ++id) {
        const std::string name = ASPN2::ServerIds::to_string(static_cast<uint32_t>(id));
        if (name != "INVALID_SERVER_ID") {
            named.push_back(id);
            EXPECT_TRUE(names.insert(name).second) << "duplicate name " << name;
        }
    }
    EXPECT_EQ(valid, named) << "ids beyond the byte must not wrap onto a server";
    EXPECT_EQ("Chronavel", ASPN2::ServerIds::to_string(44));
    EXPECT_EQ("INVALID_SERVER_ID", ASPN2::ServerIds::to_string(static_cast<uint32_t>(-212)));
}

TEST(Components, OnePerSystemOrFiveStandAloneServers) {
    const std::string sys1 = ASPN2::Components::to_component(44, 1);
    EXPECT_EQ(sys1, ASPN2::Components::to_component(1, 1));
    EXPECT_NE(sys1, ASPN2::Components::to_component(44, 2));
    EXPECT_NE("INVALID_SERVER_ID", sys1);
    EXPECT_EQ("INVALID_SERVER_ID", ASPN2::Components::to_component(44, 3));
    EXPECT_EQ("INVALID_SERVER_ID", ASPN2::Components::to_component(44, 1 + 256));

    std::set<std::string> standAlone;
    std::vector<int> ids;
    for (int id = 0; id <= 300; ++id) {
        const std::string name = ASPN2::Components::to_component(static_cast<uint32_t>(id), 0);
        if (name != "INVALID_SERVER_ID") {
            standAlone.insert(name);
            ids.push_back(id);
        }
    }
    EXPECT_EQ((std::vector<int>{38, 39, 47, 49, 53}), ids);
    EXPECT_EQ(5u, standAlone.size());
}
