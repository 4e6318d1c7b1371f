#include <exception>

#include "Chronavel/Chronavel.h"
#include "Chronavel/ProcessDriver.h"

int main(int argc, char* argv[]) {
    try {
        return ChronavelDriver::run<Chronavel>(argc, argv);
    } catch (const std::exception&) {
        // The failed check has already printed its line.
        return 2;
    }
}
