#include "pictures/thumbnail_cache.h"

#include "foundation/string_format.h"

std::string CThumbnailCache::MakeKey(int cellSize, bool open, const std::string& name) {
    return FormatString("[%d%c]", cellSize, open ? 'o' : 'c') + name;
}

std::string CThumbnailCache::GetTypeKey(const std::string& path) {
    return m_next != nullptr ? m_next->GetTypeKey(path) : std::string();
}

CImagePair CThumbnailCache::Get(const CSizeSpec& size, const std::string& path, int& flags) {
    const std::string pathKey = MakeKey(size.cellSize, size.open, path);
    const std::string typeName = GetTypeKey(path);
    {
        std::lock_guard lock(m_mutex);
        if (const CImagePair* image = FindLocked(Map::Path, pathKey)) {
            flags = (flags & ~kImageOutFlags) | kImageComplete | kImageFinal;
            return *image;
        }
        if (!typeName.empty()) {
            if (const CImagePair* image = FindLocked(Map::Type, MakeKey(size.cellSize, size.open, typeName))) {
                flags = (flags & ~kImageOutFlags) | kImageComplete;
                return *image;
            }
        }
    }

    flags &= ~kImageOutFlags;
    if (m_next == nullptr)
        return {};
    CImagePair image = m_next->Get(size, path, flags);
    if ((flags & kImageComplete) == 0 || (flags & kImageNoDecoding) != 0)
        return image;

    // An answer that is not final stands for every file of the type; a final one for this file only.
    const bool byType = (flags & kImageFinal) == 0 && !typeName.empty();
    const Map map = byType ? Map::Type : Map::Path;
    const std::string& name = byType ? typeName : path;
    std::lock_guard lock(m_mutex);
    StoreLocked(map, MakeKey(size.cellSize, size.open, name), image);
    StoreLocked(map, MakeKey(image.GetSize(), size.open, name), image);
    return image;
}

const CImagePair* CThumbnailCache::FindLocked(Map map, const std::string& key) {
    Index& index = MapFor(map);
    auto found = index.find(key);
    if (found == index.end())
        return nullptr;
    m_recency.splice(m_recency.begin(), m_recency, found->second);
    return &found->second->image;
}

void CThumbnailCache::StoreLocked(Map map, const std::string& key, const CImagePair& image) {
    if (FindLocked(map, key) != nullptr)
        return;
    if (m_recency.size() >= kCapacity) {
        Entry& oldest = m_recency.back();
        MapFor(oldest.map).erase(oldest.key);
        m_recency.pop_back();
    }
    m_recency.push_front(Entry{key, map, image});
    MapFor(map).emplace(key, m_recency.begin());
}

void CThumbnailCache::Clear() {
    std::lock_guard lock(m_mutex);
    m_byPath.clear();
    m_byType.clear();
    m_recency.clear();
}

size_t CThumbnailCache::GetCount() const {
    std::lock_guard lock(m_mutex);
    return m_recency.size();
}
