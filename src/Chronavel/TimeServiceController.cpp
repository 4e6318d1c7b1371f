#include "Chronavel/TimeServiceController.h"

TimeServiceController::TimeServiceController(const std::string& serverName) : name(serverName) {}
