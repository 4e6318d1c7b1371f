#ifndef FACE_FACE_COMMON_H
#define FACE_FACE_COMMON_H

#include <cstdint>
#include <string>

namespace FACE {

// Character string that either owns growable storage (managed) or writes
// into a caller's buffer (unmanaged), with an optional bound. Failures never
// throw: they are reported as a RETURN_CODE or leave the string invalid,
// and an invalid string behaves as empty and refuses to change.
class String {
public:
    enum RETURN_CODE : uint32_t {
        NO_ERROR = 0,
        INSUFFICIENT_BOUND = 1,
        INSUFFICIENT_MEMORY = 2,
        INVALID_VALUE = 3
    };

    static constexpr uint32_t UNBOUNDED_VALUE = 0xFFFFFFFFu;

    // Managed, unbounded, valid and empty.
    String();
    // Managed and bounded; invalid unless 1 <= bound <= UNBOUNDED_VALUE - 1.
    String(uint32_t bound, RETURN_CODE& rc);
    // Managed copy of text, bounded to the text's own length.
    String(const char* text, RETURN_CODE& rc);
    // Unmanaged over buffer, which must have room for bound + 1 characters.
    String(char* buffer, uint32_t length, uint32_t bound, RETURN_CODE& rc);
    // Read-only view of a constant text (literals, command-line arguments).
    String(const char* text);  // NOLINT(google-explicit-constructor)

    String(const String& other);
    String& operator=(const String& other);
    ~String() = default;

    void clear();
    char* buffer();
    const char* buffer() const;
    uint32_t length() const;
    char& operator[](uint32_t index);
    const char& operator[](uint32_t index) const;
    uint32_t capacity() const;
    uint32_t bound() const;
    bool is_managed() const;
    bool is_bounded() const;
    bool is_valid() const;

    RETURN_CODE append(const String& other);
    RETURN_CODE append(const char& c);

    // Convenience for callers that work with std::string; an invalid string
    // gives an empty text.
    std::string str() const;

private:
    const char* chars() const;
    bool exceedsBound(uint64_t newLength) const;

    std::string m_managed;
    uint32_t m_bound = UNBOUNDED_VALUE;
    bool m_valid = true;
    bool m_isManaged = true;
    char* m_external = nullptr;
    uint32_t m_externalLength = 0;
    // A view of constant characters: its storage must never be written.
    bool m_readOnly = false;
};

namespace RETURN_CODE_TYPE {
enum Value : uint32_t {
    NO_ERROR = 0,
    NO_ACTION = 1,
    NOT_AVAILABLE = 2,
    INVALID_PARAM = 3,
    INVALID_CONFIG = 4,
    INVALID_MODE = 5,
    TIMED_OUT = 6,
    ADDR_IN_USE = 7,
    PERMISSION_DENIED = 8,
    MESSAGE_STALE = 9,
    IN_PROGRESS = 10,
    CONNECTION_CLOSED = 11,
    DATA_BUFFER_TOO_SMALL = 12,
    DATA_OVERFLOW = 13
};

// The code's name, or "RC_UNKNOWN" for values outside the table.
String ToString(Value value);
// Same name as a plain C string with static storage.
const char* Name(Value value);
}  // namespace RETURN_CODE_TYPE

// Return when code is NO_ERROR; otherwise print "file[line]:CODE message"
// on standard output and throw std::runtime_error with that text.
void Return_Code_Value_No_Error(const char* file, int line, const char* message,
                                RETURN_CODE_TYPE::Value code);
// As above, but NO_ACTION is accepted too.
void Return_Code_Value_No_Error_No_Action(const char* file, int line, const char* message,
                                          RETURN_CODE_TYPE::Value code);

}  // namespace FACE

#endif
