#ifndef FUZZ_CDRTYPES_H
#define FUZZ_CDRTYPES_H

#include <memory>
#include <string>
#include <vector>

#include "FACE/TSS_Topics.h"
#include "aspn2_msgs/Messages.h"

namespace fuzzsupport {

struct CdrType {
    std::string key;
    std::unique_ptr<eprosima::fastdds::dds::TopicDataType> type;
};

// Every topic data type of the registry, in the order of the message list;
// the first byte of a CDR input picks one. Asking the registry for every
// message type (nested ones included) keeps a topic added to it covered.
inline std::vector<CdrType> registryTypes() {
    std::vector<CdrType> types;
#define FUZZ_CDR_TYPE_(Name)                                                    \
    if (auto type = FACE::TSS::Topics::GetPubSubType(#Name "PubSubType")) {     \
        types.push_back(CdrType{#Name "PubSubType", std::move(type)});          \
    }
    ASPN2_ALL_STRUCTS(FUZZ_CDR_TYPE_)
#undef FUZZ_CDR_TYPE_
    return types;
}

}  // namespace fuzzsupport

#endif
