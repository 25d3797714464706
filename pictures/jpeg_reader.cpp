#include "pictures/jpeg_reader.h"

#include "foundation/trace.h"
#include "pictures/exception.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

// clang-format off
#include <jpeglib.h>
#include <jerror.h> // after jpeglib.h, which it needs
// clang-format on

// libjpeg reports a fatal error by calling error_exit, which must not return. The C library frames
// in between know nothing of C++ exceptions, so the error exit jumps back to the setjmp of Run, and
// Run's caller throws. Only trivially destructible frames lie between the two: Run itself, the step
// (a captureless lambda over plain data), libjpeg, and the callbacks below.

namespace {

constexpr int kApp1Marker = JPEG_APP0 + 1;
constexpr char kExifHeader[] = "Exif\0"; // with the string's own NUL: "Exif" and two zero bytes
constexpr size_t kExifHeaderLength = 6;

struct ErrorManager {
    jpeg_error_mgr manager; // first, so that the library's pointer to it is a pointer to this
    std::jmp_buf jump;
};

[[noreturn]] void ErrorExit(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

// Warnings (corrupt data that libjpeg works around) go to the trace instead of standard error.
void OutputMessage(j_common_ptr info) {
    char text[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, text);
    Trace("jpeg", 2, "libjpeg: %s", text);
}

// The memory source hands the whole block over at once, so any request for more is a request past
// its end.
void InitSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr info) {
    ERREXIT(info, JERR_INPUT_EMPTY);
    return FALSE;
}

void SkipInputData(j_decompress_ptr info, long count) {
    if (count <= 0)
        return;
    jpeg_source_mgr* source = info->src;
    if (static_cast<unsigned long>(count) > source->bytes_in_buffer)
        ERREXIT(info, JERR_INPUT_EMPTY);
    source->next_input_byte += count;
    source->bytes_in_buffer -= static_cast<size_t>(count);
}

void TermSource(j_decompress_ptr) {}

bool IsExifSegment(const jpeg_marker_struct* marker) {
    return marker->data_length >= kExifHeaderLength &&
           std::memcmp(marker->data, kExifHeader, kExifHeaderLength) == 0;
}

} // namespace

struct CJPEGReader::Decoder {
    jpeg_decompress_struct info{};
    ErrorManager error{};
    jpeg_source_mgr memorySource{};
    std::vector<uint8_t> block; // the memory source's bytes, owned
    std::FILE* file = nullptr;  // the file source's file, owned
    bool created = false;       // the decompression object exists and must be destroyed
    std::vector<JSAMPLE> samples;
    JDIMENSION rowsReturned = 0; // what the last jpeg_read_scanlines delivered

    Decoder() {
        info.err = jpeg_std_error(&error.manager);
        error.manager.error_exit = ErrorExit;
        error.manager.output_message = OutputMessage;
    }
    ~Decoder() {
        if (created)
            jpeg_destroy_decompress(&info);
        if (file != nullptr)
            std::fclose(file);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Runs one libjpeg step; false when libjpeg reported an error. No C++ object may be created in a
    // step, since the error exit leaves it by longjmp.
    bool Run(void (*step)(Decoder&)) {
        if (setjmp(error.jump) != 0)
            return false;
        step(*this);
        return true;
    }
};

CJPEGReader::CJPEGReader() = default;
CJPEGReader::~CJPEGReader() = default;

void CJPEGReader::Open(const std::string& path) {
    m_decoder.reset();
    m_stage = Stage::None;
    auto decoder = std::make_unique<Decoder>();
    decoder->file = std::fopen(path.c_str(), "rb");
    if (decoder->file == nullptr)
        throw PXException();
    if (!decoder->Run([](Decoder& d) {
            jpeg_create_decompress(&d.info);
            d.created = true;
            jpeg_stdio_src(&d.info, d.file);
        }))
        throw PXUnsupportedException();
    Start(std::move(decoder));
}

void CJPEGReader::Open(const uint8_t* data, size_t size) {
    m_decoder.reset();
    m_stage = Stage::None;
    auto decoder = std::make_unique<Decoder>();
    decoder->block.assign(data, data + size);
    jpeg_source_mgr& source = decoder->memorySource;
    source.next_input_byte = decoder->block.data();
    source.bytes_in_buffer = decoder->block.size();
    source.init_source = InitSource;
    source.fill_input_buffer = FillInputBuffer;
    source.skip_input_data = SkipInputData;
    source.resync_to_restart = jpeg_resync_to_restart;
    source.term_source = TermSource;
    if (!decoder->Run([](Decoder& d) {
            jpeg_create_decompress(&d.info);
            d.created = true;
            d.info.src = &d.memorySource;
        }))
        throw PXUnsupportedException();
    Start(std::move(decoder));
}

// Reads the header of a decoder whose source is attached, and keeps what later calls need.
void CJPEGReader::Start(std::unique_ptr<Decoder> decoder) {
    decoder->info.mem->max_memory_to_use = kMaxDecoderMemory;
    if (!decoder->Run([](Decoder& d) {
            jpeg_save_markers(&d.info, kApp1Marker, kMaxApp1Length);
            jpeg_read_header(&d.info, TRUE);
        }))
        throw PXUnsupportedException();

    const jpeg_decompress_struct& info = decoder->info;
    m_imageWidth = info.image_width;
    m_imageHeight = info.image_height;
    m_components = info.num_components;
    // The first APP1 marker that holds EXIF data, else the first APP1 marker (XMP may come first).
    const jpeg_marker_struct* chosen = nullptr;
    for (const jpeg_marker_struct* marker = info.marker_list; marker != nullptr; marker = marker->next) {
        if (marker->marker != kApp1Marker)
            continue;
        if (IsExifSegment(marker)) {
            chosen = marker;
            break;
        }
        if (chosen == nullptr)
            chosen = marker;
    }
    m_exifSegment.clear();
    if (chosen != nullptr)
        m_exifSegment.assign(chosen->data, chosen->data + chosen->data_length);
    m_scale = 1;
    m_decoder = std::move(decoder);
    m_stage = Stage::Header;
}

void CJPEGReader::CheckOpen() const {
    if (m_decoder == nullptr)
        throw PXUninitializedException();
}

uint32_t CJPEGReader::GetWidth() const {
    CheckOpen();
    return static_cast<uint32_t>((uint64_t{m_imageWidth} + m_scale - 1) / m_scale);
}

uint32_t CJPEGReader::GetHeight() const {
    CheckOpen();
    return static_cast<uint32_t>((uint64_t{m_imageHeight} + m_scale - 1) / m_scale);
}

uint32_t CJPEGReader::GetBitsPerPixel() const {
    CheckOpen();
    return m_components == 1 ? 8 : 24;
}

std::span<const uint8_t> CJPEGReader::GetExifSegment() const {
    CheckOpen();
    return m_exifSegment;
}

void CJPEGReader::SetScale(int denominator) {
    CheckOpen();
    if (denominator != 1 && denominator != 2 && denominator != 4 && denominator != 8)
        throw PXInvalidParameterException();
    if (m_stage != Stage::Header)
        throw PXInvalidParameterException();
    m_scale = denominator;
}

int CJPEGReader::GetNearestScale(int reduction) {
    if (reduction >= 8)
        return 8;
    if (reduction >= 4)
        return 4;
    if (reduction >= 2)
        return 2;
    return 1;
}

void CJPEGReader::StartDecompress() {
    jpeg_decompress_struct& info = m_decoder->info;
    info.scale_num = 1;
    info.scale_denom = static_cast<unsigned>(m_scale);
    info.dct_method = JDCT_IFAST;
    info.do_fancy_upsampling = FALSE;
    info.out_color_space = m_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    if (!m_decoder->Run([](Decoder& d) { jpeg_start_decompress(&d.info); })) {
        jpeg_abort_decompress(&info);
        m_stage = Stage::Failed;
        throw PXUnsupportedException();
    }
    m_decoder->samples.resize(size_t{info.output_width} * static_cast<size_t>(info.output_components));
    m_stage = Stage::Decoding;
}

bool CJPEGReader::ReadRow(std::span<uint32_t> row) {
    CheckOpen();
    if (m_stage == Stage::Failed)
        throw PXUnsupportedException();
    if (m_stage == Stage::Finished)
        return false;
    const uint32_t width = GetWidth();
    if (row.size() < width)
        throw PXInvalidParameterException();
    if (m_stage == Stage::Header)
        StartDecompress();

    jpeg_decompress_struct& info = m_decoder->info;
    if (info.output_scanline >= info.output_height) {
        m_stage = Stage::Finished;
        return false;
    }
    if (!m_decoder->Run([](Decoder& d) {
            JSAMPROW rows[1] = {d.samples.data()};
            d.rowsReturned = jpeg_read_scanlines(&d.info, rows, 1);
        }) ||
        m_decoder->rowsReturned != 1) {
        jpeg_abort_decompress(&info);
        m_stage = Stage::Failed;
        throw PXUnsupportedException();
    }

    const JSAMPLE* samples = m_decoder->samples.data();
    const uint32_t count = (std::min<uint32_t>)(width, info.output_width);
    if (info.output_components == 1) {
        for (uint32_t i = 0; i < count; ++i)
            row[i] = samples[i] * 0x010101u;
    } else {
        for (uint32_t i = 0; i < count; ++i, samples += 3)
            row[i] = uint32_t{samples[0]} << 16 | uint32_t{samples[1]} << 8 | samples[2];
    }

    if (info.output_scanline >= info.output_height) {
        if (!m_decoder->Run([](Decoder& d) { jpeg_finish_decompress(&d.info); })) {
            // Every row arrived; only the trailer is bad, which the picture does not need.
            jpeg_abort_decompress(&info);
        }
        m_stage = Stage::Finished;
    }
    return true;
}

void CJPEGReader::Abort() {
    CheckOpen();
    if (m_stage == Stage::Decoding)
        jpeg_abort_decompress(&m_decoder->info);
    if (m_stage != Stage::Failed)
        m_stage = Stage::Finished;
}
