#ifndef FUZZ_FUZZSUPPORT_H
#define FUZZ_FUZZSUPPORT_H

// What the fuzz targets share: reading an input front to back, writing one
// in the same layout (the seed generator), and a private IPC namespace.

#include <sanitizer/common_interface_defs.h>
#include <sched.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace fuzzsupport {

// The fuzzer reports an abort as a crash and keeps the input. The line goes
// where the sanitizers report, which stays open when the fuzzer is told to
// close the target's standard error.
[[noreturn]] inline void fail(const char* what) {
    __sanitizer_report_error_summary(what);
    std::abort();
}

// Fixed-width numbers in host order and texts with a one-byte length. Past
// the end everything reads as zero, so every input is a complete script.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool done() const { return m_pos >= m_size; }

    template <class T>
    T take() {
        static_assert(std::is_trivially_copyable<T>::value, "raw bytes only");
        unsigned char bytes[sizeof(T)] = {};
        const size_t n = available(sizeof(T));
        if (n > 0) {
            std::memcpy(bytes, m_data + m_pos, n);
        }
        m_pos += n;
        T value;
        std::memcpy(&value, bytes, sizeof(T));
        return value;
    }

    std::string text() { return bytes(take<uint8_t>()); }

    std::string bytes(size_t count) {
        const size_t n = available(count);
        std::string out(reinterpret_cast<const char*>(m_data) + m_pos, n);
        m_pos += n;
        return out;
    }

    std::string rest() { return bytes(m_size - (m_pos < m_size ? m_pos : m_size)); }

private:
    size_t available(size_t wanted) const {
        const size_t left = m_pos < m_size ? m_size - m_pos : 0;
        return wanted < left ? wanted : left;
    }

    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// The writing side of Reader, for the seeds.
class Writer {
public:
    template <class T>
    Writer& put(T value) {
        static_assert(std::is_trivially_copyable<T>::value, "raw bytes only");
        m_out.append(reinterpret_cast<const char*>(&value), sizeof(T));
        return *this;
    }
    Writer& text(const std::string& s) {
        put(static_cast<uint8_t>(s.size()));
        m_out.append(s, 0, s.size() > 255 ? 255 : s.size());
        return *this;
    }
    Writer& raw(const std::string& s) {
        m_out += s;
        return *this;
    }
    const std::string& str() const { return m_out; }

private:
    std::string m_out;
};

// Adds a fuzzer flag unless the command line sets it already. libFuzzer
// reads its flags after LLVMFuzzerInitialize, which may change them.
inline void defaultFlag(int* argc, char*** argv, const char* flag) {
    const char* equals = std::strchr(flag, '=');
    const size_t nameLength = equals != nullptr ? static_cast<size_t>(equals - flag) + 1 : std::strlen(flag);
    for (int i = 1; i < *argc; ++i) {
        if (std::strncmp((*argv)[i], flag, nameLength) == 0) {
            return;
        }
    }
    // Lives as long as the process, as argv does.
    static std::vector<char*> extended;
    extended.assign(*argv, *argv + *argc);
    extended.push_back(const_cast<char*>(flag));
    extended.push_back(nullptr);
    *argv = extended.data();
    ++*argc;
}

}  // namespace fuzzsupport

#endif
