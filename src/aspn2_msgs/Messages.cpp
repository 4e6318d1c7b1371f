#include "aspn2_msgs/Messages.h"

namespace aspn2_msgs {
namespace idl {

ASPN2_ALL_STRUCTS(ASPN2_DEFINE_STRUCT)

}  // namespace idl
}  // namespace aspn2_msgs
