#ifndef FACE_STRINGUTILS_H
#define FACE_STRINGUTILS_H

#include <cstddef>
#include <string>
#include <vector>

namespace StringUtils {

// The characters the trim functions remove, in this order:
// blank, newline, carriage return, tab, form feed, vertical tab.
extern const std::string WHITESPACE;

std::string ltrim(const std::string& s);
std::string rtrim(const std::string& s);
std::string trim(const std::string& s);

// Tokens as std::getline with the delimiter yields them: empty tokens are
// kept, but a delimiter at the very end gives no trailing empty token.
std::vector<std::string> split(const std::string& s, char delimiter);
std::string join(const std::vector<std::string>& parts, char separator);

// Pieces of chunkSize characters, the last one holding the rest. A chunk
// size of 0 is treated as "one chunk": the whole text.
void splitToChunks(const std::string& s, size_t chunkSize, std::vector<std::string>& out);
std::vector<std::string> splitToChunks(const std::string& s, size_t chunkSize);

// Replaces every character of set in text with replacement. A replacement
// that is itself in the set is simply written over itself.
void cstr_replace(char* text, const char* set, char replacement);

// strncpy that always terminates: at most n - 1 characters and a NUL at
// n - 1. n must be at least 1; n == 0 leaves dest untouched.
char* strncpy_prot(char* dest, const char* src, size_t n);

}  // namespace StringUtils

#endif
