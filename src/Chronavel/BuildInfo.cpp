#include "Chronavel/Chronavel.h"
#include "Chronavel/BuildTime.h"

#include <string>

const char* const ChronavelProduct::kBuildTime = CHRONAVEL_BUILD_TIME;

static_assert(std::char_traits<char>::length(ChronavelProduct::kPartNumber) == 13,
              "the product part number has 13 characters");
static_assert(std::char_traits<char>::length(ChronavelProduct::kNotice) == 62 &&
                  ChronavelProduct::kNotice[0] == ' ' && ChronavelProduct::kNotice[1] == ' ',
              "the product notice has 62 characters and begins with two blanks");
static_assert(sizeof(CHRONAVEL_BUILD_TIME) == sizeof("2000-01-01T00:00:00Z"),
              "the build time is an ISO 8601 UTC time stamp");
