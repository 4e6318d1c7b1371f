#ifndef BOARDKIT_TEMPDIR_H
#define BOARDKIT_TEMPDIR_H

#include <string>

namespace boardkit {

// A fresh directory under $TMPDIR (or /tmp), removed with its contents when
// the object goes away.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "chronavel-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    // Writes text to name inside the directory and returns the full path.
    std::string write(const std::string& name, const std::string& text) const;
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::string readFile(const std::string& path);

}  // namespace boardkit

#endif
