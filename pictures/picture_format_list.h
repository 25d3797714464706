// The process-wide list of picture formats, made on first use with JPEG registered. The picture
// browser, the upload queue and the image properties ask it which format a file is.
//
// Threads: any thread may look formats up; m_mutex guards the list. Formats are added at start-up and
// never removed, so a format found stays valid for the life of the process.
#pragma once

#include "pictures/picture_format.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CPictureFormatList {
public:
    static CPictureFormatList& Get();

    void Add(std::unique_ptr<CPictureFormat> format);

    // The first format whose file-name pattern matches `name`; null when none does.
    const CPictureFormat* FindByFileName(const std::string& name) const;
    // The first format that can read the file; null when none can.
    const CPictureFormat* FindByContent(const std::string& path) const;

private:
    CPictureFormatList();

    std::vector<const CPictureFormat*> Snapshot() const;

    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<CPictureFormat>> m_formats; // guarded by m_mutex
};
