#include "FACE/StringUtils.h"

#include <cstring>
#include <sstream>

namespace StringUtils {

const std::string WHITESPACE = " \n\r\t\f\v";

std::string ltrim(const std::string& s) {
    const size_t start = s.find_first_not_of(WHITESPACE);
    return start == std::string::npos ? std::string() : s.substr(start);
}

std::string rtrim(const std::string& s) {
    const size_t end = s.find_last_not_of(WHITESPACE);
    return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

std::string trim(const std::string& s) {
    return ltrim(rtrim(s));
}

std::vector<std::string> split(const std::string& s, char delimiter) {
    std::vector<std::string> tokens;
    std::istringstream in(s);
    std::string token;
    while (std::getline(in, token, delimiter)) {
        tokens.push_back(token);
    }
    return tokens;
}

std::string join(const std::vector<std::string>& parts, char separator) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i != 0) {
            out += separator;
        }
        out += parts[i];
    }
    return out;
}

void splitToChunks(const std::string& s, size_t chunkSize, std::vector<std::string>& out) {
    if (s.empty()) {
        return;
    }
    if (chunkSize == 0) {
        out.push_back(s);
        return;
    }
    for (size_t pos = 0; pos < s.size(); pos += chunkSize) {
        out.push_back(s.substr(pos, chunkSize));
    }
}

std::vector<std::string> splitToChunks(const std::string& s, size_t chunkSize) {
    std::vector<std::string> out;
    splitToChunks(s, chunkSize, out);
    return out;
}

void cstr_replace(char* text, const char* set, char replacement) {
    if (text == nullptr || set == nullptr) {
        return;
    }
    for (const char* c = set; *c != '\0'; ++c) {
        if (*c == replacement) {
            continue;  // replacing a character by itself changes nothing
        }
        for (char* p = std::strchr(text, *c); p != nullptr; p = std::strchr(text, *c)) {
            *p = replacement;
        }
    }
}

char* strncpy_prot(char* dest, const char* src, size_t n) {
    if (n == 0) {
        return dest;
    }
    std::strncpy(dest, src, n);
    dest[n - 1] = '\0';
    return dest;
}

}  // namespace StringUtils
