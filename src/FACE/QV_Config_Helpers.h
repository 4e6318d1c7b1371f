#ifndef FACE_QV_CONFIG_HELPERS_H
#define FACE_QV_CONFIG_HELPERS_H

#include <cstdint>
#include <string>

#include "FACE/Configuration.h"

// Whole-value readers and writers over FACE::Configuration. They only ever
// lower the code to INVALID_CONFIG, so a caller presets NO_ERROR, reads a
// series of values and checks once.
namespace QV_Config_Helpers {

namespace Details {
// The value's text; an empty text, after a "WARNING - Parameter <name> not
// found" line, when it is missing or empty.
std::string Read_Config(FACE::Configuration& config, FACE::Configuration::HANDLE_TYPE handle,
                        const FACE::String& parameter);
// True only when the whole value was written and saved.
bool Write_Config(FACE::Configuration& config, FACE::Configuration::HANDLE_TYPE handle,
                  const FACE::String& parameter, const FACE::String& value);
}  // namespace Details

// "true"/"false" in any letter case, else an integer (base 0) that is
// non-zero for true.
bool ParseBoolean(const std::string& text);

// A whole value (blanks around it allowed) as a number with the base
// prefixes of strtoull/strtoll, within the given range. Text that is not
// entirely a number is refused rather than read as 0; an unsigned number
// takes no sign.
bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t& value);
bool ParseSigned(const std::string& text, int64_t min, int64_t max, int64_t& value);

void Get_String_Parameter(FACE::Configuration& config, FACE::Configuration::HANDLE_TYPE handle,
                          const FACE::String& parameter, FACE::String& value,
                          FACE::RETURN_CODE_TYPE::Value& code);
void Get_Boolean_Parameter(FACE::Configuration& config, FACE::Configuration::HANDLE_TYPE handle,
                           const FACE::String& parameter, bool& value,
                           FACE::RETURN_CODE_TYPE::Value& code);
bool Set_String_Parameter(FACE::Configuration& config, FACE::Configuration::HANDLE_TYPE handle,
                          const FACE::String& parameter, const FACE::String& value,
                          FACE::RETURN_CODE_TYPE::Value& code);
bool Set_Boolean_Parameter(FACE::Configuration& config, FACE::Configuration::HANDLE_TYPE handle,
                           const FACE::String& parameter, bool value,
                           FACE::RETURN_CODE_TYPE::Value& code);

}  // namespace QV_Config_Helpers

#endif
