// The XML configuration service. Input: a document, a NUL, then a script of
// Open / Get_Size / Read / Seek / Close calls (and a repeated Initialize).
// Set and parameter names come from the script or from the document itself,
// so that the script reaches the sets the document has.
//
// Besides the sanitizers' findings: a handle that Open gives reads its Name;
// Read agrees with Get_Size, fills the caller's buffer and never more; a
// closed handle is refused.

#include <sys/mman.h>
#include <unistd.h>

#include <tinyxml2.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FACE/QV_Config.h"
#include "FuzzSupport.h"

namespace {

using FACE::Configuration;
using fuzzsupport::fail;
namespace RC = FACE::RETURN_CODE_TYPE;

int g_fd = -1;
std::string g_path;

// Element names and texts of the document, as candidate set and parameter
// names. Parsed here on its own, not through the service.
void harvest(const tinyxml2::XMLElement* element, std::vector<std::string>& names, int depth) {
    for (; element != nullptr && depth < 4; element = element->NextSiblingElement()) {
        names.emplace_back(element->Name());
        if (const char* text = element->GetText()) {
            names.emplace_back(text);
        }
        harvest(element->FirstChildElement(), names, depth + 1);
        if (names.size() > 64) {
            return;
        }
    }
}

class Script {
public:
    Script(fuzzsupport::Reader& in, std::vector<std::string> names) : m_in(in), m_names(std::move(names)) {}

    // A name: from the document, from the script, empty, or an invalid string.
    FACE::String name() {
        const uint8_t pick = m_in.take<uint8_t>();
        switch (pick & 3u) {
            case 0:
                m_text = m_names.empty() ? std::string() : m_names[(pick >> 2) % m_names.size()];
                break;
            case 1:
                m_text = m_in.text();
                break;
            case 2:
                m_text.clear();
                break;
            default:
                return FACE::String(static_cast<const char*>(nullptr));
        }
        return FACE::String(m_text.c_str());
    }

    // One of the handles Open gave, or any value.
    Configuration::HANDLE_TYPE handle() {
        const uint8_t pick = m_in.take<uint8_t>();
        if (pick < 0xF0 && !m_handles.empty()) {
            return m_handles[pick % m_handles.size()];
        }
        return m_in.take<int32_t>();
    }

    void remember(Configuration::HANDLE_TYPE h) {
        if (m_handles.size() < 16) {
            m_handles.push_back(h);
        }
    }

private:
    fuzzsupport::Reader& m_in;
    std::vector<std::string> m_names;
    std::vector<Configuration::HANDLE_TYPE> m_handles;
    std::string m_text;  // what the last name points into
};

// Read with a buffer of exactly buffer_size bytes (so that ASan sees any
// write past it), checked against Get_Size.
void checkRead(FACE::QV_Config& config, Configuration::HANDLE_TYPE h, const FACE::String& parameter,
               int32_t bufferSize) {
    RC::Value sizeCode = RC::NO_ERROR;
    Configuration::BUFFER_SIZE_TYPE size = -1;
    config.Get_Size(h, parameter, size, sizeCode);

    std::vector<char> buffer(bufferSize > 0 ? static_cast<size_t>(bufferSize) : 0, '\x5A');
    RC::Value code = RC::NO_ERROR;
    Configuration::BUFFER_SIZE_TYPE got = -1;
    config.Read(h, parameter, buffer.empty() ? nullptr : buffer.data(), bufferSize, got, code);
    if (bufferSize < 0) {
        if (code == RC::NO_ERROR) {
            fail("Read took a negative buffer size");
        }
        return;
    }
    if ((code == RC::NO_ERROR) != (sizeCode == RC::NO_ERROR)) {
        fail("Read and Get_Size disagree on whether the value exists");
    }
    if (code != RC::NO_ERROR) {
        if (got != 0) {
            fail("a refused Read reports bytes read");
        }
        return;
    }
    if (size < 0 || got != (size < bufferSize ? size : bufferSize)) {
        fail("Read did not return the smaller of the value's size and the buffer's");
    }
    for (int32_t i = 0; i < bufferSize; ++i) {
        if ((i < got) == (buffer[static_cast<size_t>(i)] == '\0')) {
            fail("Read left text with a NUL in it, or the rest of the buffer not cleared");
        }
    }
}

void run(FACE::QV_Config& config, RC::Value initialized, Script& script, fuzzsupport::Reader& in) {
    bool reinitialized = false;
    for (int steps = 0; steps < 256 && !in.done(); ++steps) {
        const uint8_t op = in.take<uint8_t>();
        RC::Value code = RC::NO_ERROR;
        switch (op % 6u) {
            case 0: {
                const FACE::String set = script.name();
                Configuration::HANDLE_TYPE h = -1;
                config.Open(set, h, code);
                if (code != RC::NO_ERROR) {
                    break;
                }
                script.remember(h);
                Configuration::BUFFER_SIZE_TYPE size = 0;
                config.Get_Size(h, "", size, code);
                if (set.length() > 0 && code != RC::NO_ERROR) {
                    fail("an opened set has no readable Name");
                }
                break;
            }
            case 1: {
                const Configuration::HANDLE_TYPE h = script.handle();
                Configuration::BUFFER_SIZE_TYPE size = 0;
                config.Get_Size(h, script.name(), size, code);
                if (code == RC::NO_ERROR && size < 0) {
                    fail("Get_Size gave a negative size");
                }
                break;
            }
            case 2: {
                const Configuration::HANDLE_TYPE h = script.handle();
                const FACE::String parameter = script.name();
                // Up to 1 KiB (larger ones only cost time), and a few
                // negative sizes.
                const int32_t raw = in.take<int16_t>();
                const int32_t bufferSize = (raw < -16 ? -raw : raw) % 1024;
                checkRead(config, h, parameter, bufferSize);
                break;
            }
            case 3: {
                const Configuration::HANDLE_TYPE h = script.handle();
                const uint8_t whence = in.take<uint8_t>();
                // Mostly the three defined origins, sometimes anything.
                const uint32_t w = whence < 0xF0 ? whence % 3u : in.take<uint32_t>();
                const int32_t offset = (op & 0x80u) != 0 ? in.take<int32_t>() : in.take<int8_t>();
                config.Seek(h, static_cast<Configuration::WHENCE_TYPE::Value>(w), offset, code);
                break;
            }
            case 4: {
                const Configuration::HANDLE_TYPE h = script.handle();
                config.Close(h, code);
                if (code == RC::NO_ERROR) {
                    Configuration::BUFFER_SIZE_TYPE size = 0;
                    config.Get_Size(h, "", size, code);
                    if (code != RC::INVALID_CONFIG) {
                        fail("a closed handle still reads");
                    }
                }
                break;
            }
            default:
                // Once initialised the document stays; otherwise the same file
                // fails the same way. Once is enough: it loads the file.
                if (reinitialized) {
                    break;
                }
                reinitialized = true;
                config.Initialize(g_path.c_str(), code);
                if (code != initialized) {
                    fail("Initialize again gave another result");
                }
                break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The service loads a file by name: an anonymous file in memory, named
    // through /proc, is written per input and leaves nothing behind.
    g_fd = ::memfd_create("fuzz_config.xml", 0);
    if (g_fd < 0) {
        fail("memfd_create");
    }
    g_path = "/proc/self/fd/" + std::to_string(g_fd);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* end = size > 0 ? static_cast<const uint8_t*>(std::memchr(data, 0, size)) : nullptr;
    const size_t documentSize = end != nullptr ? static_cast<size_t>(end - data) : size;
    const std::string document(reinterpret_cast<const char*>(data), documentSize);
    if (::ftruncate(g_fd, 0) != 0 ||
        ::pwrite(g_fd, document.data(), document.size(), 0) != static_cast<ssize_t>(document.size())) {
        fail("cannot write the document");
    }

    std::vector<std::string> names;
    tinyxml2::XMLDocument parsed;
    if (parsed.Parse(document.data(), document.size()) == tinyxml2::XML_SUCCESS) {
        harvest(parsed.RootElement(), names, 0);
    }

    FACE::QV_Config config;
    RC::Value code = RC::NO_ERROR;
    config.Initialize(g_path.c_str(), code);
    const size_t scriptStart = end != nullptr ? documentSize + 1 : size;
    fuzzsupport::Reader in(data + scriptStart, size - scriptStart);
    Script script(in, std::move(names));
    // Uninitialised, every call must refuse cleanly as well.
    run(config, code, script, in);
    return 0;
}
