// The message types' two contracts: the shipped IDL, which other teams build
// from, and the bytes on the wire. Buffers are sized exactly, so that
// AddressSanitizer sees any access past the end.
#include "aspn2_msgs/PubSubTypes.h"
#include "support/AllocationCounter.h"
#include "support/MessageLeaves.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>

using namespace aspn2_msgs::idl;
using eprosima::fastrtps::rtps::SerializedPayload_t;
using Bytes = std::vector<uint8_t>;
using Tokens = std::vector<std::string>;
using Definitions = std::map<std::string, Tokens>;

namespace {
// The IDL: same structs, same fields in the same order with the same types,
// same enumerators in the same order, inside module aspn2_msgs::idl.
Tokens tokenize(const std::string& text) {
    static const std::regex token(R"(\w+|[^\s\w])");
    return Tokens(std::sregex_token_iterator(text.begin(), text.end(), token), std::sregex_token_iterator());
}

const char* idlName(bool) { return "boolean"; }
const char* idlName(char) { return "char"; }
const char* idlName(uint8_t) { return "octet"; }
const char* idlName(int32_t) { return "long"; }
const char* idlName(int64_t) { return "long long"; }
const char* idlName(float) { return "float"; }
const char* idlName(double) { return "double"; }
const char* idlName(const std::string&) { return "string"; }

template <class F>
std::string dims() {
    if constexpr (cdr::is_array<F>::value) {
        return "[" + std::to_string(std::tuple_size<F>::value) + "]" + dims<typename F::value_type>();
    }
    return "";
}

template <class T>
std::string typeName(Definitions& defs) {
    if constexpr (std::is_enum_v<T>) {
        using Description = decltype(describe_enum(T{}));
        std::string body = "enum";
        for (const char* e : Description::enumerators) body += std::string(body == "enum" ? " " : ", ") + e;
        defs[Description::name] = tokenize(body);
        return Description::name;
    } else if constexpr (cdr::is_vector<T>::value) {
        return "sequence<" + typeName<typename T::value_type>(defs) + ">";
    } else if constexpr (cdr::is_struct<T>::value) {
        std::string body = "struct";
        T::cdr_fields([&](auto m, const char* field) {
            using F = cdr::member_t<decltype(m)>;
            body += " " + typeName<typename cdr::array_leaf<F>::type>(defs) + " " + field + dims<F>() + ";";
        });
        const std::string name = T::type_name + std::strlen("aspn2_msgs::idl::");
        defs[name] = tokenize(body);
        return name;
    } else {
        return idlName(T{});
    }
}

TEST(IdlContract, ShippedIdlMatchesTheEncodedTypes) {
    std::ifstream file(CHRONAVEL_SOURCE_DIR "/src/aspn2_msgs/idl/aspn2_msgs.idl");
    const std::string text(std::istreambuf_iterator<char>(file), {});
    // Without comments, annotations (@final) and the qualification of type names.
    const std::string idl = std::regex_replace(text, std::regex(R"(//[^\n]*|@\w+|::aspn2_msgs::idl::)"), "");
    const Tokens tokens = tokenize(idl);
    ASSERT_GE(tokens.size(), 6u);
    EXPECT_EQ(Tokens(tokens.begin(), tokens.begin() + 6), (Tokens{"module", "aspn2_msgs", "{", "module", "idl", "{"}));
    EXPECT_EQ(std::count(tokens.begin(), tokens.end(), "module"), 2);
    Definitions expected, shipped;
#define ASPN2_PRINT_(Name) typeName<Name>(expected);
    ASPN2_ALL_STRUCTS(ASPN2_PRINT_)
#undef ASPN2_PRINT_
    static const std::regex definition(R"((struct|enum)\s+(\w+)\s*\{([^}]*)\})");
    for (std::sregex_iterator it(idl.begin(), idl.end(), definition), end; it != end; ++it) {
        const Tokens body = tokenize((*it)[1].str() + " " + (*it)[3].str());  // the kind and the fields
        EXPECT_TRUE(shipped.emplace((*it)[2], body).second) << "defined twice: " << (*it)[2];
    }
    for (const auto& [name, body] : expected) {
        EXPECT_EQ(shipped.count(name) ? shipped.at(name) : Tokens{"<missing>"}, body) << name;
    }
    for (const auto& entry : shipped) EXPECT_TRUE(expected.count(entry.first)) << "only in the IDL: " << entry.first;
}

// Strings with an embedded NUL: their length is never found by a terminator.
template <class T>
T filled(uint64_t n) { return testsupport::Filled<T>(n, std::string("text\0", 5)); }

template <class T>
Bytes encode(T sample) {
    TopicType<T> type;
    SerializedPayload_t payload(type.getSerializedSizeProvider(&sample)());
    return type.serialize(&sample, &payload) ? Bytes(payload.data, payload.data + payload.length) : Bytes();
}

template <class T>
bool decode(const Bytes& bytes, T& sample) {
    SerializedPayload_t payload(static_cast<uint32_t>(bytes.size()));
    payload.length = static_cast<uint32_t>(std::copy(bytes.begin(), bytes.end(), payload.data) - payload.data);
    return TopicType<T>().deserialize(&payload, &sample);
}

constexpr uint8_t kHostOrder = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// A CDR payload written without Fast CDR, field by field at offsets counted
// after the 4-byte encapsulation.
struct Image {
    explicit Image(std::size_t bodySize, uint8_t order = kHostOrder) : bytes(4 + bodySize, 0) { bytes[1] = order; }
    template <class V>
    Image& at(std::size_t offset, V value) {
        uint8_t* to = &bytes.at(4 + offset);
        std::memcpy(to, &value, sizeof(V));
        if (bytes[1] != kHostOrder) std::reverse(to, to + sizeof(V));
        return *this;
    }
    Image& text(std::size_t offset, const std::string& s) {
        std::copy(s.begin(), s.end(), bytes.begin() + static_cast<std::ptrdiff_t>(4 + offset + 4));
        return at<uint32_t>(offset, static_cast<uint32_t>(s.size() + 1));
    }
    Image& withHeader(const header& h) {
        const timestamp &a = h.timestamp_arrival(), &v = h.timestamp_valid();
        return at<int64_t>(0, h.seq_num())
            .at<int64_t>(8, a.sec()).at<int32_t>(16, a.nsec()).at<int32_t>(20, a.time_code())
            .at<int64_t>(24, v.sec()).at<int32_t>(32, v.nsec()).at<int32_t>(36, v.time_code())
            .at<int32_t>(40, h.device_id());
    }
    Bytes bytes;
};

TEST(GoldenBytes, UTCTimeInEitherByteOrderAndEventLog) {
    const UTCTime m = filled<UTCTime>(1);
    const auto& c = m.covariance();
    auto image = [&](uint8_t order) {
        return Image(112, order)
            .withHeader(m.header())
            .at<int32_t>(44, m.gps_tow_sec()).at<double>(48, m.gps_tow_nsec()).at<int32_t>(56, m.gps_week())
            .at<int32_t>(60, m.utc_tod_sec()).at<double>(64, m.utc_tod_nsec()).at<double>(72, m.a1())
            .at<double>(80, c[0][0]).at<double>(88, c[0][1]).at<double>(96, c[1][0]).at<double>(104, c[1][1])
            .bytes;
    };
    EXPECT_EQ(encode(m), image(kHostOrder));
    // The encapsulation, not the host, decides the byte order.
    for (uint8_t order : {0, 1}) {
        UTCTime decoded;
        ASSERT_TRUE(decode(image(order), decoded)) << int{order};
        EXPECT_EQ(encode(decoded), encode(m)) << int{order};
    }
    // Strings count their NUL, also after embedded ones.
    EventLog e = filled<EventLog>(3);
    for (const std::string& text : {std::string("timer.cpp[40]:late"), std::string("a\0b", 3), std::string()}) {
        e.eventlog(text);
        const Image head = Image(48 + 4 + text.size() + 1).withHeader(e.header()).at<uint32_t>(44, e.event_log_type());
        EXPECT_EQ(encode(e), Image(head).text(48, text).bytes) << text;
    }
}

template <class T>
void exercise() {
    SCOPED_TRACE(T::type_name);
    T original = filled<T>(17);
    const Bytes bytes = encode(original);
    ASSERT_EQ(bytes.size(), 4 + T::getCdrSerializedSize(original));
    T decoded;
    ASSERT_TRUE(decode(bytes, decoded));
    EXPECT_EQ(encode(decoded), bytes);
    // Every shorter payload is refused and leaves the caller's sample as it was.
    const T before = filled<T>(99);
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        T sample = before;
        EXPECT_FALSE(decode({bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)}, sample)) << length;
        EXPECT_EQ(encode(sample), encode(before)) << length;
    }
    // A buffer one byte short is refused without claiming any length.
    SerializedPayload_t shortPayload(static_cast<uint32_t>(bytes.size() - 1));
    shortPayload.length = 12345;
    EXPECT_FALSE(TopicType<T>().serialize(&original, &shortPayload));
    EXPECT_EQ(shortPayload.length, 12345u);
}

TEST(TopicType, EveryMessageRoundTripsAndRefusesShortBuffersAndPayloads) {
#define ASPN2_EXERCISE_(Name) exercise<Name>();
    ASPN2_ALL_STRUCTS(ASPN2_EXERCISE_)
#undef ASPN2_EXERCISE_
}

template <class T>
void expectRefusedWithoutAllocating(const Bytes& bytes) {
    SCOPED_TRACE(T::type_name);
    T sample;
    testsupport::resetLargestAllocation();
    EXPECT_FALSE(decode(bytes, sample));
    EXPECT_LT(testsupport::largestAllocation(), 4096 + 2 * bytes.size());
}

TEST(TopicType, HostileInputIsRefusedBeforeAllocating) {
    // 4000 bytes could hold 4000 bytes, but not 4000 line-of-sight observations
    // of 127 bytes or more; a count near 2^32 does not overflow the check.
    expectRefusedWithoutAllocating<GPSLineOfSight>(Image(52 + 4000).at<uint32_t>(48, 4000).bytes);
    const Bytes huge = Image(52 + 16).at<uint32_t>(48, 0xFFFFFFFFu).bytes;
    expectRefusedWithoutAllocating<GPSLineOfSight>(huge);
    expectRefusedWithoutAllocating<GSSIP>(huge);
    expectRefusedWithoutAllocating<EventLog>(Image(48 + 4 + 8).at<uint32_t>(48, 0x7FFFFFF0u).bytes);
    // Fast CDR throws on a boolean byte other than 0 or 1.
    BitEntryStatus b;
    ASSERT_TRUE(decode(Image(47).at<uint8_t>(44, 1).bytes, b) && b.requestedEntryAvailable());
    expectRefusedWithoutAllocating<BitEntryStatus>(Image(47).at<uint8_t>(44, 2).bytes);
    // Parameter-list CDR, XCDR2 and an unknown kind lay fields out differently.
    Bytes bytes = encode(filled<UTCTime>(2));
    for (uint16_t id : {0x0002, 0x0003, 0x0007, 0x0009, 0x0101}) {
        bytes[0] = static_cast<uint8_t>(id >> 8);
        bytes[1] = static_cast<uint8_t>(id & 0xFF);
        expectRefusedWithoutAllocating<UTCTime>(bytes);
    }
}
}  // namespace
