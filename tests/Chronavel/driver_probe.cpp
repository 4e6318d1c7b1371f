// A stand-in component driven by the real process driver. The argument:
//   slow-init    Initialize reports IN_PROGRESS twice, then takes two seconds
//   slow-stop    the stop transition takes 600 ms
//   trap         once the handlers are installed, a thread executes an
//                illegal instruction
#include <chrono>
#include <csignal>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "Chronavel/ProcessDriver.h"

namespace {

std::string mode;

long long nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool handlerInstalled(int sig) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigCgt:", 0) == 0) {
            return (std::stoull(line.substr(7), nullptr, 16) >> (sig - 1)) & 1u;
        }
    }
    return false;
}

void say(const std::string& what) { std::cout << what << std::endl; }

class StandIn : public FACE::LCM::Initializable::InitializableInstance,
                public FACE::LCM::Configurable::ConfigurableInstance,
                public FACE::LCM::Connectable::ConnectableInstance,
                public FACE::LCM::Quorvane::RequestedState_ReportedState::Stateful::StatefulInstance {
public:
    using Code = FACE::RETURN_CODE_TYPE::Value;

    void Initialize(Code& code) override {
        say("initialize call at " + std::to_string(nowMs()));
        if (mode == "slow-init" && ++m_initializeCalls < 3) {
            code = FACE::RETURN_CODE_TYPE::IN_PROGRESS;
            return;
        }
        if (mode == "slow-init") {
            say("initializing");
            std::this_thread::sleep_for(std::chrono::seconds(2));
        }
        code = FACE::RETURN_CODE_TYPE::NO_ACTION;
    }
    void Finalize(Code& code) override {
        say("finalize");
        code = FACE::RETURN_CODE_TYPE::NO_ACTION;
    }
    void Configure(const FACE::String&, Code& code) override { code = FACE::RETURN_CODE_TYPE::NO_ERROR; }
    void Framework_Connect(const FACE::String&, Code& code) override { code = FACE::RETURN_CODE_TYPE::NO_ERROR; }
    void Framework_Disconnect(Code& code) override {
        say("disconnect");
        code = FACE::RETURN_CODE_TYPE::NO_ERROR;
    }
    void Query_State(FACE::LCM::Quorvane::ReportedState::Value& state, Code& code) override {
        state = FACE::LCM::Quorvane::ReportedState::STOPPED;
        code = FACE::RETURN_CODE_TYPE::NO_ERROR;
    }
    void Request_State_Transition(FACE::LCM::Quorvane::RequestedState::Value requested, Code& code) override {
        if (requested == FACE::LCM::Quorvane::RequestedState::START) {
            if (mode == "trap") {
                std::thread([] {
                    while (!handlerInstalled(SIGILL)) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    }
                    say("trapping");
                    __builtin_trap();
                }).detach();
            }
        } else {
            say("stopping at " + std::to_string(nowMs()));
            if (mode == "slow-stop") {
                std::this_thread::sleep_for(std::chrono::milliseconds(600));
            }
        }
        code = FACE::RETURN_CODE_TYPE::NO_ERROR;
    }

private:
    int m_initializeCalls = 0;
};

}  // namespace

int main(int argc, char* argv[]) {
    if (argc == 2) {
        mode = argv[1];
    }
    try {
        return ChronavelDriver::run<StandIn>(argc, argv);
    } catch (const std::exception&) {
        return 2;
    }
}
