#include "FACE/QV_Config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <vector>

#include <tinyxml2.h>

namespace FACE {

namespace {

const char kRootElement[] = "QV_Configurations";
const char kSchemaAttribute[] = "xsi:noNamespaceSchemaLocation";

const char* nameText(const tinyxml2::XMLElement* set) {
    const tinyxml2::XMLElement* name = set->FirstChildElement("Name");
    return name != nullptr ? name->GetText() : nullptr;
}

// Directory part of a path, for placing the temporary file beside it.
std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

QV_Config::QV_Config() = default;

QV_Config::~QV_Config() {
    m_openSets.clear();
    if (m_document) {
        m_document->Clear();
    }
}

void QV_Config::Initialize(const String& configuration_path, RETURN_CODE_TYPE::Value& code) {
    if (m_initialized) {
        code = RETURN_CODE_TYPE::NO_ERROR;
        return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_document.reset(new tinyxml2::XMLDocument(true, tinyxml2::PRESERVE_WHITESPACE));
    if (!configuration_path.is_valid() ||
        m_document->LoadFile(configuration_path.buffer()) != tinyxml2::XML_SUCCESS) {
        code = RETURN_CODE_TYPE::INVALID_CONFIG;
        return;
    }
    tinyxml2::XMLElement* root = m_document->FirstChildElement(kRootElement);
    if (root == nullptr) {
        std::cout << "Configuration XML - " << configuration_path.buffer()
                  << " Error: Unable to locate the " << kRootElement << " object" << std::endl;
        code = RETURN_CODE_TYPE::INVALID_CONFIG;
        return;
    }
    m_configurationPath = configuration_path.str();
    const char* schema = root->Attribute(kSchemaAttribute);
    m_schemaLocation = schema != nullptr ? schema : "";
    m_initialized = true;
    code = RETURN_CODE_TYPE::NO_ERROR;
}

tinyxml2::XMLElement* QV_Config::findSet(const std::string& name, bool reverse) const {
    if (!m_document) {
        return nullptr;
    }
    tinyxml2::XMLElement* root = m_document->FirstChildElement(kRootElement);
    if (root == nullptr) {
        return nullptr;
    }
    tinyxml2::XMLElement* set = reverse ? root->LastChildElement() : root->FirstChildElement();
    for (; set != nullptr;
         set = reverse ? set->PreviousSiblingElement() : set->NextSiblingElement()) {
        const char* setName = nameText(set);
        if (setName == nullptr) {
            continue;
        }
        if (name == setName || name == set->Name()) {
            return set;
        }
    }
    return nullptr;
}

QV_Config::config_set* QV_Config::findOpen(HANDLE_TYPE handle) {
    auto it = m_openSets.find(handle);
    return it == m_openSets.end() ? nullptr : it->second.get();
}

tinyxml2::XMLElement* QV_Config::findValue(tinyxml2::XMLElement* set, const String& parameter) {
    if (set == nullptr || !parameter.is_valid()) {
        return nullptr;
    }
    if (parameter.length() == 0) {
        return set->FirstChildElement("Name");
    }
    tinyxml2::XMLElement* parameters = set->FirstChildElement("Parameters");
    return parameters != nullptr ? parameters->FirstChildElement(parameter.buffer()) : nullptr;
}

void QV_Config::Open(const String& set_name, HANDLE_TYPE& handle, RETURN_CODE_TYPE::Value& code) {
    static std::atomic<HANDLE_TYPE> handleCounter{0};

    if (!m_initialized) {
        code = RETURN_CODE_TYPE::INVALID_MODE;
        return;
    }
    if (!set_name.is_valid()) {
        code = RETURN_CODE_TYPE::INVALID_PARAM;
        return;
    }
    const std::string name = set_name.str();
    for (const auto& entry : m_openSets) {
        if (entry.second->name == name) {
            handle = entry.first;
            code = RETURN_CODE_TYPE::NO_ERROR;
            return;
        }
    }
    tinyxml2::XMLElement* found = findSet(name, false);
    if (found == nullptr) {
        code = RETURN_CODE_TYPE::INVALID_CONFIG;
        return;
    }
    const char* foundName = nameText(found);
    for (auto& entry : m_openSets) {
        if (entry.second->elementName == found->Name()) {
            // Sets sharing an element name share one handle.
            entry.second->element = found;
            entry.second->name = foundName;
            handle = entry.first;
            code = RETURN_CODE_TYPE::NO_ERROR;
            return;
        }
    }
    handle = handleCounter++;
    m_openSets[handle].reset(new config_set{found, found->Name(), foundName});
    code = RETURN_CODE_TYPE::NO_ERROR;
}

void QV_Config::Get_Size(HANDLE_TYPE handle, const String& parameter_name, BUFFER_SIZE_TYPE& size,
                         RETURN_CODE_TYPE::Value& code) {
    code = RETURN_CODE_TYPE::INVALID_CONFIG;
    config_set* set = findOpen(handle);
    if (set == nullptr) {
        return;
    }
    const tinyxml2::XMLElement* value = findValue(set->element, parameter_name);
    const char* text = value != nullptr ? value->GetText() : nullptr;
    if (text == nullptr) {
        return;
    }
    const size_t length = std::strlen(text);
    if (length > static_cast<size_t>(INT32_MAX)) {
        return;
    }
    size = static_cast<BUFFER_SIZE_TYPE>(length);
    code = RETURN_CODE_TYPE::NO_ERROR;
}

void QV_Config::Read(HANDLE_TYPE handle, const String& parameter_name, char* buffer,
                     BUFFER_SIZE_TYPE buffer_size, BUFFER_SIZE_TYPE& bytes_read,
                     RETURN_CODE_TYPE::Value& code) {
    bytes_read = 0;
    code = RETURN_CODE_TYPE::INVALID_CONFIG;
    config_set* set = findOpen(handle);
    if (set == nullptr) {
        return;
    }
    if (buffer_size < 0 || (buffer == nullptr && buffer_size > 0)) {
        code = RETURN_CODE_TYPE::INVALID_PARAM;
        return;
    }
    const tinyxml2::XMLElement* value = findValue(set->element, parameter_name);
    const char* text = value != nullptr ? value->GetText() : nullptr;
    if (text == nullptr) {
        code = RETURN_CODE_TYPE::INVALID_PARAM;
        return;
    }
    const size_t length = std::strlen(text);
    const size_t n = length < static_cast<size_t>(buffer_size) ? length
                                                               : static_cast<size_t>(buffer_size);
    if (buffer_size > 0) {
        std::memset(buffer, 0, static_cast<size_t>(buffer_size));
        std::memcpy(buffer, text, n);
    }
    bytes_read = static_cast<BUFFER_SIZE_TYPE>(n);
    code = RETURN_CODE_TYPE::NO_ERROR;
}

void QV_Config::Write(HANDLE_TYPE handle, const String& parameter_name, const char* buffer,
                      BUFFER_SIZE_TYPE size, BUFFER_SIZE_TYPE& bytes_written,
                      RETURN_CODE_TYPE::Value& code) {
    bytes_written = 0;
    code = RETURN_CODE_TYPE::INVALID_CONFIG;
    config_set* set = findOpen(handle);
    if (set == nullptr) {
        return;
    }
    if (size < 0 || (buffer == nullptr && size > 0) || !parameter_name.is_valid() ||
        parameter_name.length() == 0) {
        code = RETURN_CODE_TYPE::INVALID_PARAM;
        return;
    }
    tinyxml2::XMLElement* value = findValue(set->element, parameter_name);
    if (value == nullptr || value->GetText() == nullptr) {
        code = RETURN_CODE_TYPE::INVALID_PARAM;
        return;
    }
    // XML text ends at a NUL, so that is all of the value that can be stored.
    const std::string newValue(buffer != nullptr ? buffer : "",
                               strnlen(buffer != nullptr ? buffer : "", static_cast<size_t>(size)));
    value->SetText(newValue.c_str());

    std::lock_guard<std::mutex> lock(m_mutex);
    if (!saveAtomically()) {
        code = RETURN_CODE_TYPE::NO_ACTION;
        return;
    }
    bytes_written = static_cast<BUFFER_SIZE_TYPE>(newValue.size());
    code = RETURN_CODE_TYPE::NO_ERROR;
}

// Writes the document beside the configuration file and renames it over the
// original, so a crash or a full disk never leaves a truncated file behind.
bool QV_Config::saveAtomically() {
    if (!m_document || m_configurationPath.empty()) {
        return false;
    }
    std::string target = m_configurationPath;
    struct stat original {};
    const bool exists = ::stat(target.c_str(), &original) == 0;
    struct stat link {};
    if (::lstat(target.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        char* resolved = ::realpath(target.c_str(), nullptr);
        if (resolved == nullptr) {
            return false;
        }
        target = resolved;
        std::free(resolved);
    }
    const mode_t mode = exists ? (original.st_mode & 07777) : 0644;

    std::string tmpl = target + ".XXXXXX";
    std::vector<char> tmpPath(tmpl.begin(), tmpl.end());
    tmpPath.push_back('\0');
    const int fd = ::mkstemp(tmpPath.data());
    if (fd < 0) {
        return false;
    }
    FILE* file = ::fdopen(fd, "w");
    if (file == nullptr) {
        ::close(fd);
        ::unlink(tmpPath.data());
        return false;
    }
    bool ok = m_document->SaveFile(file, false) == tinyxml2::XML_SUCCESS;
    ok = ok && std::fflush(file) == 0 && std::ferror(file) == 0;
    ok = ok && ::fchmod(fd, mode) == 0;
    if (ok && exists) {
        // Best effort: only a privileged writer can keep a foreign owner.
        (void)!::fchown(fd, original.st_uid, original.st_gid);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (std::fclose(file) == 0) && ok;
    ok = ok && ::rename(tmpPath.data(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(tmpPath.data());
        return false;
    }
    const int dirFd = ::open(directoryOf(target).c_str(), O_RDONLY | O_DIRECTORY);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

void QV_Config::Seek(HANDLE_TYPE handle, WHENCE_TYPE::Value whence, int32_t offset,
                     RETURN_CODE_TYPE::Value& code) {
    code = RETURN_CODE_TYPE::INVALID_CONFIG;
    config_set* set = findOpen(handle);
    if (set == nullptr || static_cast<uint32_t>(whence) > WHENCE_TYPE::FROM_LAST) {
        return;
    }
    tinyxml2::XMLElement* at = nullptr;
    switch (whence) {
        case WHENCE_TYPE::FROM_FIRST: at = findSet(set->elementName, false); break;
        case WHENCE_TYPE::FROM_CURRENT: at = set->element; break;
        case WHENCE_TYPE::FROM_LAST: at = findSet(set->elementName, true); break;
    }
    if (at == nullptr) {
        code = RETURN_CODE_TYPE::INVALID_PARAM;
        return;
    }
    const bool backwards = whence == WHENCE_TYPE::FROM_LAST ? offset >= 0 : offset < 0;
    const int64_t steps = offset < 0 ? -int64_t{offset} : int64_t{offset};
    const std::string elementName = set->elementName;
    for (int64_t i = 0; i < steps && at != nullptr; ++i) {
        at = backwards ? at->PreviousSiblingElement(elementName.c_str())
                       : at->NextSiblingElement(elementName.c_str());
    }
    if (at == nullptr) {
        code = RETURN_CODE_TYPE::INVALID_PARAM;
        return;
    }
    const char* name = nameText(at);
    set->element = at;
    set->name = name != nullptr ? name : "";
    code = RETURN_CODE_TYPE::NO_ERROR;
}

void QV_Config::Close(HANDLE_TYPE handle, RETURN_CODE_TYPE::Value& code) {
    code = m_openSets.erase(handle) == 1 ? RETURN_CODE_TYPE::NO_ERROR
                                         : RETURN_CODE_TYPE::INVALID_CONFIG;
}

}  // namespace FACE
