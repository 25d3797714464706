#include "foundation/exception.h"
#include "tests/support/catalogues.h"
#include "tests/support/e2e_support.h"
#include "tests/support/scoped_temp_folder.h"
#include "upload/upload_exception.h"
#include "upload/upload_image_body.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include <gtest/gtest.h>

namespace {

using e2e::RandomBytes;

// Reads the body to its end in reads of `piece` bytes, as the request pulls it.
std::string ReadAll(PxUploadImageBody& body, size_t piece) {
    std::string bytes;
    std::string buffer(piece, '\0');
    for (size_t count; (count = body.Read(piece, buffer.data())) != 0;)
        bytes.append(buffer, 0, count);
    return bytes;
}

class UploadImageBody : public CataloguesInstalled {
protected:
    void SetUp() override {
        CataloguesInstalled::SetUp();
        m_folder = std::make_unique<testsupport::ScopedTempFolder>("px-image-body");
        m_dir = m_folder->Path();
        m_path = m_dir + "/picture.jpg";
    }
    void TearDown() override {
        m_folder.reset();
        CataloguesInstalled::TearDown();
    }

    std::unique_ptr<testsupport::ScopedTempFolder> m_folder;
    std::string m_dir;
    std::string m_path;
};

TEST_F(UploadImageBody, HeadFileFromTheOffsetAndTailInOrder) {
    const std::string head = "--B\r\nheaders\r\n\r\n";
    const std::string tail = "\r\n--B--\r\n";
    const std::string file = RandomBytes(3 * PxUploadImageBody::kFileBlock + 123, 1);
    testsupport::WriteWholeFile(m_path, file);
    struct Row {
        uint64_t offset;
        size_t piece;
        const char* what;
    } rows[] = {
        {0, 16384, "the whole file, reads of the request's window"},
        {20000, 7, "from the middle, in reads that split every segment"},
        {file.size() - 1, 1, "only the last byte left"},
        {file.size(), 4096, "the server holds everything: no file bytes, the file is not read"},
        {0, 100000, "reads larger than the file's blocks"},
    };
    for (const Row& row : rows) {
        PxUploadImageBody body(head, m_path, row.offset, file.size(), tail);
        const std::string expected = head + file.substr(row.offset) + tail;
        EXPECT_EQ(body.GetLength(), expected.size()) << row.what;
        EXPECT_EQ(ReadAll(body, row.piece), expected) << row.what;
        EXPECT_EQ(body.Read(10, nullptr), 0u) << row.what; // stays at the end
        // Again from the start, as for a request sent again.
        body.Rewind();
        EXPECT_EQ(ReadAll(body, row.piece), expected) << row.what;
    }
}

TEST_F(UploadImageBody, AFileThatChangesAfterItWasMeasuredFailsTheBody) {
    const size_t size = 4 * PxUploadImageBody::kFileBlock;
    const std::string truncated = "The file \"" + m_path +
                                  "\" is shorter than expected and has probably been changed since it was "
                                  "first uploaded.";
    const std::string changed = "The file \"" + m_path +
                                "\" has been changed since it was first uploaded.  To upload this picture, "
                                "first remove it from the plugin and then add it again.";
    const std::string gone = "No such file or directory: " + m_path;
    struct Row {
        size_t readBefore; // body bytes read before the change
        std::function<void(const std::string&)> change;
        std::string text;
        const char* what;
    } rows[] = {
        {0, [&](const std::string& p) { testsupport::WriteWholeFile(p, RandomBytes(size / 2, 2)); },
         truncated, "shrunk before the first read"},
        {0, [&](const std::string& p) { testsupport::WriteWholeFile(p, RandomBytes(size + 1, 2)); }, changed,
         "grown before the first read"},
        {0, [](const std::string& p) { std::remove(p.c_str()); }, gone, "removed before the first read"},
        {PxUploadImageBody::kFileBlock, [&](const std::string& p) { std::filesystem::resize_file(p, size / 2); },
         truncated, "cut while being read"},
        {PxUploadImageBody::kFileBlock, [](const std::string& p) { std::ofstream(p, std::ios::app) << 'x'; },
         changed, "grown while being read: seen after the last byte"},
#ifndef _WIN32
        {PxUploadImageBody::kFileBlock, [](const std::string& p) { std::remove(p.c_str()); }, gone,
         "removed while being read: seen after the last byte"},
#else // Windows does not remove a file another handle has open, so it is read whole
        {PxUploadImageBody::kFileBlock, [](const std::string& p) { EXPECT_NE(std::remove(p.c_str()), 0); },
         "<nothing raised>", "not removed while being read"},
#endif
        {PxUploadImageBody::kFileBlock,
         [&](const std::string& p) {
             std::remove(p.c_str());
             testsupport::WriteWholeFile(p, RandomBytes(size - 1, 5));
         },
         truncated, "replaced by a shorter file while being read"},
    };
    for (const Row& row : rows) {
        testsupport::WriteWholeFile(m_path, RandomBytes(size, 4));
        PxUploadImageBody body("head", m_path, 0, size, "tail");
        std::string buffer(row.readBefore + 4, '\0');
        ASSERT_EQ(body.Read(buffer.size(), buffer.data()), buffer.size()) << row.what;
        row.change(m_path);
        std::string raised = "<nothing raised>";
        try {
            ReadAll(body, 16384);
        } catch (const CException& e) {
            raised = e.GetText();
        }
        EXPECT_EQ(raised, row.text) << row.what;
    }
}

TEST_F(UploadImageBody, EachPassMeasuresTheFileAgain) {
    const std::string file = RandomBytes(50000, 6);
    testsupport::WriteWholeFile(m_path, file);
    PxUploadImageBody body("h", m_path, 100, file.size(), "t");
    EXPECT_EQ(ReadAll(body, 16384), std::string("h").append(file, 100).append("t"));
    // Between two passes (a challenge answered in between) the file is cut.
    std::filesystem::resize_file(m_path, 40000);
    body.Rewind();
    EXPECT_THROW(ReadAll(body, 16384), PxTruncatedUploadException);
    // And when it has its bytes back, a new pass goes through.
    testsupport::WriteWholeFile(m_path, file);
    body.Rewind();
    EXPECT_EQ(ReadAll(body, 16384), std::string("h").append(file, 100).append("t"));
}

TEST_F(UploadImageBody, TheFileIsMeasuredWhenTheBodyIsMade) {
    testsupport::WriteWholeFile(m_path, RandomBytes(5000, 7));
    EXPECT_THROW(PxUploadImageBody("", m_path, 0, 6000, ""), PxTruncatedUploadException);
    EXPECT_THROW(PxUploadImageBody("", m_path, 0, 4000, ""), PxChangedUploadException);
    // The server cannot hold more than the picture has.
    EXPECT_THROW(PxUploadImageBody("", m_path, 5001, 5000, ""), PxTruncatedUploadException);
    EXPECT_THROW(PxUploadImageBody("", m_dir + "/none.jpg", 0, 5000, ""), CFileNotFoundException);
    EXPECT_EQ(PxUploadImageBody("ab", m_path, 5000, 5000, "cd").GetLength(), 4u);
}

} // namespace
