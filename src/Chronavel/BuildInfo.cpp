#include "Chronavel/Chronavel.h"
#include "Chronavel/BuildTime.h"

const char* const ChronavelProduct::kBuildTime = CHRONAVEL_BUILD_TIME;
