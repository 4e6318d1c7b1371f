// Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/ as
// seed-* files (crash inputs kept there are left alone):
//   fuzz_seeds [corpus directory]
// The layouts are those the targets read; see the comment at the top of each.

#include <fastcdr/Cdr.h>
#include <fastcdr/FastBuffer.h>
#include <fastdds/rtps/common/SerializedPayload.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "ASPN/CommandStrings.h"
#include "CdrTypes.h"
#include "FuzzSupport.h"
#include "aspn2_msgs/PubSubTypes.h"
#include "platform/FPGA.h"

namespace {

namespace cdr = aspn2_msgs::idl::cdr;
using fuzzsupport::Writer;

std::string g_root;

void save(const std::string& target, const std::string& name, const std::string& bytes) {
    std::filesystem::create_directories(g_root + "/" + target);
    const std::string path = g_root + "/" + target + "/seed-" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) {
        std::cerr << "cannot write " << path << "\n";
        std::exit(1);
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// ---- fuzz_cdr ----

// Every field set, every sequence with two elements.
template <class T>
void fill(T& value, int& n) {
    if constexpr (std::is_enum_v<T>) {
        value = static_cast<T>(n++ % 3);
    } else if constexpr (std::is_same_v<T, bool>) {
        value = (n++ % 2) != 0;
    } else if constexpr (std::is_same_v<T, std::string>) {
        value = "text " + std::to_string(n++);
    } else if constexpr (cdr::is_vector<T>::value) {
        value.resize(2);
        for (auto& e : value) {
            fill(e, n);
        }
    } else if constexpr (cdr::is_array<T>::value) {
        for (auto& e : value) {
            fill(e, n);
        }
    } else if constexpr (cdr::is_struct<T>::value) {
        T::cdr_fields([&](auto member, const char*) { fill(value.*member, n); });
    } else {
        value = static_cast<T>(n++ + 1);
    }
}

template <class T>
std::string littleEndian(eprosima::fastdds::dds::TopicDataType& type, T& sample) {
    eprosima::fastrtps::rtps::SerializedPayload_t payload(type.getSerializedSizeProvider(&sample)());
    type.serialize(&sample, &payload);
    return std::string(reinterpret_cast<const char*>(payload.data), payload.length);
}

template <class T>
std::string bigEndian(const T& sample) {
    eprosima::fastcdr::FastBuffer buffer;
    eprosima::fastcdr::Cdr out(buffer, eprosima::fastcdr::Cdr::BIG_ENDIANNESS, eprosima::fastcdr::Cdr::DDS_CDR);
    out.serialize_encapsulation();
    sample.serialize(out);
    return std::string(buffer.getBuffer(), out.getSerializedDataLength());
}

void cdrSeeds() {
    const std::vector<fuzzsupport::CdrType> types = fuzzsupport::registryTypes();
    for (size_t index = 0; index < types.size(); ++index) {
        const std::string& key = types[index].key;
        auto& type = *types[index].type;
        const std::string pick(1, static_cast<char>(index));
#define FUZZ_SEED_(Name)                                                                  \
    if (key == #Name "PubSubType") {                                                      \
        aspn2_msgs::idl::Name empty;                                                      \
        aspn2_msgs::idl::Name full;                                                       \
        int n = 0;                                                                        \
        fill(full, n);                                                                    \
        save("fuzz_cdr", #Name "-empty", pick + littleEndian(type, empty));               \
        save("fuzz_cdr", #Name "-full", pick + littleEndian(type, full));                 \
        save("fuzz_cdr", #Name "-full-be", pick + bigEndian(full));                       \
    }
        ASPN2_ALL_STRUCTS(FUZZ_SEED_)
#undef FUZZ_SEED_
    }
}

// ---- fuzz_config ----

// Script operations, as fuzz_config reads them.
enum Op : uint8_t { kOpen = 0, kGetSize = 1, kRead = 2, kSeek = 3, kClose = 4, kInitialize = 5 };
constexpr uint8_t kNameText = 1;    // a name given in the script
constexpr uint8_t kNameEmpty = 2;   // "", the set's Name
constexpr uint8_t kFirstHandle = 0;

Writer& nameText(Writer& w, const std::string& name) {
    return w.put(kNameText).text(name);
}

void configSeeds() {
    const std::string top = readFile(std::string(CHRONAVEL_SOURCE_DIR) + "/config/Chronavel.xml");
    Writer w;
    w.raw(top).put('\0');
    nameText(w.put(kOpen), "Chronavel");
    nameText(w.put(kGetSize).put(kFirstHandle), "Connections");
    nameText(w.put(kRead).put(kFirstHandle), "PARAM_7").put(int16_t{64});
    nameText(w.put(kRead).put(kFirstHandle), "Connections").put(int16_t{3});
    w.put(kGetSize).put(kFirstHandle).put(kNameEmpty);
    w.put(kSeek).put(kFirstHandle).put(uint8_t{1}).put(int8_t{-1});
    w.put(kSeek).put(kFirstHandle).put(uint8_t{2}).put(int8_t{0});
    nameText(w.put(kOpen), "Quorvane");
    nameText(w.put(kRead).put(uint8_t{1}), "System").put(int16_t{8});
    w.put(kClose).put(kFirstHandle);
    w.put(kGetSize).put(kFirstHandle).put(kNameEmpty);
    w.put(kInitialize);
    save("fuzz_config", "chronavel", w.str());

    for (const char* file : {"Connections", "IODevices"}) {
        Writer c;
        c.raw(readFile(std::string(CHRONAVEL_SOURCE_DIR) + "/config/" + file + ".xml")).put('\0');
        // Sets found by their Name (picked from the document) and walked by Seek.
        c.put(kOpen).put(uint8_t{0x0C});
        c.put(kSeek).put(kFirstHandle).put(uint8_t{0}).put(int8_t{2});
        c.put(kRead).put(kFirstHandle).put(uint8_t{0x10}).put(int16_t{16});
        c.put(uint8_t{kSeek | 0x80}).put(kFirstHandle).put(uint8_t{2}).put(int32_t{1});
        c.put(kGetSize).put(kFirstHandle).put(kNameEmpty);
        save("fuzz_config", file, c.str());
    }

    // Sets sharing an element name, one without a Name, a CDATA value.
    const std::string shared =
        "<QV_Configurations><Set><Name>A</Name><Parameters><X>1</X></Parameters></Set>"
        "<Set><Parameters><X>2</X></Parameters></Set>"
        "<Set><Name>B</Name><Parameters><X><![CDATA[]]></X><Y>y</Y></Parameters></Set>"
        "<Other><Name>Set</Name><Parameters/></Other></QV_Configurations>";
    Writer s;
    s.raw(shared).put('\0');
    nameText(s.put(kOpen), "A");
    nameText(s.put(kOpen), "B");
    nameText(s.put(kOpen), "Set");
    s.put(kSeek).put(kFirstHandle).put(uint8_t{1}).put(int8_t{1});
    nameText(s.put(kRead).put(kFirstHandle), "X").put(int16_t{4});
    s.put(kSeek).put(kFirstHandle).put(uint8_t{0}).put(int8_t{-1});
    nameText(s.put(kRead).put(uint8_t{1}), "X").put(int16_t{0});
    nameText(s.put(kRead).put(uint8_t{1}), "Y").put(int16_t{-1});
    s.put(kClose).put(uint8_t{2});
    save("fuzz_config", "shared-names", s.str());

    save("fuzz_config", "no-root", Writer().raw("<Other/>").put('\0').put(kInitialize).str());
}

// ---- fuzz_command ----

void commandSeeds() {
    using namespace Sys::CommandString;
    const std::vector<std::pair<std::string, std::string>> texts = {
        {"ping", BitServerPing},
        {"live", SystemModeLive},
        {"simulation", SystemModeSim},
        {"zeroize", StartSystemZeroize},
        {"destroy", StartSystemDestroy},
        {"ping-with-arguments", BitServerPing + ",1,2"},
        {"query", QueryVersioning},
        {"empty", ""},
        {"pass-word", "X_PASS,Y"},
        {"long", std::string(300, 'W') + "," + std::string(40, 'x')},
    };
    for (const auto& [name, text] : texts) {
        Writer w;
        w.put(uint8_t{0x08}).put(int32_t{7}).put(int32_t{0x01630201}).raw(text);
        save("fuzz_command", name, w.str());
    }
    // Stop commands whose shell commands fail; a reply that is ignored.
    Writer fails;
    fails.put(uint8_t{0x04}).put(int32_t{8}).put(int32_t{0x01630201}).put(uint32_t{0xFFFFFFFEu}).raw(StartSystemZeroize);
    save("fuzz_command", "zeroize-failing", fails.str());
    Writer reply;
    reply.put(uint8_t{0x12}).put(int32_t{9}).put(int32_t{0x01630201}).raw(BitServerPing + Sys::ResponseString::Pass);
    save("fuzz_command", "reply", reply.str());
}

// ---- fuzz_utctime ----

constexpr uint8_t kNewEdge = 0x20;

// Settings: flags, the number of settling messages to exceed, the PPS
// threshold and UTC-TAI offset when the flags say so, the device byte.
Writer utcSettings(uint8_t flags, uint8_t required, bool realtime, double threshold = 1000.0,
                   double utc2tai = 37.0) {
    Writer w;
    w.put(flags);
    if ((flags & 0x08u) != 0) {
        w.put(uint8_t{0});  // no daemon runs, every command succeeds
    }
    w.put(required);
    if ((flags & 0x40u) != 0) {
        w.put(threshold);
    }
    if ((flags & 0x80u) != 0) {
        w.put(utc2tai);
    }
    w.put(static_cast<uint8_t>((3u << 1) | (realtime ? 1u : 0u)));
    return w;
}

// A healthy receiver's second: on the second (50 ns late), the FPGA counter a
// quarter second past the time of validity, a new PPS edge 1.5 us late.
Writer& healthySecond(Writer& w) {
    return w.put(kNewEdge)
        .put(uint32_t{0})
        .put(static_cast<int32_t>(FpgaFace::TICKS_PER_SECOND / 4))
        .put(int32_t{0})
        .put(uint8_t{18})
        .put(int16_t{50})
        .put(int32_t{1500});
}

void utcSeeds() {
    Writer healthy = utcSettings(0x08, 2, false);
    for (int i = 0; i < 60; ++i) {
        healthySecond(healthy);
    }
    save("fuzz_utctime", "healthy-schedule", healthy.str());

    Writer realtime = utcSettings(0x18, 0, true);
    for (int i = 0; i < 40; ++i) {
        healthySecond(realtime);
    }
    save("fuzz_utctime", "realtime-phc-debug", realtime.str());

    // Settled, then a message with raw nanoseconds (NaN) and one whose time
    // of validity lies ten seconds before the FPGA's time.
    Writer invalid = utcSettings(0x08, 1, false);
    healthySecond(invalid);
    healthySecond(invalid);
    invalid.put(uint8_t{kNewEdge | 0x08})
        .put(uint32_t{0})
        .put(static_cast<int32_t>(FpgaFace::TICKS_PER_SECOND / 4))
        .put(int32_t{0})
        .put(uint8_t{18})
        .put(uint64_t{0x7FF8000000000000ull})
        .put(uint64_t{0x7FF0000000000000ull})
        .put(int32_t{1500});
    invalid.put(kNewEdge)
        .put(uint32_t{0})
        .put(static_cast<int32_t>(FpgaFace::TICKS_PER_SECOND * 10))
        .put(int32_t{0})
        .put(uint8_t{18})
        .put(int16_t{50})
        .put(int32_t{1500});
    healthySecond(invalid);
    save("fuzz_utctime", "invalid-then-stale", invalid.str());

    // Every field raw.
    Writer raw = utcSettings(0xC0, 0, false, 1000.0, 37.0);
    raw.put(uint8_t{0xFF})
        .put(int64_t{1000})
        .put(int32_t{0})
        .put(uint64_t{1000ull * FpgaFace::TICKS_PER_SECOND})
        .put(int32_t{2290})
        .put(int32_t{345600})
        .put(int32_t{86400})
        .put(uint64_t{0})
        .put(uint64_t{0})
        .put(uint64_t{0x3CB0000000000000ull})
        .put(int32_t{0});
    save("fuzz_utctime", "raw", raw.str());
}

}  // namespace

int main(int argc, char** argv) {
    g_root = argc > 1 ? argv[1] : std::string(CHRONAVEL_SOURCE_DIR) + "/fuzz/corpus";
    cdrSeeds();
    configSeeds();
    commandSeeds();
    utcSeeds();
    std::cout << "seeds written to " << g_root << "\n";
    return 0;
}
