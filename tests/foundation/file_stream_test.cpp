#include "foundation/exception.h"
#include "foundation/file_stream.h"
#include "foundation/path.h"
#include "tests/foundation/file_test_folder.h"
#include "tests/support/catalogues.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <gtest/gtest.h>

namespace {

using Mode = CFileStream::OpenMode;

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string ReadAll(CFileStream& stream, size_t count) {
    std::string bytes(count, '\0');
    bytes.resize(stream.Read(count, bytes.data()));
    return bytes;
}

std::string CodeAndTextOf(const std::function<void()>& raise) {
    try {
        raise();
    } catch (const CException& e) {
        return std::string(e.GetCode()) + ": " + e.GetText();
    }
    return "(nothing raised)";
}

// A file that this process can read but not write. Root writes through file modes, so it then takes a
// kernel file that refuses writing to everybody.
std::optional<std::string> ReadOnlyFile(const CFileTestFolder& folder) {
    std::string path = folder.Put("read-only.txt", "abc");
    std::filesystem::permissions(path,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
    for (const std::string& candidate : {path, std::string("/sys/kernel/notes")}) {
        if (std::fstream(candidate, std::ios::in | std::ios::out | std::ios::binary).is_open())
            continue;
        if (std::ifstream(candidate, std::ios::binary).is_open())
            return candidate;
    }
    return std::nullopt;
}

} // namespace

using FileStreamText = CataloguesInstalled;

TEST_F(FileStreamText, OpeningWhatIsNoFileRaisesNotFoundWithThePath) {
    CFileTestFolder folder;
    std::string missing = folder / "missing.jpg";
    std::string inMissingFolder = folder / "nowhere/new.jpg";
    // A file that does not exist, without create.
    EXPECT_EQ(CodeAndTextOf([&] { CFileStream(missing, Mode::Existing); }),
              "ENOENT: No such file or directory: " + missing);
    // Creating in a folder that does not exist.
    EXPECT_EQ(CodeAndTextOf([&] { CFileStream(inMissingFolder, Mode::Create); }),
              "ENOENT: No such file or directory: " + inMissingFolder);
    // A folder is no file, with or without create.
    EXPECT_EQ(CodeAndTextOf([&] { CFileStream(folder.Path(), Mode::Existing); }),
              "ENOENT: No such file or directory: " + folder.Path());
    EXPECT_EQ(CodeAndTextOf([&] { CFileStream(folder.Path(), Mode::Create); }),
              "ENOENT: No such file or directory: " + folder.Path());
}

TEST(FileStream, CreateMakesOrEmptiesTheFileAndExistingKeepsIt) {
    CFileTestFolder folder;
    std::string path = folder.Put("a.bin", "old contents");
    {
        CFileStream existing(path, Mode::Existing);
        EXPECT_FALSE(existing.IsOutputClosed());
        EXPECT_EQ(existing.GetLength(), 12u);
        EXPECT_EQ(ReadAll(existing, 3), "old");
    }
    {
        CFileStream created(path, Mode::Create);
        EXPECT_EQ(created.GetLength(), 0u);
        EXPECT_EQ(created.Write(3, "new"), 3u);
    }
    EXPECT_EQ(Contents(path), "new");
    std::string fresh = folder / "fresh.bin";
    CFileStream(fresh, Mode::Create).Write(1, "x");
    EXPECT_EQ(Contents(fresh), "x");
}

TEST_F(FileStreamText, ReadOnlyFileOpensWithItsOutputClosed) {
    CFileTestFolder folder;
    auto path = ReadOnlyFile(folder);
    if (!path)
        GTEST_SKIP() << "no file here refuses writing to this process";
    CFileStream stream(*path, Mode::Existing);
    EXPECT_TRUE(stream.IsOutputClosed());
    EXPECT_FALSE(stream.IsInputClosed());
    char byte;
    EXPECT_EQ(stream.Read(1, &byte), 1u);
    EXPECT_EQ(CodeAndTextOf([&] { stream.Write(1, "x"); }),
              "EOSHUTDOWN: Internal error: can't write on a closed output stream");
}

TEST_F(FileStreamText, ClosedDirectionsRaiseAndTheOtherKeepsWorking) {
    CFileTestFolder folder;
    std::string path = folder.Put("a.bin", "0123456789");
    const std::string kInputClosed = "EISHUTDOWN: Internal error: can't read on a closed input stream";
    const std::string kOutputClosed = "EOSHUTDOWN: Internal error: can't write on a closed output stream";
    char buffer[4];

    CFileStream input(path, Mode::Existing);
    input.CloseInput();
    // Reading, skipping and peeking all count as reading.
    EXPECT_EQ(CodeAndTextOf([&] { input.Read(1, buffer); }), kInputClosed);
    EXPECT_EQ(CodeAndTextOf([&] { input.Read(1, nullptr); }), kInputClosed);
    EXPECT_EQ(CodeAndTextOf([&] { input.Peek(1, buffer); }), kInputClosed);
    EXPECT_EQ(CodeAndTextOf([&] { input.Peek(1, nullptr); }), kInputClosed);
    EXPECT_EQ(input.Write(2, "ab"), 2u);
    input.Flush();

    CFileStream output(path, Mode::Existing);
    output.CloseOutput();
    EXPECT_EQ(CodeAndTextOf([&] { output.Write(1, "x"); }), kOutputClosed);
    EXPECT_EQ(output.Read(4, buffer), 4u);
    EXPECT_EQ(std::string(buffer, 4), "ab23");
}

TEST(FileStream, ReadReturnsWhatIsLeftAtTheEnd) {
    CFileTestFolder folder;
    CFileStream stream(folder.Put("a.bin", "0123456789"), Mode::Existing);
    EXPECT_EQ(ReadAll(stream, 4), "0123");
    EXPECT_EQ(ReadAll(stream, 100), "456789");
    EXPECT_EQ(ReadAll(stream, 1), "");
    EXPECT_EQ(stream.Tell(), 10u);
    // Reading on after the end is reached sees bytes that arrived since.
    std::ofstream(stream.GetPath(), std::ios::app | std::ios::binary) << "AB";
    EXPECT_EQ(ReadAll(stream, 5), "AB");
}

TEST(FileStream, NullBufferSkipsByTheCountAlsoPastTheEnd) {
    CFileTestFolder folder;
    CFileStream stream(folder.Put("a.bin", "0123456789"), Mode::Existing);
    EXPECT_EQ(stream.Read(3, nullptr), 3u);
    EXPECT_EQ(ReadAll(stream, 2), "34");
    EXPECT_EQ(stream.Read(20, nullptr), 20u);
    EXPECT_EQ(stream.Tell(), 25u);
    EXPECT_EQ(ReadAll(stream, 5), "");
    stream.Seek(3);
    if constexpr (sizeof(size_t) >= sizeof(int64_t)) {
        // A count that leads past the largest position a file may have moves nothing.
        EXPECT_EQ(stream.Read(SIZE_MAX, nullptr), 0u);
        EXPECT_EQ(stream.Tell(), 3u);
    } else {
        // A 32-bit count cannot lead that far: the largest one is skipped like any other.
        EXPECT_EQ(stream.Read(SIZE_MAX, nullptr), SIZE_MAX);
        EXPECT_EQ(stream.Tell(), 3u + uint64_t{SIZE_MAX});
    }
}

TEST(FileStream, PeekLeavesThePositionWhereItWas) {
    CFileTestFolder folder;
    CFileStream stream(folder.Put("a.bin", "0123456789"), Mode::Existing);
    stream.Seek(8);
    char buffer[5];
    // Across the end: two bytes, position unchanged.
    EXPECT_EQ(stream.Peek(5, buffer), 2u);
    EXPECT_EQ(std::string(buffer, 2), "89");
    EXPECT_EQ(stream.Tell(), 8u);
    // Skipping by peeking moves nothing either.
    EXPECT_EQ(stream.Peek(4, nullptr), 4u);
    EXPECT_EQ(stream.Tell(), 8u);
    EXPECT_EQ(ReadAll(stream, 5), "89");
    // At the end.
    EXPECT_EQ(stream.Peek(1, buffer), 0u);
    EXPECT_EQ(stream.Tell(), 10u);
}

TEST(FileStream, SwitchingBetweenReadingAndWritingKeepsPositions) {
    CFileTestFolder folder;
    std::string path = folder / "a.bin";
    CFileStream stream(path, Mode::Create);
    EXPECT_EQ(stream.Write(6, "abcdef"), 6u);
    stream.Seek(1);
    EXPECT_EQ(ReadAll(stream, 2), "bc");
    // Writing right after reading goes where the reading stopped.
    EXPECT_EQ(stream.Write(1, "X"), 1u);
    EXPECT_EQ(stream.Tell(), 4u);
    // Reading right after writing sees the bytes after it, not stale buffer contents.
    EXPECT_EQ(ReadAll(stream, 10), "ef");
    stream.Seek(0);
    EXPECT_EQ(ReadAll(stream, 10), "abcXef");
    EXPECT_EQ(stream.Write(2, "gh"), 2u);
    // The length counts bytes still in the buffer.
    EXPECT_EQ(stream.GetLength(), 8u);
    EXPECT_EQ(Contents(path), "abcXefgh");
}

TEST(FileStream, SeekPastTheEndReadsNothingAndWritingFillsTheGap) {
    CFileTestFolder folder;
    std::string path = folder.Put("a.bin", "ab");
    CFileStream stream(path, Mode::Existing);
    stream.Seek(5);
    EXPECT_EQ(stream.Tell(), 5u);
    EXPECT_EQ(ReadAll(stream, 3), "");
    EXPECT_EQ(stream.Tell(), 5u);
    EXPECT_EQ(stream.Write(1, "z"), 1u);
    stream.Flush();
    EXPECT_EQ(Contents(path), std::string("ab\0\0\0z", 6));
}

TEST(FileStream, SeekToAPositionNoFileHasRaisesIOError) {
    CFileTestFolder folder;
    CFileStream stream(folder.Put("a.bin", "ab"), Mode::Existing);
    EXPECT_THROW(stream.Seek(UINT64_MAX), CIOException);
    EXPECT_EQ(stream.Tell(), 0u);
}

#ifndef _WIN32 // a Linux device
TEST_F(FileStreamText, FullDeviceRaisesDeviceFullWithThePath) {
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "/dev/full is not writable here";
    const std::string kFull = "ENOSPC: Device is full (accessing /dev/full)";
    // A write larger than the buffer reaches the device at once.
    {
        CFileStream stream("/dev/full", Mode::Existing);
        std::string big(1 << 20, 'x');
        EXPECT_EQ(CodeAndTextOf([&] { stream.Write(big.size(), big.data()); }), kFull);
    }
    // A small write waits in the buffer; the flush reports that it cannot be written.
    {
        CFileStream stream("/dev/full", Mode::Existing);
        EXPECT_EQ(stream.Write(1, "x"), 1u);
        EXPECT_EQ(CodeAndTextOf([&] { stream.Flush(); }), kFull);
    }
    // So does asking for the length, which flushes first.
    {
        CFileStream stream("/dev/full", Mode::Existing);
        EXPECT_EQ(stream.Write(1, "x"), 1u);
        EXPECT_EQ(CodeAndTextOf([&] { stream.GetLength(); }), kFull);
    }
}
#endif

// Sizes and positions of 4 GiB and more are kept whole (a sparse file takes no room on disk).
TEST(FileStream, FilesOfFourGibibytesAndMoreKeepTheirTrueSizeAndPositions) {
    CFileTestFolder folder;
    std::string path = folder.Put("big.bin");
    constexpr uint64_t kSize = (5ull << 30) + 7;
    std::error_code error;
    std::filesystem::resize_file(path, kSize, error);
    if (error)
        GTEST_SKIP() << "no sparse file of 5 GiB here: " << error.message();
    EXPECT_EQ(GetFileSize(path), kSize);

    CFileStream stream(path, Mode::Existing);
    EXPECT_EQ(stream.GetLength(), kSize);
    constexpr uint64_t kFar = (4ull << 30) + 3;
    stream.Seek(kFar);
    EXPECT_EQ(stream.Write(2, "hi"), 2u);
    EXPECT_EQ(stream.Tell(), kFar + 2);
    EXPECT_EQ(stream.Read(8, nullptr), 8u);
    EXPECT_EQ(stream.Tell(), kFar + 10);
    stream.Seek(kFar - 1);
    char bytes[3];
    EXPECT_EQ(stream.Peek(3, bytes), 3u);
    EXPECT_EQ(std::string(bytes, 3), std::string("\0hi", 3));
    EXPECT_EQ(stream.Tell(), kFar - 1);
    stream.Seek(kSize - 1);
    EXPECT_EQ(ReadAll(stream, 10).size(), 1u);
}
