#ifndef FACE_LCM_H
#define FACE_LCM_H

#include <cstdint>

#include "FACE/FACE_Common.h"

// FACE life-cycle management interfaces of a component.
namespace FACE {
namespace LCM {

namespace Initializable {
class InitializableInstance {
public:
    virtual ~InitializableInstance() = default;
    virtual void Initialize(RETURN_CODE_TYPE::Value& code) = 0;
    virtual void Finalize(RETURN_CODE_TYPE::Value& code) = 0;
};
}  // namespace Initializable

namespace Configurable {
class ConfigurableInstance {
public:
    virtual ~ConfigurableInstance() = default;
    virtual void Configure(const String& configuration, RETURN_CODE_TYPE::Value& code) = 0;
};
}  // namespace Configurable

namespace Connectable {
class ConnectableInstance {
public:
    virtual ~ConnectableInstance() = default;
    virtual void Framework_Connect(const String& configuration, RETURN_CODE_TYPE::Value& code) = 0;
    virtual void Framework_Disconnect(RETURN_CODE_TYPE::Value& code) = 0;
};
}  // namespace Connectable

namespace Quorvane {

namespace RequestedState {
enum Value : uint32_t { START = 0, STOP = 1 };
}  // namespace RequestedState

namespace ReportedState {
enum Value : uint32_t { STARTED = 0, STOPPED = 1 };
}  // namespace ReportedState

namespace RequestedState_ReportedState {
namespace Stateful {
class StatefulInstance {
public:
    virtual ~StatefulInstance() = default;
    virtual void Query_State(ReportedState::Value& state, RETURN_CODE_TYPE::Value& code) = 0;
    virtual void Request_State_Transition(RequestedState::Value requested,
                                          RETURN_CODE_TYPE::Value& code) = 0;
};
}  // namespace Stateful
}  // namespace RequestedState_ReportedState

}  // namespace Quorvane
}  // namespace LCM
}  // namespace FACE

#endif
