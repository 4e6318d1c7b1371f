#ifndef FACE_CONFIGURATION_INJECTABLE_H
#define FACE_CONFIGURATION_INJECTABLE_H

#include <cstdint>
#include <memory>

#include "FACE/Configuration.h"
#include "FACE/FACE_Common.h"

namespace FACE {
namespace Configuration_Injectable {

// A component that is handed the configuration service it reads from.
class Injectable {
public:
    virtual ~Injectable() = default;
    virtual void Set_Reference(const String& interface_name,
                               std::shared_ptr<Configuration> reference, int64_t id,
                               RETURN_CODE_TYPE::Value& code) = 0;
};

}  // namespace Configuration_Injectable
}  // namespace FACE

#endif
