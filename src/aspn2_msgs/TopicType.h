#ifndef ASPN2_MSGS_TOPICTYPE_H
#define ASPN2_MSGS_TOPICTYPE_H

// The Fast DDS topic data type of one message type, shared by all of them.

#include "aspn2_msgs/CdrFields.h"

#include <fastcdr/Cdr.h>
#include <fastcdr/FastBuffer.h>
#include <fastcdr/exceptions/Exception.h>
#include <fastcdr/exceptions/NotEnoughMemoryException.h>
#include <fastdds/dds/topic/TopicDataType.hpp>
#include <fastdds/rtps/common/InstanceHandle.h>
#include <fastdds/rtps/common/SerializedPayload.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <utility>

namespace aspn2_msgs {
namespace idl {

template <class T>
class TopicType : public eprosima::fastdds::dds::TopicDataType {
public:
    using type = T;

    // Size of the 4-byte representation header in front of every body.
    static constexpr uint32_t kEncapsulationSize = 4;
    static constexpr bool kPlain = cdr::plain<T>();
    static constexpr uint32_t kTypeSize =
        static_cast<uint32_t>(cdr::max_end<T>(0)) + kEncapsulationSize;

    TopicType()
        : m_keyBuffer(new unsigned char[std::max<std::size_t>(16, T::getKeyMaxCdrSerializedSize())]())
    {
        setName(T::type_name);
        m_typeSize = kTypeSize;
        m_isGetKeyDefined = T::isKeyDefined();
    }
    ~TopicType() override = default;
    TopicType(const TopicType&) = delete;
    TopicType& operator=(const TopicType&) = delete;

    bool serialize(void* data, eprosima::fastrtps::rtps::SerializedPayload_t* payload) override
    {
        const T* sample = static_cast<const T*>(data);
        eprosima::fastcdr::FastBuffer buffer(reinterpret_cast<char*>(payload->data), payload->max_size);
        eprosima::fastcdr::Cdr ser(buffer, eprosima::fastcdr::Cdr::DEFAULT_ENDIAN,
                                   eprosima::fastcdr::Cdr::DDS_CDR);
        payload->encapsulation =
            ser.endianness() == eprosima::fastcdr::Cdr::BIG_ENDIANNESS ? CDR_BE : CDR_LE;
        try {
            ser.serialize_encapsulation();
            sample->serialize(ser);
        } catch (const eprosima::fastcdr::exception::NotEnoughMemoryException&) {
            return false;
        }
        payload->length = static_cast<uint32_t>(ser.getSerializedDataLength());
        return true;
    }

    // Decodes into a scratch sample first, so a refused payload leaves the
    // caller's sample as it was.
    bool deserialize(eprosima::fastrtps::rtps::SerializedPayload_t* payload, void* data) override
    {
        // Only plain CDR bodies are understood; parameter lists and XCDR2
        // lay the same fields out differently.
        if (payload->length >= 2 && (payload->data[0] != 0 || payload->data[1] > 1)) {
            return false;
        }
        eprosima::fastcdr::FastBuffer buffer(reinterpret_cast<char*>(payload->data), payload->length);
        eprosima::fastcdr::Cdr deser(buffer, eprosima::fastcdr::Cdr::DEFAULT_ENDIAN,
                                     eprosima::fastcdr::Cdr::DDS_CDR);
        T decoded;
        try {
            deser.read_encapsulation();
            payload->encapsulation =
                deser.endianness() == eprosima::fastcdr::Cdr::BIG_ENDIANNESS ? CDR_BE : CDR_LE;
            decoded.deserialize(deser);
        } catch (const eprosima::fastcdr::exception::Exception&) {
            // Truncated payloads, and values Fast CDR rejects (a boolean
            // byte other than 0 or 1).
            return false;
        }
        *static_cast<T*>(data) = std::move(decoded);
        return true;
    }

    std::function<uint32_t()> getSerializedSizeProvider(void* data) override
    {
        return [data]() -> uint32_t {
            return static_cast<uint32_t>(T::getCdrSerializedSize(*static_cast<const T*>(data))) +
                   kEncapsulationSize;
        };
    }

    void* createData() override { return new T(); }

    void deleteData(void* data) override { delete static_cast<T*>(data); }

    bool getKey(void* data, eprosima::fastrtps::rtps::InstanceHandle_t* handle,
                bool force_md5 = false) override
    {
        static_assert(!T::isKeyDefined(), "keyed message types are not supported");
        static_cast<void>(data);
        static_cast<void>(handle);
        static_cast<void>(force_md5);
        return false;
    }

    bool is_bounded() const override { return kPlain; }

    bool is_plain() const override { return kPlain; }

    bool construct_sample(void* memory) const override
    {
        if constexpr (kPlain) {
            new (memory) T();
            return true;
        } else {
            static_cast<void>(memory);
            return false;
        }
    }

private:
    std::unique_ptr<unsigned char[]> m_keyBuffer;
};

}  // namespace idl
}  // namespace aspn2_msgs

#endif
