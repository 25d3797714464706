// A fresh folder under the system's temporary folder for one test, removed with everything in it when
// the test ends, and small helpers to put files into it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

class CFileTestFolder {
public:
    CFileTestFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "pxfiles-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            ADD_FAILURE() << "mkdtemp failed";
        // The real path, so that results of the functions under test compare as texts.
        m_path = std::filesystem::canonical(pattern).string();
    }
    ~CFileTestFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    CFileTestFolder(const CFileTestFolder&) = delete;
    CFileTestFolder& operator=(const CFileTestFolder&) = delete;

    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

    // Writes `bytes` to the file `name` (folders on the way are made) and returns its path.
    std::string Put(const std::string& name, const std::string& bytes = "") const {
        std::string path = *this / name;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

private:
    std::string m_path;
};
