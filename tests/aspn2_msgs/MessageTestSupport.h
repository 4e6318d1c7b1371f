#ifndef TESTS_ASPN2_MSGS_MESSAGETESTSUPPORT_H
#define TESTS_ASPN2_MSGS_MESSAGETESTSUPPORT_H

// Helpers shared by the message tests: fill any message with distinctive
// non-default values, compare two messages field by field, and move samples
// through exactly-sized payloads (so that AddressSanitizer sees any read or
// write past the end).

#include "aspn2_msgs/PubSubTypes.h"

#include <fastdds/rtps/common/SerializedPayload.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace msgtest {

using eprosima::fastrtps::rtps::SerializedPayload_t;
namespace cdr = aspn2_msgs::idl::cdr;

// Every leaf gets a different value derived from a running counter, so a
// field swapped with another of the same type does not go unnoticed.
class Filler {
public:
    explicit Filler(uint32_t seed) : m_next(seed) {}

    template <class T>
    void fill(T& value)
    {
        const uint32_t n = ++m_next;
        if constexpr (std::is_same_v<T, bool>) {
            value = true;
        } else if constexpr (std::is_same_v<T, char>) {
            value = static_cast<char>('A' + n % 26);
        } else if constexpr (std::is_same_v<T, uint8_t>) {
            value = static_cast<uint8_t>(0x80 + n % 0x7f);
        } else if constexpr (std::is_same_v<T, int32_t>) {
            value = -static_cast<int32_t>(n * 1000003u % 0x7fffffffu) - 1;
        } else if constexpr (std::is_same_v<T, int64_t>) {
            value = -static_cast<int64_t>(n) * 1000000007LL * 4099LL - 1;
        } else if constexpr (std::is_floating_point_v<T>) {
            value = static_cast<T>(n) + static_cast<T>(0.25);
        } else if constexpr (std::is_enum_v<T>) {
            using Description = decltype(describe_enum(T{}));
            const uint32_t count = static_cast<uint32_t>(std::size(Description::enumerators));
            value = static_cast<T>(1 + n % (count - 1));
        } else if constexpr (std::is_same_v<T, std::string>) {
            value = "text " + std::to_string(n);
        } else if constexpr (cdr::is_vector<T>::value) {
            value.resize(3);
            for (auto& e : value) {
                fill(e);
            }
        } else if constexpr (cdr::is_array<T>::value) {
            for (auto& e : value) {
                fill(e);
            }
        } else {
            T::cdr_fields([&](auto m, const char*) { fill(value.*m); });
        }
    }

private:
    uint32_t m_next;
};

template <class T>
T filled(uint32_t seed = 0)
{
    T value;
    Filler(seed).fill(value);
    return value;
}

// Empty when equal, else the path of the first differing field.
template <class T>
std::string difference(const T& a, const T& b, const std::string& path = "")
{
    if constexpr (cdr::is_struct<T>::value) {
        std::string found;
        T::cdr_fields([&](auto m, const char* name) {
            if (found.empty()) {
                found = difference(a.*m, b.*m, path + "." + name);
            }
        });
        return found;
    } else if constexpr (cdr::is_vector<T>::value || cdr::is_array<T>::value) {
        if (a.size() != b.size()) {
            return path + ".size()";
        }
        for (std::size_t i = 0; i < a.size(); ++i) {
            std::string found = difference(a[i], b[i], path + "[" + std::to_string(i) + "]");
            if (!found.empty()) {
                return found;
            }
        }
        return "";
    } else {
        return a == b ? "" : (path.empty() ? std::string("value") : path);
    }
}

// A payload whose buffer holds exactly `size` bytes.
inline void reserveExactly(SerializedPayload_t& payload, uint32_t size)
{
    payload.empty();
    payload.reserve(size);
}

inline SerializedPayload_t payloadOf(const std::vector<uint8_t>& bytes)
{
    SerializedPayload_t payload;
    reserveExactly(payload, static_cast<uint32_t>(bytes.size()));
    if (!bytes.empty()) {
        std::memcpy(payload.data, bytes.data(), bytes.size());
    }
    payload.length = static_cast<uint32_t>(bytes.size());
    return payload;
}

inline std::vector<uint8_t> bytesOf(const SerializedPayload_t& payload)
{
    return std::vector<uint8_t>(payload.data, payload.data + payload.length);
}

// Encodes through the topic data type into a payload of the size that the
// type's own size provider asks for.
template <class T>
std::vector<uint8_t> encode(const T& sample)
{
    aspn2_msgs::idl::TopicType<T> type;
    T copy = sample;
    SerializedPayload_t payload;
    reserveExactly(payload, type.getSerializedSizeProvider(&copy)());
    if (!type.serialize(&copy, &payload)) {
        return {};
    }
    return bytesOf(payload);
}

template <class T>
bool decode(const std::vector<uint8_t>& bytes, T& sample)
{
    aspn2_msgs::idl::TopicType<T> type;
    SerializedPayload_t payload = payloadOf(bytes);
    return type.deserialize(&payload, &sample);
}

// Little-endian image of a CDR body, written field by field at the offsets
// a test expects, independently of Fast CDR.
class Image {
public:
    explicit Image(std::size_t bodySize, uint8_t encapsulation = 0x01)
        : m_bytes(4 + bodySize, 0)
    {
        m_bytes[1] = encapsulation;
    }

    template <class V>
    Image& at(std::size_t offset, V value)
    {
        uint8_t raw[sizeof(V)];
        std::memcpy(raw, &value, sizeof(V));
        for (std::size_t i = 0; i < sizeof(V); ++i) {
            m_bytes.at(4 + offset + i) = bigEndian() ? raw[sizeof(V) - 1 - i] : raw[i];
        }
        return *this;
    }

    Image& text(std::size_t offset, const std::string& s)
    {
        at<uint32_t>(offset, static_cast<uint32_t>(s.size() + 1));
        for (std::size_t i = 0; i < s.size(); ++i) {
            m_bytes.at(4 + offset + 4 + i) = static_cast<uint8_t>(s[i]);
        }
        m_bytes.at(4 + offset + 4 + s.size()) = 0;
        return *this;
    }

    const std::vector<uint8_t>& bytes() const { return m_bytes; }

private:
    bool bigEndian() const { return m_bytes[1] == 0x00; }

    std::vector<uint8_t> m_bytes;
};

inline bool hostIsLittleEndian()
{
    const uint16_t probe = 1;
    uint8_t first = 0;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

}  // namespace msgtest

#endif
