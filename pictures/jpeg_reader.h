// Decodes one JPEG picture, from a file or from a block of memory, through the system's libjpeg (the
// 6b interface), with DCT scaling by 1/2, 1/4 or 1/8. libjpeg's errors come out as
// PXUnsupportedException. One reader serves one decode on one thread.
#pragma once

#include "pictures/picture_reader.h"

#include <memory>
#include <vector>

class CJPEGReader : public IPictureReader {
public:
    // APP1 markers (EXIF) are kept up to this many bytes; longer ones are cut.
    static constexpr unsigned kMaxApp1Length = 65536;
    // libjpeg may use this much memory for one picture (whole-picture buffers of progressive files);
    // a header that asks for more makes the decode fail instead of exhausting the process.
    static constexpr long kMaxDecoderMemory = 512L * 1024 * 1024;

    CJPEGReader();
    ~CJPEGReader() override;
    CJPEGReader(const CJPEGReader&) = delete;
    CJPEGReader& operator=(const CJPEGReader&) = delete;

    void Open(const std::string& path) override;
    void Open(const uint8_t* data, size_t size) override;

    uint32_t GetWidth() const override;
    uint32_t GetHeight() const override;
    uint32_t GetBitsPerPixel() const override;
    std::span<const uint8_t> GetExifSegment() const override;

    // PXInvalidParameterException for a scale other than 1, 2, 4 or 8, or once decoding has begun.
    void SetScale(int denominator) override;
    int GetScale() const override { return m_scale; }

    // The first call starts the decompressor. PXUnsupportedException when the data turns out corrupt
    // (the decode is then abandoned, and so are later calls); PXInvalidParameterException when `row`
    // is shorter than GetWidth().
    bool ReadRow(std::span<uint32_t> row) override;
    void Abort() override;

    // The largest supported scale that does not reduce by more than `reduction`: 2 to the power
    // floor(log2 reduction), capped at 8; 1 for anything below 2.
    static int GetNearestScale(int reduction);

private:
    struct Decoder;

    // Where the decode stands; the reader holds a decoder in every stage but None.
    enum class Stage {
        None,     // never opened, or the last Open failed
        Header,   // the header is read; scale may still change
        Decoding, // the decompressor runs; rows are being read
        Finished, // every row read, or aborted
        Failed,   // libjpeg reported an error while decoding
    };

    void Start(std::unique_ptr<Decoder> decoder);
    void StartDecompress();
    void CheckOpen() const;

    std::unique_ptr<Decoder> m_decoder; // owns the libjpeg object and the file or block it reads
    Stage m_stage = Stage::None;
    int m_scale = 1;
    uint32_t m_imageWidth = 0;  // at scale 1
    uint32_t m_imageHeight = 0; // at scale 1
    int m_components = 0;
    std::vector<uint8_t> m_exifSegment; // copied out, since libjpeg frees its markers when a decode ends
};
