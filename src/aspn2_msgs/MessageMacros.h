#ifndef ASPN2_MSGS_MESSAGEMACROS_H
#define ASPN2_MSGS_MESSAGEMACROS_H

// Builds the message value types from one field list each.
//
// A struct `Name` is described by a macro ASPN2_FIELDS_Name(F) that applies
// F(member_name, C++ type) to each field in wire order; the type comes last
// so that it may contain commas. ASPN2_STRUCT(Name) then declares the class
// with its members, accessors and the `cdr_fields` visitor that CdrFields.h
// walks; ASPN2_DEFINE_STRUCT(Name) defines the out-of-line CDR functions.
//
// An enum `Name` is described by ASPN2_ENUMERATORS_Name(E), applying E to
// each enumerator in order (values 0, 1, 2, ...).

#include "aspn2_msgs/CdrFields.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#define ASPN2_MEMBER_(name, ...) __VA_ARGS__ m_##name{};

// Getter, mutable getter and setter; non-scalar fields also get a move setter.
#define ASPN2_ACCESSORS_(name, ...)                                                       \
    ::aspn2_msgs::idl::cdr::getter_t<__VA_ARGS__> name() const { return m_##name; }       \
    __VA_ARGS__& name() { return m_##name; }                                              \
    void name(::aspn2_msgs::idl::cdr::setter_t<__VA_ARGS__> value) { m_##name = value; } \
    template <class U_ = __VA_ARGS__,                                                     \
              ::std::enable_if_t<!::aspn2_msgs::idl::cdr::by_value<U_>, int> = 0>         \
    void name(__VA_ARGS__&& value)                                                        \
    {                                                                                     \
        m_##name = ::std::move(value);                                                    \
    }

#define ASPN2_VISIT_(name, ...) visitor(&Self_::m_##name, #name);

#define ASPN2_STRUCT(Name)                                                                \
    class Name {                                                                          \
        using Self_ = Name;                                                               \
                                                                                          \
    public:                                                                               \
        using cdr_struct_tag = void;                                                      \
        static constexpr const char* type_name = "aspn2_msgs::idl::" #Name;               \
                                                                                          \
        ASPN2_FIELDS_##Name(ASPN2_ACCESSORS_)                                             \
                                                                                          \
        static std::size_t getMaxCdrSerializedSize(std::size_t current_alignment = 0);    \
        static std::size_t getCdrSerializedSize(const Name& data,                         \
                                                std::size_t current_alignment = 0);       \
        void serialize(::eprosima::fastcdr::Cdr& scdr) const;                             \
        void deserialize(::eprosima::fastcdr::Cdr& dcdr);                                 \
                                                                                          \
        static std::size_t getKeyMaxCdrSerializedSize(std::size_t current_alignment = 0); \
        static constexpr bool isKeyDefined() { return false; }                            \
        void serializeKey(::eprosima::fastcdr::Cdr& scdr) const;                          \
                                                                                          \
        /* The one description of the wire layout: member pointers in order. */           \
        template <class V>                                                                \
        static constexpr void cdr_fields(V&& visitor)                                     \
        {                                                                                 \
            ASPN2_FIELDS_##Name(ASPN2_VISIT_)                                             \
        }                                                                                 \
                                                                                          \
    private:                                                                              \
        ASPN2_FIELDS_##Name(ASPN2_MEMBER_)                                                \
    };

#define ASPN2_DEFINE_STRUCT(Name)                                                        \
    std::size_t Name::getMaxCdrSerializedSize(std::size_t current_alignment)             \
    {                                                                                    \
        return ::aspn2_msgs::idl::cdr::max_end<Name>(current_alignment) - current_alignment; \
    }                                                                                    \
    std::size_t Name::getCdrSerializedSize(const Name& data, std::size_t current_alignment) \
    {                                                                                    \
        return ::aspn2_msgs::idl::cdr::end_of(data, current_alignment) - current_alignment; \
    }                                                                                    \
    void Name::serialize(::eprosima::fastcdr::Cdr& scdr) const                           \
    {                                                                                    \
        ::aspn2_msgs::idl::cdr::write(scdr, *this);                                      \
    }                                                                                    \
    void Name::deserialize(::eprosima::fastcdr::Cdr& dcdr)                               \
    {                                                                                    \
        ::aspn2_msgs::idl::cdr::read(dcdr, *this);                                       \
    }                                                                                    \
    std::size_t Name::getKeyMaxCdrSerializedSize(std::size_t current_alignment)          \
    {                                                                                    \
        return current_alignment;                                                        \
    }                                                                                    \
    void Name::serializeKey(::eprosima::fastcdr::Cdr&) const {}

#define ASPN2_ENUMERATOR_(name) name,
#define ASPN2_ENUMERATOR_NAME_(name) #name,

// The enum itself, plus its name and enumerator names for tools that print
// or check the interface description.
#define ASPN2_ENUM(Name)                                                         \
    enum Name : uint32_t { ASPN2_ENUMERATORS_##Name(ASPN2_ENUMERATOR_) };        \
    struct Name##_description {                                                  \
        static constexpr const char* name = #Name;                               \
        static constexpr const char* enumerators[] = {                           \
            ASPN2_ENUMERATORS_##Name(ASPN2_ENUMERATOR_NAME_)};                   \
    };                                                                           \
    Name##_description describe_enum(Name);

#endif
