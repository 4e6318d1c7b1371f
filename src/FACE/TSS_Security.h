#ifndef FACE_TSS_SECURITY_H
#define FACE_TSS_SECURITY_H

#include <string>
#include <vector>

#include <fastrtps/attributes/ParticipantAttributes.h>

#include "FACE/Configuration.h"

// DDS Security of the participant: the optional "Security" set of a
// connections file, the check of its artifacts, and the plugin properties.
// Fast DDS reports a bad artifact only as a generic creation error, so the
// files are checked here first, each problem naming its file.
namespace FACE {
namespace TSS {
namespace Security {

constexpr char kSetName[] = "Security";

// File names as written in the set; relative ones are taken from the
// working directory, as the other configuration files.
struct Files {
    std::string identityCa;
    std::string identityCertificate;
    std::string privateKey;
    std::string permissionsCa;
    std::string governance;
    std::string permissions;
};

struct Problem {
    std::string file;
    std::string reason;
    // "DDS security: <file>: <reason>"
    std::string line() const;
};

// Reads the six entries of an opened "Security" set; false when any is
// missing or empty (each gets its own warning).
bool ReadFiles(Configuration& config, Configuration::HANDLE_TYPE handle, Files& files);

// Everything that would keep the builtin plugins from accepting the files
// now: a file that cannot be read or parsed, a certificate outside its
// validity, an identity not signed by its CA, a key that is not the
// certificate's, a document whose signature does not verify against the
// permissions CA, and permissions without a grant for the identity's
// subject. A problem that follows from another (a certificate checked
// against an unreadable CA) is not reported again. Empty when all is well.
std::vector<Problem> Check(const Files& files);

// The properties that enable authentication (PKI-DH), access control
// (Access-Permissions) and cryptography (AES-GCM-GMAC) with these files.
void Enable(eprosima::fastrtps::ParticipantAttributes& attributes, const Files& files);

// False when the Fast DDS library was built without security.
bool Available();

}  // namespace Security
}  // namespace TSS
}  // namespace FACE

#endif
