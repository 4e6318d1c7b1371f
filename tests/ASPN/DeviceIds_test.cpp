#include "ASPN/DeviceIds.h"

#include <gtest/gtest.h>

#include <string>

using namespace ASPN2;

TEST(DeviceIdFactory, BytesAreSystemServerClassTopic) {
    DeviceIdFactory f(3, 44);
    EXPECT_EQ(0x032C0201u, f.makeDeviceId(2, 1));
    f.reset(0, 1);
    EXPECT_EQ(0x00010107u, f.makeDeviceId(1, 7)) << "reset replaces both bytes";
    EXPECT_EQ(0xFFFF0102u, DeviceIdFactory(255, 255).makeDeviceId(1, 2));
}

TEST(DeviceIdFactory, SystemNamesMatchExactlyOrGiveZero) {
    for (uint8_t id = 1; id <= 3; ++id) {
        EXPECT_EQ(id, DeviceIdFactory(SystemIds::to_string(id), 44).makeDeviceId(2, 0) >> 24);
    }
    const std::string known = SystemIds::to_string(2);
    for (const std::string& name : {std::string(), known + " ", known.substr(1), std::string("INVALID_SYSTEM_ID")}) {
        DeviceIdFactory f(3, 9);
        f.reset(name, 44);
        EXPECT_EQ(0x002C0200u, f.makeDeviceId(2, 0)) << '"' << name << '"';
    }
    EXPECT_EQ("INVALID_SYSTEM_ID", SystemIds::to_string(4));
    EXPECT_EQ("INVALID_SYSTEM_ID", SystemIds::to_string(2 + 256));
}

// Ids arrive as wide integers: one beyond the byte must not wrap onto a name.
TEST(ServerIds, IdsOutsideTheTableAreRefusedNotWrapped) {
    EXPECT_EQ("Chronavel", ServerIds::to_string(ServerIds::ChronavelId));
    for (uint32_t id : {43u, 44u + 256u, 44u + 65536u, 0xFFFFFF2Cu}) {
        EXPECT_EQ("INVALID_SERVER_ID", ServerIds::to_string(id)) << id;
    }
    EXPECT_NE("INVALID_SERVER_ID", Components::to_component(38, 0));
    EXPECT_EQ("INVALID_SERVER_ID", Components::to_component(38 + 256, 0));
    EXPECT_EQ("INVALID_SERVER_ID", Components::to_component(44, 1 + 256));
}
