#ifndef FACE_QV_CONFIG_H
#define FACE_QV_CONFIG_H

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "FACE/Configuration.h"

namespace tinyxml2 {
class XMLDocument;
class XMLElement;
}  // namespace tinyxml2

namespace FACE {

// FACE configuration over XML documents: a root "QV_Configurations" whose
// children are sets, each with a "Name" and a "Parameters" element.
class QV_Config : public Configuration {
public:
    QV_Config();
    ~QV_Config() override;
    QV_Config(const QV_Config&) = delete;
    QV_Config& operator=(const QV_Config&) = delete;

    void Initialize(const String& configuration_path, RETURN_CODE_TYPE::Value& code) override;
    void Open(const String& set_name, HANDLE_TYPE& handle, RETURN_CODE_TYPE::Value& code) override;
    void Get_Size(HANDLE_TYPE handle, const String& parameter_name, BUFFER_SIZE_TYPE& size,
                  RETURN_CODE_TYPE::Value& code) override;
    void Read(HANDLE_TYPE handle, const String& parameter_name, char* buffer,
              BUFFER_SIZE_TYPE buffer_size, BUFFER_SIZE_TYPE& bytes_read,
              RETURN_CODE_TYPE::Value& code) override;
    void Write(HANDLE_TYPE handle, const String& parameter_name, const char* buffer,
               BUFFER_SIZE_TYPE size, BUFFER_SIZE_TYPE& bytes_written,
               RETURN_CODE_TYPE::Value& code) override;
    void Seek(HANDLE_TYPE handle, WHENCE_TYPE::Value whence, int32_t offset,
              RETURN_CODE_TYPE::Value& code) override;
    void Close(HANDLE_TYPE handle, RETURN_CODE_TYPE::Value& code) override;

    const std::string& schemaLocation() const { return m_schemaLocation; }

private:
    struct config_set {
        tinyxml2::XMLElement* element;
        std::string elementName;
        std::string name;
    };

    config_set* findOpen(HANDLE_TYPE handle);
    tinyxml2::XMLElement* findSet(const std::string& name, bool reverse) const;
    static tinyxml2::XMLElement* findValue(tinyxml2::XMLElement* set, const String& parameter);
    bool saveAtomically();

    std::string m_configurationPath;
    std::string m_schemaLocation;
    std::mutex m_mutex;
    std::unique_ptr<tinyxml2::XMLDocument> m_document;
    std::map<HANDLE_TYPE, std::unique_ptr<config_set>> m_openSets;
    bool m_initialized = false;
};

}  // namespace FACE

#endif
