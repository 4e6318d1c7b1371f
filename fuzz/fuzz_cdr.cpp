// CDR decoding of every registry type through its topic data type, as Fast
// DDS calls it for a received sample. Input: one byte that picks the type,
// then the serialized payload (representation header and body).
//
// Whatever decodes must encode again into exactly the size announced for
// it (and, for a bounded type, within its maximum), and that encoding must
// decode and encode to the same bytes.

#include <fastdds/rtps/common/SerializedPayload.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "CdrTypes.h"
#include "FuzzSupport.h"

namespace {

using eprosima::fastdds::dds::TopicDataType;
using eprosima::fastrtps::rtps::SerializedPayload_t;
using fuzzsupport::fail;

const std::vector<fuzzsupport::CdrType>& types() {
    static const std::vector<fuzzsupport::CdrType> all = fuzzsupport::registryTypes();
    return all;
}

// The sample's encoding into a payload of the size the type announces for
// it, which is what a writer of an unbounded type allocates.
void encode(TopicDataType& type, void* sample, SerializedPayload_t& payload) {
    const uint32_t size = type.getSerializedSizeProvider(sample)();
    if (type.is_bounded() && size > type.m_typeSize) {
        fail("a bounded sample is larger than the type's maximum size");
    }
    payload.reserve(size);
    if (!type.serialize(sample, &payload)) {
        fail("a decoded sample does not encode");
    }
    if (payload.length != size) {
        fail("the encoding is not the size announced for it");
    }
}

struct Sample {
    explicit Sample(TopicDataType& t) : type(t), data(t.createData()) {}
    ~Sample() { type.deleteData(data); }
    Sample(const Sample&) = delete;
    Sample& operator=(const Sample&) = delete;
    TopicDataType& type;
    void* data;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (types().empty()) {
        fail("the registry has no types");
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    TopicDataType& type = *types()[data[0] % types().size()].type;
    const uint32_t length = static_cast<uint32_t>(size - 1);

    SerializedPayload_t received(length);
    if (length > 0) {
        std::memcpy(received.data, data + 1, length);
    }
    received.length = length;
    Sample first(type);
    if (!type.deserialize(&received, first.data)) {
        return 0;
    }

    SerializedPayload_t encoded;
    encode(type, first.data, encoded);
    Sample second(type);
    if (!type.deserialize(&encoded, second.data)) {
        fail("an encoding of a decoded sample does not decode");
    }
    SerializedPayload_t again;
    encode(type, second.data, again);
    if (again.length != encoded.length || std::memcmp(again.data, encoded.data, encoded.length) != 0) {
        fail("decoding and encoding again changed the bytes");
    }
    return 0;
}
