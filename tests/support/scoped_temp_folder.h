// A fresh folder under the system's temporary folder for one test, removed with everything in it when
// the object goes, and small helpers to put files into it and read them back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace testsupport {

class ScopedTempFolder {
public:
    // The folder's name starts with `prefix` and ends with a random part.
    explicit ScopedTempFolder(std::string_view prefix = "pxtest");
    ~ScopedTempFolder();
    ScopedTempFolder(const ScopedTempFolder&) = delete;
    ScopedTempFolder& operator=(const ScopedTempFolder&) = delete;

    // The real path (links resolved) in the system's own form ("\\" between the parts on Windows), so
    // that paths the code under test gives back compare as texts. Empty when the folder could not be
    // made, which the constructor reports as a test failure.
    const std::string& Path() const { return m_path; }
    // `name` inside the folder, joined with the system's separator; the "/" of a relative `name` such
    // as "sub/a.jpg" becomes that separator too, so the whole path is in the system's form.
    std::string operator/(const std::string& name) const;

    // Writes `bytes` to the file `name` (folders on the way are made) and returns its path.
    std::string Put(const std::string& name, std::string_view bytes = "") const;
    // Writes a file of `size` bytes, all `fill`, and returns its path.
    std::string PutSized(const std::string& name, size_t size, char fill = 'x') const {
        return Put(name, std::string(size, fill));
    }
    // The whole content of the file `name`; "" when it cannot be read.
    std::string Read(const std::string& name) const;

private:
    std::string m_path;
};

// The whole content of a file; "" when it cannot be read.
std::string ReadWholeFile(const std::string& path);
// Writes `bytes` as the whole content of a file; false when it cannot be written.
bool WriteWholeFile(const std::string& path, std::string_view bytes);
// Sets a file's time of last change, in seconds since 1970 (UTC); false when that fails.
bool SetModificationTime(const std::string& path, int64_t secondsSince1970);

} // namespace testsupport
