#include "aspn2_msgs/PubSubTypes.h"

namespace aspn2_msgs {
namespace idl {

#define ASPN2_INSTANTIATE_(Name) template class TopicType<Name>;
ASPN2_ALL_STRUCTS(ASPN2_INSTANTIATE_)
#undef ASPN2_INSTANTIATE_

}  // namespace idl
}  // namespace aspn2_msgs
