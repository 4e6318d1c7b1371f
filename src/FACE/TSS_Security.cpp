#include "FACE/TSS_Security.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include <fastrtps/config.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <tinyxml2.h>

#include "FACE/QV_Config_Helpers.h"

namespace FACE {
namespace TSS {
namespace Security {

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
void FreeBio(BIO* b) { BIO_free(b); }
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, FreeBio>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, Deleter<PKCS7, PKCS7_free>>;
using StorePtr = std::unique_ptr<X509_STORE, Deleter<X509_STORE, X509_STORE_free>>;

// Larger files are no artifact of ours; reading stops there (a device
// file would otherwise never end).
constexpr std::size_t kMaxFileSize = 1 << 20;

class Checker {
public:
    std::vector<Problem> problems;

    void add(const std::string& file, const std::string& reason) {
        for (const Problem& p : problems) {
            if (p.file == file && p.reason == reason) {
                return;  // one file named in two roles
            }
        }
        problems.push_back({file, reason});
        ERR_clear_error();
    }

    // The file's bytes in a memory BIO; null (and a problem) when unreadable.
    BioPtr read(const std::string& file) {
        std::FILE* f = std::fopen(file.c_str(), "rb");
        if (f == nullptr) {
            add(file, std::string("cannot be read (") + std::strerror(errno) + ")");
            return nullptr;
        }
        std::string text(kMaxFileSize + 1, '\0');
        const std::size_t n = std::fread(&text[0], 1, text.size(), f);
        const bool failed = std::ferror(f) != 0;
        const int error = errno;
        std::fclose(f);
        if (failed) {
            add(file, std::string("cannot be read (") + std::strerror(error) + ")");
            return nullptr;
        }
        if (n > kMaxFileSize) {
            add(file, "is larger than 1 MiB");
            return nullptr;
        }
        BIO* bio = BIO_new(BIO_s_mem());
        if (bio == nullptr || BIO_write(bio, text.data(), static_cast<int>(n)) != static_cast<int>(n)) {
            BIO_free(bio);
            add(file, "cannot be read (out of memory)");
            return nullptr;
        }
        return BioPtr(bio);
    }

    // A PEM certificate valid now; null (and a problem) otherwise.
    X509Ptr certificate(const std::string& file) {
        BioPtr bio = read(file);
        if (!bio) {
            return nullptr;
        }
        X509Ptr cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
        if (!cert) {
            add(file, "is not a PEM certificate");
            return nullptr;
        }
        const ASN1_TIME* notBefore = X509_get0_notBefore(cert.get());
        const ASN1_TIME* notAfter = X509_get0_notAfter(cert.get());
        const int start = X509_cmp_current_time(notBefore);
        const int end = X509_cmp_current_time(notAfter);
        if (start == 0 || end == 0) {
            add(file, "has an unreadable validity period");
            return nullptr;
        }
        if (start > 0) {
            add(file, "is not valid before " + timeText(notBefore));
            return nullptr;
        }
        if (end < 0) {
            add(file, "expired on " + timeText(notAfter));
            return nullptr;
        }
        return cert;
    }

    KeyPtr privateKey(const std::string& file) {
        BioPtr bio = read(file);
        if (!bio) {
            return nullptr;
        }
        // No pass phrase is asked for: the server has nobody to ask.
        KeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, [](char*, int, int, void*) { return -1; }, nullptr));
        if (!key) {
            add(file, "is not an unencrypted PEM private key");
        }
        return key;
    }

    // The signed content of an S/MIME document; "" (and a problem) when it
    // cannot be read or its signature does not verify against ca.
    std::string signedContent(const std::string& file, X509* ca, const std::string& caFile) {
        BioPtr bio = read(file);
        if (!bio) {
            return std::string();
        }
        BIO* detached = nullptr;
        Pkcs7Ptr p7(SMIME_read_PKCS7(bio.get(), &detached));
        BioPtr content(detached);
        if (!p7 || !PKCS7_type_is_signed(p7.get())) {
            add(file, "is not an S/MIME signed document");
            return std::string();
        }
        if (ca == nullptr) {
            return std::string();
        }
        StorePtr store(X509_STORE_new());
        BioPtr out(BIO_new(BIO_s_mem()));
        if (!store || !out || X509_STORE_add_cert(store.get(), ca) != 1 ||
            PKCS7_verify(p7.get(), nullptr, store.get(), content.get(), out.get(), PKCS7_TEXT) != 1) {
            add(file, "its signature does not verify against the permissions CA " + caFile);
            return std::string();
        }
        char* data = nullptr;
        const long size = BIO_get_mem_data(out.get(), &data);
        return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
    }

    static std::string timeText(const ASN1_TIME* t) {
        std::tm tm{};
        char text[32] = "an unknown time";
        if (ASN1_TIME_to_tm(t, &tm) == 1) {
            std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
        }
        return text;
    }
};

// The components of a distinguished name, spaces around them dropped:
// "CN=a, O=b" and "CN=a,O=b" are the same subject.
std::vector<std::string> NameParts(const std::string& name) {
    std::vector<std::string> parts;
    std::string part;
    auto flush = [&] {
        const auto first = part.find_first_not_of(' ');
        const auto last = part.find_last_not_of(' ');
        parts.push_back(first == std::string::npos ? std::string() : part.substr(first, last - first + 1));
        part.clear();
    };
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 1 < name.size()) {
            part += name.substr(i, 2);
            ++i;
        } else if (name[i] == ',') {
            flush();
        } else {
            part += name[i];
        }
    }
    flush();
    return parts;
}

std::string SubjectText(X509* cert) {
    BioPtr out(BIO_new(BIO_s_mem()));
    if (!out || X509_NAME_print_ex(out.get(), X509_get_subject_name(cert), 0, XN_FLAG_RFC2253) < 0) {
        return std::string();
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(out.get(), &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

const tinyxml2::XMLElement* DdsDocument(tinyxml2::XMLDocument& doc, const std::string& text,
                                        const char* section) {
    if (doc.Parse(text.c_str(), text.size()) != tinyxml2::XML_SUCCESS) {
        return nullptr;
    }
    const tinyxml2::XMLElement* root = doc.FirstChildElement("dds");
    return root != nullptr ? root->FirstChildElement(section) : nullptr;
}

}  // namespace

std::string Problem::line() const { return "DDS security: " + file + ": " + reason; }

bool ReadFiles(Configuration& config, Configuration::HANDLE_TYPE handle, Files& files) {
    Files read;
    const std::pair<const char*, std::string*> entries[] = {
        {"IdentityCA", &read.identityCa},       {"IdentityCertificate", &read.identityCertificate},
        {"PrivateKey", &read.privateKey},       {"PermissionsCA", &read.permissionsCa},
        {"Governance", &read.governance},       {"Permissions", &read.permissions}};
    bool ok = true;
    for (const auto& [name, value] : entries) {
        *value = QV_Config_Helpers::Details::Read_Config(config, handle, name);
        ok = ok && !value->empty();
    }
    if (ok) {
        files = read;
    }
    return ok;
}

std::vector<Problem> Check(const Files& files) {
    Checker c;
    X509Ptr identityCa = c.certificate(files.identityCa);
    X509Ptr identity = c.certificate(files.identityCertificate);
    if (identity && identityCa && X509_verify(identity.get(), X509_get0_pubkey(identityCa.get())) != 1) {
        c.add(files.identityCertificate, "is not signed by the identity CA " + files.identityCa);
    }
    KeyPtr key = c.privateKey(files.privateKey);
    if (key && identity && X509_check_private_key(identity.get(), key.get()) != 1) {
        c.add(files.privateKey, "does not match the identity certificate " + files.identityCertificate);
    }

    X509Ptr permissionsCa = c.certificate(files.permissionsCa);
    const std::string governance = c.signedContent(files.governance, permissionsCa.get(), files.permissionsCa);
    tinyxml2::XMLDocument governanceDoc;
    if (!governance.empty() && DdsDocument(governanceDoc, governance, "domain_access_rules") == nullptr) {
        c.add(files.governance, "holds no DDS Security governance document");
    }
    const std::string permissions = c.signedContent(files.permissions, permissionsCa.get(), files.permissionsCa);
    tinyxml2::XMLDocument permissionsDoc;
    const tinyxml2::XMLElement* grants = nullptr;
    if (!permissions.empty()) {
        grants = DdsDocument(permissionsDoc, permissions, "permissions");
        if (grants == nullptr) {
            c.add(files.permissions, "holds no DDS Security permissions document");
        }
    }
    if (grants != nullptr && identity) {
        const std::string subject = SubjectText(identity.get());
        bool granted = false;
        for (auto* g = grants->FirstChildElement("grant"); g != nullptr && !granted;
             g = g->NextSiblingElement("grant")) {
            const tinyxml2::XMLElement* name = g->FirstChildElement("subject_name");
            granted = name != nullptr && name->GetText() != nullptr &&
                      NameParts(name->GetText()) == NameParts(subject);
        }
        if (!granted) {
            c.add(files.permissions, "has no grant for \"" + subject + "\", the subject of " +
                                         files.identityCertificate);
        }
    }
    ERR_clear_error();
    return c.problems;
}

void Enable(eprosima::fastrtps::ParticipantAttributes& attributes, const Files& files) {
    auto& properties = attributes.rtps.properties.properties();
    const std::string auth = "dds.sec.auth.builtin.PKI-DH.";
    const std::string access = "dds.sec.access.builtin.Access-Permissions.";
    properties.emplace_back("dds.sec.auth.plugin", "builtin.PKI-DH");
    properties.emplace_back(auth + "identity_ca", "file://" + files.identityCa);
    properties.emplace_back(auth + "identity_certificate", "file://" + files.identityCertificate);
    properties.emplace_back(auth + "private_key", "file://" + files.privateKey);
    properties.emplace_back("dds.sec.access.plugin", "builtin.Access-Permissions");
    properties.emplace_back(access + "permissions_ca", "file://" + files.permissionsCa);
    properties.emplace_back(access + "governance", "file://" + files.governance);
    properties.emplace_back(access + "permissions", "file://" + files.permissions);
    properties.emplace_back("dds.sec.crypto.plugin", "builtin.AES-GCM-GMAC");
}

bool Available() {
#if HAVE_SECURITY
    return true;
#else
    return false;
#endif
}

}  // namespace Security
}  // namespace TSS
}  // namespace FACE
