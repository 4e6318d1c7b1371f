#ifndef ASPN2_MSGS_PUBSUBTYPES_H
#define ASPN2_MSGS_PUBSUBTYPES_H

// One topic data type per message type, named after it with the suffix
// PubSubType (UTCTime -> UTCTimePubSubType).

#include "aspn2_msgs/Messages.h"
#include "aspn2_msgs/TopicType.h"

namespace aspn2_msgs {
namespace idl {

#define ASPN2_PUBSUBTYPE_(Name)                                      \
    extern template class TopicType<Name>;                           \
    class Name##PubSubType final : public TopicType<Name> {};

ASPN2_ALL_STRUCTS(ASPN2_PUBSUBTYPE_)

#undef ASPN2_PUBSUBTYPE_

}  // namespace idl
}  // namespace aspn2_msgs

#endif
