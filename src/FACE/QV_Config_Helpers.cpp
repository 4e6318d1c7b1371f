#include "FACE/QV_Config_Helpers.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <iostream>

#include "FACE/StringUtils.h"

namespace QV_Config_Helpers {

namespace Details {

std::string Read_Config(FACE::Configuration& config, FACE::Configuration::HANDLE_TYPE handle,
                        const FACE::String& parameter) {
    FACE::RETURN_CODE_TYPE::Value code = FACE::RETURN_CODE_TYPE::NO_ERROR;
    FACE::Configuration::BUFFER_SIZE_TYPE size = 0;
    config.Get_Size(handle, parameter, size, code);
    if (code == FACE::RETURN_CODE_TYPE::NO_ERROR && size > 0) {
        std::string text(static_cast<size_t>(size), '\0');
        FACE::Configuration::BUFFER_SIZE_TYPE bytesRead = 0;
        config.Read(handle, parameter, &text[0], size, bytesRead, code);
        if (code == FACE::RETURN_CODE_TYPE::NO_ERROR && bytesRead > 0) {
            text.resize(static_cast<size_t>(bytesRead));
            return text;
        }
    }
    std::cout << "WARNING - Parameter " << parameter.str() << " not found" << std::endl;
    return std::string();
}

bool Write_Config(FACE::Configuration& config, FACE::Configuration::HANDLE_TYPE handle,
                  const FACE::String& parameter, const FACE::String& value) {
    if (!value.is_valid()) {
        return false;
    }
    FACE::RETURN_CODE_TYPE::Value code = FACE::RETURN_CODE_TYPE::NO_ERROR;
    FACE::Configuration::BUFFER_SIZE_TYPE written = 0;
    config.Write(handle, parameter, value.buffer(),
                 static_cast<FACE::Configuration::BUFFER_SIZE_TYPE>(value.length()), written, code);
    return code == FACE::RETURN_CODE_TYPE::NO_ERROR &&
           static_cast<uint32_t>(written) == value.length();
}

}  // namespace Details

bool ParseBoolean(const std::string& text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "true") {
        return true;
    }
    if (lower == "false") {
        return false;
    }
    return std::strtol(lower.c_str(), nullptr, 0) != 0;
}

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t& value) {
    const std::string t = StringUtils::trim(text);
    if (t.empty() || t[0] == '-' || t[0] == '+') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(t.c_str(), &end, 0);
    if (errno != 0 || end != t.c_str() + t.size() || parsed > max) {
        return false;
    }
    value = parsed;
    return true;
}

bool ParseSigned(const std::string& text, int64_t min, int64_t max, int64_t& value) {
    const std::string t = StringUtils::trim(text);
    if (t.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(t.c_str(), &end, 0);
    if (errno != 0 || end != t.c_str() + t.size() || parsed < min || parsed > max) {
        return false;
    }
    value = parsed;
    return true;
}

void Get_String_Parameter(FACE::Configuration& config, FACE::Configuration::HANDLE_TYPE handle,
                          const FACE::String& parameter, FACE::String& value,
                          FACE::RETURN_CODE_TYPE::Value& code) {
    const std::string text = Details::Read_Config(config, handle, parameter);
    if (text.empty()) {
        code = FACE::RETURN_CODE_TYPE::INVALID_CONFIG;
        return;
    }
    FACE::String::RETURN_CODE rc;
    value = FACE::String(text.c_str(), rc);
}

void Get_Boolean_Parameter(FACE::Configuration& config, FACE::Configuration::HANDLE_TYPE handle,
                           const FACE::String& parameter, bool& value,
                           FACE::RETURN_CODE_TYPE::Value& code) {
    const std::string text = Details::Read_Config(config, handle, parameter);
    if (text.empty()) {
        code = FACE::RETURN_CODE_TYPE::INVALID_CONFIG;
        return;
    }
    value = ParseBoolean(text);
}

bool Set_String_Parameter(FACE::Configuration& config, FACE::Configuration::HANDLE_TYPE handle,
                          const FACE::String& parameter, const FACE::String& value,
                          FACE::RETURN_CODE_TYPE::Value& code) {
    const bool ok = Details::Write_Config(config, handle, parameter, value);
    if (!ok) {
        code = FACE::RETURN_CODE_TYPE::INVALID_CONFIG;
    }
    return ok;
}

bool Set_Boolean_Parameter(FACE::Configuration& config, FACE::Configuration::HANDLE_TYPE handle,
                           const FACE::String& parameter, bool value,
                           FACE::RETURN_CODE_TYPE::Value& code) {
    return Set_String_Parameter(config, handle, parameter, value ? "TRUE" : "FALSE", code);
}

}  // namespace QV_Config_Helpers
