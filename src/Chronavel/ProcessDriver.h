#ifndef CHRONAVEL_PROCESSDRIVER_H
#define CHRONAVEL_PROCESSDRIVER_H

#include <csignal>
#include <iostream>
#include <memory>
#include <utility>

#include "FACE/FACE_Common.h"
#include "FACE/LCM.h"

// The process life cycle of a FACE component: initialize, configure,
// connect, start, wait for a termination signal, then stop, disconnect and
// finalize. It is a template over the component so that tests can drive a
// stand-in through exactly the same code as the real server.
namespace ChronavelDriver {

extern volatile sig_atomic_t exitFlag;
extern volatile sig_atomic_t exitSignal;
extern int exitPollMs;
extern int transactionPollMs;

// Sleeps the whole period even when signals interrupt the sleep.
void sleepMs(int milliseconds);

void SignalHandler(int signal);
void SetupSignalHandler();

// Calls operation until it stops reporting IN_PROGRESS, pausing
// transactionPollMs between calls.
template <class Operation>
void callOnceTransactionally(Operation&& operation, FACE::RETURN_CODE_TYPE::Value& code) {
    for (;;) {
        code = FACE::RETURN_CODE_TYPE::IN_PROGRESS;
        operation(code);
        if (code != FACE::RETURN_CODE_TYPE::IN_PROGRESS) {
            return;
        }
        sleepMs(transactionPollMs);
    }
}

// The source name that failure lines carry.
constexpr const char* kDriverFile = "ChronavelMain";

// makeComponent builds the component once the command line has been
// accepted; a simulation builds it on its own platform.
template <class MakeComponent>
int run(int argc, char* argv[], MakeComponent makeComponent) {
    using FACE::Return_Code_Value_No_Error_No_Action;
    using FACE::RETURN_CODE_TYPE::Value;
    namespace States = FACE::LCM::Quorvane::RequestedState;

    if (argc != 2) {
        std::cout << "Usage: " << (argc > 0 && argv[0] != nullptr ? argv[0] : "chronavel")
                  << " <top-level-config-file> " << std::endl;
        return 1;
    }
    std::unique_ptr<FACE::String> configPath(new FACE::String(argv[1]));
    auto component = makeComponent();
    Value code = FACE::RETURN_CODE_TYPE::NO_ERROR;

    callOnceTransactionally([&](Value& c) { component->Initialize(c); }, code);
    Return_Code_Value_No_Error_No_Action(kDriverFile, __LINE__, "Initialize() failed", code);

    component->Configure(*configPath, code);
    Return_Code_Value_No_Error_No_Action(kDriverFile, __LINE__, "Configure() failed", code);

    callOnceTransactionally([&](Value& c) { component->Framework_Connect(*configPath, c); },
                            code);
    Return_Code_Value_No_Error_No_Action(kDriverFile, __LINE__, "Framework_Connect() failed",
                                         code);

    callOnceTransactionally(
        [&](Value& c) { component->Request_State_Transition(States::START, c); }, code);
    Return_Code_Value_No_Error_No_Action(kDriverFile, __LINE__,
                                         "Request_State_Transition(START) failed", code);

    SetupSignalHandler();
    while (exitFlag == 0) {
        sleepMs(exitPollMs);
    }

    callOnceTransactionally(
        [&](Value& c) { component->Request_State_Transition(States::STOP, c); }, code);
    Return_Code_Value_No_Error_No_Action(kDriverFile, __LINE__,
                                         "Request_State_Transition(STOP) failed", code);

    callOnceTransactionally([&](Value& c) { component->Framework_Disconnect(c); }, code);
    Return_Code_Value_No_Error_No_Action(kDriverFile, __LINE__, "Framework_Disconnect() failed",
                                         code);

    callOnceTransactionally([&](Value& c) { component->Finalize(c); }, code);
    Return_Code_Value_No_Error_No_Action(kDriverFile, __LINE__, "Finalize() failed", code);

    std::cout << "!!!!!! " << argv[0] << " has exited. Signal: " << static_cast<int>(exitSignal)
              << std::endl;
    component.reset();
    configPath.reset();
    return 0;
}

template <class Component>
int run(int argc, char* argv[]) {
    return run(argc, argv, [] { return std::unique_ptr<Component>(new Component()); });
}

}  // namespace ChronavelDriver

#endif
