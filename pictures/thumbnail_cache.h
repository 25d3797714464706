// The front of the provider chain: answers already made, kept by path and by file type, the most
// recently used first, at most kCapacity of them. A miss asks the next provider and keeps its answer
// when it was produced completely.
//
// Threads: the UI thread and a thumbnail worker both ask. m_mutex guards the maps, the recency list
// and the count; the next provider is asked outside it, so a slow decode never blocks a cached answer.
#pragma once

#include "pictures/image_provider.h"

#include <cstddef>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

class CThumbnailCache : public IImageProvider {
public:
    static constexpr size_t kCapacity = 1000;

    explicit CThumbnailCache(IImageProvider* next) : m_next(next) {}
    CThumbnailCache(const CThumbnailCache&) = delete;
    CThumbnailCache& operator=(const CThumbnailCache&) = delete;

    CImagePair Get(const CSizeSpec& size, const std::string& path, int& flags) override;
    std::string GetTypeKey(const std::string& path) override;
    IImageProvider* GetNext() const override { return m_next; }

    void Clear();
    size_t GetCount() const;

    // "[48c]" followed by the path or type key.
    static std::string MakeKey(int cellSize, bool open, const std::string& name);

private:
    enum class Map { Path, Type };
    struct Entry {
        std::string key;
        Map map;
        CImagePair image;
    };
    using Recency = std::list<Entry>;
    using Index = std::unordered_map<std::string, Recency::iterator>;

    Index& MapFor(Map map) { return map == Map::Path ? m_byPath : m_byType; }
    // The entry under the key, moved to the head; null when absent.
    const CImagePair* FindLocked(Map map, const std::string& key);
    void StoreLocked(Map map, const std::string& key, const CImagePair& image);

    IImageProvider* m_next; // borrowed

    mutable std::mutex m_mutex;
    Index m_byPath;    // guarded by m_mutex
    Index m_byType;    // guarded by m_mutex
    Recency m_recency; // guarded by m_mutex; most recently used at the front
};
