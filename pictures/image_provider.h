// Where thumbnails come from: a chain of image providers, each answering a request for one file's
// picture in a square cell or passing it to the next one (the cache in front, the JPEG decoder, the
// file-type icon at the end). Providers may be asked from the UI thread and from a worker thread.
#pragma once

#include "ui/image.h"

#include <algorithm>
#include <string>

// The request: a square cell of cellSize x cellSize pixels, and the form of icon wanted (an open
// folder rather than a closed one).
struct CSizeSpec {
    int cellSize = 48;
    bool open = false;
};

// Request flags: one integer that carries the caller's wishes in and the answer's state out.
enum : int {
    kImageComplete = 1,     // out: produced completely (the worker was not asked to stop)
    kImageFinal = 2,        // out: the final image for this request
    kImageNoDecoding = 4,   // in: a recognised picture gives an empty image at once
    kImageOutFlags = kImageComplete | kImageFinal,
};

// A picture and its mask (white transparent, black opaque), both cell x cell; empty (0 x 0) when a
// provider has nothing to give.
struct CImagePair {
    CUIImage picture{0, 0};
    CUIImage mask{0, 0};

    bool IsEmpty() const { return picture.Width() == 0 || picture.Height() == 0; }
    // The larger side of the picture.
    int GetSize() const { return (std::max)(picture.Width(), picture.Height()); }
};

class IImageProvider {
public:
    virtual ~IImageProvider() = default;

    // The image of the file at `path` for the cell. `flags` holds the in-flags on entry and, on
    // return, the same in-flags with the out-flags of the answer.
    virtual CImagePair Get(const CSizeSpec& size, const std::string& path, int& flags) = 0;
    // A key shared by every file whose answer is the same (files of one type); empty when the file's
    // answer is its own.
    virtual std::string GetTypeKey(const std::string& path) = 0;
    // The provider asked when this one has no answer; null at the end of the chain. Borrowed.
    virtual IImageProvider* GetNext() const = 0;
};
