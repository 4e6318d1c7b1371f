#ifndef FACE_CONFIGURATION_H
#define FACE_CONFIGURATION_H

#include <cstdint>

#include "FACE/FACE_Common.h"

namespace FACE {

// The FACE configuration interface: named sets of text parameters, reached
// through handles.
class Configuration {
public:
    typedef int32_t HANDLE_TYPE;
    typedef int32_t BUFFER_SIZE_TYPE;

    struct WHENCE_TYPE {
        enum Value : uint32_t { FROM_FIRST = 0, FROM_CURRENT = 1, FROM_LAST = 2 };
    };

    virtual ~Configuration() = default;
    virtual void Initialize(const String& configuration_path, RETURN_CODE_TYPE::Value& code) = 0;
    virtual void Open(const String& set_name, HANDLE_TYPE& handle, RETURN_CODE_TYPE::Value& code) = 0;
    virtual void Get_Size(HANDLE_TYPE handle, const String& parameter_name, BUFFER_SIZE_TYPE& size,
                          RETURN_CODE_TYPE::Value& code) = 0;
    virtual void Read(HANDLE_TYPE handle, const String& parameter_name, char* buffer,
                      BUFFER_SIZE_TYPE buffer_size, BUFFER_SIZE_TYPE& bytes_read,
                      RETURN_CODE_TYPE::Value& code) = 0;
    virtual void Write(HANDLE_TYPE handle, const String& parameter_name, const char* buffer,
                       BUFFER_SIZE_TYPE size, BUFFER_SIZE_TYPE& bytes_written,
                       RETURN_CODE_TYPE::Value& code) = 0;
    virtual void Seek(HANDLE_TYPE handle, WHENCE_TYPE::Value whence, int32_t offset,
                      RETURN_CODE_TYPE::Value& code) = 0;
    virtual void Close(HANDLE_TYPE handle, RETURN_CODE_TYPE::Value& code) = 0;
};

}  // namespace FACE

#endif
