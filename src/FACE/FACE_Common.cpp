#include "FACE/FACE_Common.h"

#include <cstring>
#include <iostream>
#include <new>
#include <stdexcept>
#include <string>

namespace FACE {

namespace {
constexpr uint32_t kMaxBound = String::UNBOUNDED_VALUE - 1;
// Where a cleared read-only view points: it has no storage of its own.
const char kEmpty[] = "";
}  // namespace

String::String() = default;

String::String(uint32_t bound, RETURN_CODE& rc) : m_bound(bound) {
    m_valid = bound >= 1 && bound <= kMaxBound;
    rc = m_valid ? NO_ERROR : INVALID_VALUE;
}

String::String(const char* text, RETURN_CODE& rc) {
    if (text == nullptr) {
        m_valid = false;
        m_bound = 0;
        rc = INVALID_VALUE;
        return;
    }
    const size_t len = std::strlen(text);
    if (len > kMaxBound) {
        m_valid = false;
        m_bound = 0;
        rc = INVALID_VALUE;
        return;
    }
    try {
        m_managed.assign(text, len);
    } catch (const std::bad_alloc&) {
        m_valid = false;
        rc = INSUFFICIENT_MEMORY;
        return;
    }
    m_bound = static_cast<uint32_t>(len);
    rc = NO_ERROR;
}

String::String(char* buffer, uint32_t length, uint32_t bound, RETURN_CODE& rc)
    : m_bound(bound), m_isManaged(false) {
    if (buffer == nullptr || bound < 1 || bound > kMaxBound || length > bound) {
        m_valid = false;
        rc = INVALID_VALUE;
        return;
    }
    m_external = buffer;
    m_externalLength = length;
    m_external[length] = '\0';
    rc = NO_ERROR;
}

String::String(const char* text) : m_isManaged(false), m_readOnly(true) {
    const size_t len = text == nullptr ? 0 : std::strlen(text);
    if (text == nullptr || len > kMaxBound) {
        m_valid = false;
        m_bound = 0;
        return;
    }
    // Never written through: every write path checks m_readOnly or is
    // refused by the bound, which equals the length.
    m_external = const_cast<char*>(text);
    m_externalLength = static_cast<uint32_t>(len);
    m_bound = m_externalLength;
}

String::String(const String& other) : m_bound(other.m_bound), m_valid(other.m_valid) {
    if (!other.m_valid) {
        return;
    }
    try {
        m_managed.assign(other.chars(), other.length());
    } catch (const std::bad_alloc&) {
        m_valid = false;
    }
}

String& String::operator=(const String& other) {
    if (this == &other) {
        return *this;
    }
    bool copied = false;
    if (other.m_valid) {
        try {
            m_managed.assign(other.chars(), other.length());
            copied = true;
        } catch (const std::bad_alloc&) {
            copied = false;
        }
    }
    m_isManaged = true;
    m_readOnly = false;
    m_external = nullptr;
    m_externalLength = 0;
    m_bound = other.m_bound;
    m_valid = other.m_valid && copied;
    return *this;
}

const char* String::chars() const {
    return m_isManaged ? m_managed.c_str() : m_external;
}

void String::clear() {
    if (!m_valid) {
        return;
    }
    if (m_isManaged) {
        m_managed.clear();
    } else if (m_readOnly) {
        m_external = const_cast<char*>(kEmpty);
        m_externalLength = 0;
    } else {
        m_externalLength = 0;
        m_external[0] = '\0';
    }
}

char* String::buffer() {
    if (!m_valid) {
        return nullptr;
    }
    return m_isManaged ? &m_managed[0] : m_external;
}

const char* String::buffer() const {
    return m_valid ? chars() : nullptr;
}

uint32_t String::length() const {
    if (!m_valid) {
        return 0;
    }
    return m_isManaged ? static_cast<uint32_t>(m_managed.size()) : m_externalLength;
}

char& String::operator[](uint32_t index) {
    static char invalidNul;
    if (!m_valid) {
        invalidNul = '\0';
        return invalidNul;
    }
    const uint32_t i = index < length() ? index : length();
    return m_isManaged ? m_managed[i] : m_external[i];
}

const char& String::operator[](uint32_t index) const {
    static const char invalidNul = '\0';
    if (!m_valid) {
        return invalidNul;
    }
    const uint32_t i = index < length() ? index : length();
    return chars()[i];
}

uint32_t String::capacity() const {
    if (!m_valid) {
        return 0;
    }
    return m_isManaged ? static_cast<uint32_t>(m_managed.capacity()) : m_bound;
}

uint32_t String::bound() const {
    return m_valid ? m_bound : 0;
}

bool String::is_managed() const {
    return m_valid && m_isManaged;
}

bool String::is_bounded() const {
    return m_valid && m_bound != UNBOUNDED_VALUE;
}

bool String::is_valid() const {
    return m_valid;
}

bool String::exceedsBound(uint64_t newLength) const {
    return m_bound != UNBOUNDED_VALUE && newLength > m_bound;
}

String::RETURN_CODE String::append(const String& other) {
    if (!m_valid || !other.m_valid) {
        return INVALID_VALUE;
    }
    const uint64_t extra = other.length();
    if (exceedsBound(uint64_t{length()} + extra)) {
        return INSUFFICIENT_BOUND;
    }
    if (extra == 0) {
        return NO_ERROR;
    }
    if (m_isManaged) {
        if (uint64_t{length()} + extra > kMaxBound) {
            return INSUFFICIENT_BOUND;
        }
        try {
            // append() copes with the source aliasing our own storage.
            m_managed.append(other.chars(), static_cast<size_t>(extra));
        } catch (const std::bad_alloc&) {
            return INSUFFICIENT_MEMORY;
        } catch (const std::length_error&) {
            return INSUFFICIENT_MEMORY;
        }
        return NO_ERROR;
    }
    if (m_readOnly) {
        return INSUFFICIENT_BOUND;
    }
    std::memmove(m_external + m_externalLength, other.chars(), static_cast<size_t>(extra));
    m_externalLength += static_cast<uint32_t>(extra);
    m_external[m_externalLength] = '\0';
    return NO_ERROR;
}

String::RETURN_CODE String::append(const char& c) {
    if (!m_valid) {
        return INVALID_VALUE;
    }
    if (exceedsBound(uint64_t{length()} + 1)) {
        return INSUFFICIENT_BOUND;
    }
    if (m_isManaged) {
        if (m_managed.size() >= kMaxBound) {
            return INSUFFICIENT_BOUND;
        }
        try {
            m_managed.push_back(c);
        } catch (const std::bad_alloc&) {
            return INSUFFICIENT_MEMORY;
        } catch (const std::length_error&) {
            return INSUFFICIENT_MEMORY;
        }
        return NO_ERROR;
    }
    if (m_readOnly) {
        return INSUFFICIENT_BOUND;
    }
    m_external[m_externalLength++] = c;
    m_external[m_externalLength] = '\0';
    return NO_ERROR;
}

std::string String::str() const {
    return m_valid ? std::string(chars(), length()) : std::string();
}

namespace RETURN_CODE_TYPE {

const char* Name(Value value) {
    static const char* const names[] = {
        "NO_ERROR",      "NO_ACTION",     "NOT_AVAILABLE",     "INVALID_PARAM",
        "INVALID_CONFIG", "INVALID_MODE", "TIMED_OUT",         "ADDR_IN_USE",
        "PERMISSION_DENIED", "MESSAGE_STALE", "IN_PROGRESS",   "CONNECTION_CLOSED",
        "DATA_BUFFER_TOO_SMALL", "DATA_OVERFLOW"};
    const uint32_t index = static_cast<uint32_t>(value);
    return index < sizeof(names) / sizeof(names[0]) ? names[index] : "RC_UNKNOWN";
}

String ToString(Value value) {
    String::RETURN_CODE rc;
    return String(Name(value), rc);
}

}  // namespace RETURN_CODE_TYPE

namespace {
[[noreturn]] void throw_error(const char* file, int line, const char* message,
                              RETURN_CODE_TYPE::Value code) {
    std::string text = file != nullptr ? file : "";
    text += "[";
    text += std::to_string(line);
    text += "]:";
    text += RETURN_CODE_TYPE::Name(code);
    text += " ";
    text += message != nullptr ? message : "";
    std::cout << text << std::endl;
    throw std::runtime_error(text);
}
}  // namespace

void Return_Code_Value_No_Error(const char* file, int line, const char* message,
                                RETURN_CODE_TYPE::Value code) {
    if (code != RETURN_CODE_TYPE::NO_ERROR) {
        throw_error(file, line, message, code);
    }
}

void Return_Code_Value_No_Error_No_Action(const char* file, int line, const char* message,
                                          RETURN_CODE_TYPE::Value code) {
    if (code != RETURN_CODE_TYPE::NO_ERROR && code != RETURN_CODE_TYPE::NO_ACTION) {
        throw_error(file, line, message, code);
    }
}

}  // namespace FACE
