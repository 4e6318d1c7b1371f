#ifndef ASPN2_MSGS_CDRFIELDS_H
#define ASPN2_MSGS_CDRFIELDS_H

// One generic CDR walk over the field lists of the message types. A message
// type describes itself once with a static `cdr_fields(visitor)` that hands
// each member pointer (and its name) to the visitor in wire order; encoding,
// decoding, both size computations and the plain/bounded property all derive
// from that list. Everything here is templates over the field types, so the
// walk compiles down to the same Fast CDR calls as hand-written code.

#include <fastcdr/Cdr.h>
#include <fastcdr/exceptions/NotEnoughMemoryException.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

namespace aspn2_msgs {
namespace idl {
namespace cdr {

// Bounds used for the advertised maximum size of unbounded members.
constexpr std::size_t kMaxSequenceElements = 100;
constexpr std::size_t kMaxStringCharacters = 255;

template <class T, class = void>
struct is_struct : std::false_type {};
template <class T>
struct is_struct<T, std::void_t<typename T::cdr_struct_tag>> : std::true_type {};

template <class T>
struct is_vector : std::false_type {};
template <class T>
struct is_vector<std::vector<T>> : std::true_type {};

template <class T>
struct is_array : std::false_type {};
template <class T, std::size_t N>
struct is_array<std::array<T, N>> : std::true_type {};

// Wire primitives: fixed-width numbers, bool, char and 32-bit enums.
template <class T>
constexpr bool is_primitive =
    std::is_same_v<T, bool> || std::is_same_v<T, char> || std::is_same_v<T, uint8_t> ||
    std::is_same_v<T, int32_t> || std::is_same_v<T, uint32_t> ||
    std::is_same_v<T, int64_t> || std::is_same_v<T, float> || std::is_same_v<T, double> ||
    std::is_enum_v<T>;

template <class T>
constexpr std::size_t wire_size()
{
    if constexpr (std::is_enum_v<T>) {
        static_assert(sizeof(T) == 4, "enums travel as 32-bit values");
        return 4;
    } else {
        static_assert(is_primitive<T>, "not a wire primitive");
        static_assert(sizeof(T) == 1 || sizeof(T) == 4 || sizeof(T) == 8, "unexpected size");
        return sizeof(T);
    }
}

// Scalars are passed and returned by value, everything else by reference.
template <class T>
constexpr bool by_value = std::is_arithmetic_v<T> || std::is_enum_v<T>;
template <class T>
using getter_t = std::conditional_t<by_value<T>, T, const T&>;
template <class T>
using setter_t = std::conditional_t<by_value<T>, T, const T&>;

template <class M>
struct member;
template <class C, class T>
struct member<T C::*> {
    using type = T;
};
template <class M>
using member_t = typename member<M>::type;

// Innermost element of nested std::arrays and the number of them.
template <class T>
struct array_leaf {
    using type = T;
    static constexpr std::size_t count = 1;
};
template <class T, std::size_t N>
struct array_leaf<std::array<T, N>> {
    using type = typename array_leaf<T>::type;
    static constexpr std::size_t count = N * array_leaf<T>::count;
};

// Arrays of numbers are contiguous and go through Fast CDR's bulk calls.
template <class A>
constexpr bool is_bulk_array()
{
    using Leaf = typename array_leaf<A>::type;
    return std::is_arithmetic_v<Leaf> && sizeof(A) == sizeof(Leaf) * array_leaf<A>::count;
}

constexpr std::size_t align(std::size_t pos, std::size_t size)
{
    return pos + ((size - (pos % size)) & (size - 1));
}

// ---- plain / bounded: no string, no sequence, no enum anywhere inside ----

template <class T>
constexpr bool plain();

struct PlainVisitor {
    bool result = true;
    template <class M>
    constexpr void operator()(M, const char*)
    {
        result = result && plain<member_t<M>>();
    }
};

template <class T>
constexpr bool plain()
{
    if constexpr (std::is_enum_v<T> || is_vector<T>::value || std::is_same_v<T, std::string>) {
        return false;
    } else if constexpr (is_array<T>::value) {
        return plain<typename T::value_type>();
    } else if constexpr (is_struct<T>::value) {
        PlainVisitor v;
        T::cdr_fields(v);
        return v.result;
    } else {
        static_assert(is_primitive<T>, "unsupported member type");
        return true;
    }
}

// ---- largest encoding from a given position ----

template <class T>
constexpr std::size_t max_end(std::size_t pos);

struct MaxVisitor {
    std::size_t pos;
    template <class M>
    constexpr void operator()(M, const char*)
    {
        pos = max_end<member_t<M>>(pos);
    }
};

template <class T>
constexpr std::size_t max_end(std::size_t pos)
{
    if constexpr (std::is_same_v<T, std::string>) {
        return align(pos, 4) + 4 + kMaxStringCharacters + 1;
    } else if constexpr (is_vector<T>::value) {
        pos = align(pos, 4) + 4;
        for (std::size_t i = 0; i < kMaxSequenceElements; ++i) {
            pos = max_end<typename T::value_type>(pos);
        }
        return pos;
    } else if constexpr (is_array<T>::value) {
        for (std::size_t i = 0; i < std::tuple_size<T>::value; ++i) {
            pos = max_end<typename T::value_type>(pos);
        }
        return pos;
    } else if constexpr (is_struct<T>::value) {
        MaxVisitor v{pos};
        T::cdr_fields(v);
        return v.pos;
    } else {
        return align(pos, wire_size<T>()) + wire_size<T>();
    }
}

// ---- smallest encoding, ignoring padding: a lower bound per element that
// lets a decoder refuse counts the remaining payload cannot hold ----

template <class T>
constexpr std::size_t min_size();

struct MinVisitor {
    std::size_t size = 0;
    template <class M>
    constexpr void operator()(M, const char*)
    {
        size += min_size<member_t<M>>();
    }
};

template <class T>
constexpr std::size_t min_size()
{
    if constexpr (std::is_same_v<T, std::string> || is_vector<T>::value) {
        return 4;
    } else if constexpr (is_array<T>::value) {
        return std::tuple_size<T>::value * min_size<typename T::value_type>();
    } else if constexpr (is_struct<T>::value) {
        MinVisitor v;
        T::cdr_fields(v);
        return v.size;
    } else {
        return wire_size<T>();
    }
}

// ---- encoding size of one sample from a given position ----

template <class T>
std::size_t end_of(const T& value, std::size_t pos)
{
    if constexpr (std::is_same_v<T, std::string>) {
        return align(pos, 4) + 4 + value.size() + 1;
    } else if constexpr (is_vector<T>::value) {
        using E = typename T::value_type;
        pos = align(pos, 4) + 4;
        if constexpr (is_primitive<E>) {
            return value.empty() ? pos : align(pos, wire_size<E>()) + value.size() * wire_size<E>();
        } else {
            for (const E& e : value) {
                pos = end_of(e, pos);
            }
            return pos;
        }
    } else if constexpr (is_array<T>::value) {
        if constexpr (is_bulk_array<T>()) {
            using Leaf = typename array_leaf<T>::type;
            return align(pos, wire_size<Leaf>()) + array_leaf<T>::count * wire_size<Leaf>();
        } else {
            for (const auto& e : value) {
                pos = end_of(e, pos);
            }
            return pos;
        }
    } else if constexpr (is_struct<T>::value) {
        T::cdr_fields([&](auto m, const char*) { pos = end_of(value.*m, pos); });
        return pos;
    } else {
        return align(pos, wire_size<T>()) + wire_size<T>();
    }
}

// ---- encoding ----

template <class T>
void write(eprosima::fastcdr::Cdr& cdr, const T& value)
{
    if constexpr (std::is_enum_v<T>) {
        cdr.serialize(static_cast<uint32_t>(value));
    } else if constexpr (std::is_same_v<T, std::string>) {
        // Count, characters and the terminating NUL, taken from the string's
        // size rather than strlen so that the bytes written always match the
        // computed size.
        const uint32_t count = static_cast<uint32_t>(value.size() + 1);
        cdr.serialize(count);
        cdr.serializeArray(value.c_str(), count);
    } else if constexpr (is_vector<T>::value) {
        using E = typename T::value_type;
        static_assert(!std::is_same_v<E, bool>, "sequence<boolean> is not supported");
        cdr.serialize(static_cast<uint32_t>(value.size()));
        if constexpr (std::is_arithmetic_v<E>) {
            if (!value.empty()) {
                cdr.serializeArray(value.data(), value.size());
            }
        } else {
            for (const E& e : value) {
                write(cdr, e);
            }
        }
    } else if constexpr (is_array<T>::value) {
        if constexpr (is_bulk_array<T>()) {
            using Leaf = typename array_leaf<T>::type;
            cdr.serializeArray(reinterpret_cast<const Leaf*>(value.data()), array_leaf<T>::count);
        } else {
            for (const auto& e : value) {
                write(cdr, e);
            }
        }
    } else if constexpr (is_struct<T>::value) {
        T::cdr_fields([&](auto m, const char*) { write(cdr, value.*m); });
    } else {
        static_assert(is_primitive<T>, "unsupported member type");
        cdr.serialize(value);
    }
}

// ---- decoding ----

// Throws Fast CDR's not-enough-memory error unless `bytes` more bytes remain
// in the stream; the stream position is left where it was.
inline void require(eprosima::fastcdr::Cdr& cdr, uint64_t bytes)
{
    bool available = bytes <= std::numeric_limits<std::size_t>::max();
    if (available) {
        eprosima::fastcdr::Cdr::state before = cdr.getState();
        available = cdr.jump(static_cast<std::size_t>(bytes));
        cdr.setState(before);
    }
    if (!available) {
        throw eprosima::fastcdr::exception::NotEnoughMemoryException(
            eprosima::fastcdr::exception::NotEnoughMemoryException::NOT_ENOUGH_MEMORY_MESSAGE_DEFAULT);
    }
}

template <class T>
void read(eprosima::fastcdr::Cdr& cdr, T& value)
{
    if constexpr (std::is_enum_v<T>) {
        uint32_t raw = 0;
        cdr.deserialize(raw);
        value = static_cast<T>(raw);
    } else if constexpr (std::is_same_v<T, std::string>) {
        // Fast CDR checks the count against the remaining bytes itself.
        cdr.deserialize(value);
    } else if constexpr (is_vector<T>::value) {
        using E = typename T::value_type;
        uint32_t count = 0;
        cdr.deserialize(count);
        // Never size the vector from a count the payload cannot back.
        require(cdr, static_cast<uint64_t>(count) * min_size<E>());
        value.resize(count);
        if constexpr (std::is_arithmetic_v<E>) {
            if (count != 0) {
                cdr.deserializeArray(value.data(), count);
            }
        } else {
            for (E& e : value) {
                read(cdr, e);
            }
        }
    } else if constexpr (is_array<T>::value) {
        if constexpr (is_bulk_array<T>()) {
            using Leaf = typename array_leaf<T>::type;
            cdr.deserializeArray(reinterpret_cast<Leaf*>(value.data()), array_leaf<T>::count);
        } else {
            for (auto& e : value) {
                read(cdr, e);
            }
        }
    } else if constexpr (is_struct<T>::value) {
        T::cdr_fields([&](auto m, const char*) { read(cdr, value.*m); });
    } else {
        static_assert(is_primitive<T>, "unsupported member type");
        cdr.deserialize(value);
    }
}

}  // namespace cdr
}  // namespace idl
}  // namespace aspn2_msgs

#endif
