#ifndef CHRONAVEL_TIMESERVICECONTROLLER_H
#define CHRONAVEL_TIMESERVICECONTROLLER_H

#include <cstdint>
#include <string>

// Disciplines the platform's time from the received UTC time. For now it
// holds the settings that configuration hands it; the discipline itself
// builds on them.
class TimeServiceController {
public:
    explicit TimeServiceController(const std::string& name);
    TimeServiceController(const TimeServiceController&) = delete;
    TimeServiceController& operator=(const TimeServiceController&) = delete;

    void doDebug(int value) { debug = value; }
    void doQuiet(int value) { quiet = value; }

    int isDebug() const { return debug; }
    int isQuiet() const { return quiet; }
    const std::string& getName() const { return name; }

    // PPS offset threshold in nanoseconds, and the number of in-threshold
    // messages that must be exceeded before the PPS counts as settled.
    double ppsSettledErrorThreshold = 0.0;
    uint32_t ppsCountRequiredWithinThreshold = 0;

private:
    std::string name;
    int debug = 0;
    int quiet = 0;
};

#endif
