#ifndef TESTS_SUPPORT_MESSAGELEAVES_H
#define TESTS_SUPPORT_MESSAGELEAVES_H

#include <iomanip>
#include <sstream>
#include <string>
#include <type_traits>

#include "aspn2_msgs/Messages.h"

namespace testsupport {
namespace cdr = aspn2_msgs::idl::cdr;

// Every node its own count, so that a field read from the wrong place never
// matches by accident: integers have no two bytes alike (a byte-order slip
// shows; 64-bit ones do not fit in 32 bits, booleans are true), sequences hold
// three elements, enums skip their first enumerator.
template <class T>
void Fill(T& value, uint64_t& n, const std::string& text) {
    ++n;
    if constexpr (cdr::is_struct<T>::value) {
        T::cdr_fields([&](auto m, const char*) { Fill(value.*m, n, text); });
    } else if constexpr (cdr::is_vector<T>::value || cdr::is_array<T>::value) {
        if constexpr (cdr::is_vector<T>::value) value.resize(3);
        for (auto& e : value) Fill(e, n, text);
    } else if constexpr (std::is_enum_v<T>) {
        value = static_cast<T>(1 + n % (std::size(decltype(describe_enum(T{}))::enumerators) - 1));
    } else if constexpr (std::is_same_v<T, std::string>) {
        value = text + std::to_string(n);
    } else if constexpr (std::is_floating_point_v<T>) {
        value = static_cast<T>(n) + static_cast<T>(0.25);
    } else {
        value = static_cast<T>(0x8877665544332211u * n);
    }
}

template <class T>
T Filled(uint64_t n, const std::string& text = "text ") { T value; Fill(value, n, text); return value; }

// Every leaf in the order of the field list, doubles as C's %.17g prints
// them: two messages are equal when their leaves are.
template <class T>
std::string Leaves(const T& value) {
    std::ostringstream os;
    if constexpr (cdr::is_struct<T>::value) {
        T::cdr_fields([&](auto m, const char*) { os << Leaves(value.*m); });
    } else if constexpr (cdr::is_vector<T>::value || cdr::is_array<T>::value) {
        for (const auto& e : value) os << Leaves(e);
    } else {
        os << ' ' << std::setprecision(17) << value;
    }
    return os.str();
}
}  // namespace testsupport

#endif
