// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes; optionally the current directory
// for its lifetime (the store resolves relative names there).
#pragma once

#include <string>

namespace testsupport {

class TempDir {
public:
    explicit TempDir(bool enter = false);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    // path() + "/" + name
    std::string file(const std::string& name) const;

private:
    std::string m_path;
    std::string m_previous;  // the directory to go back to, when entered
};

// Whole-file helpers for tests.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& data);

}  // namespace testsupport
