// The stream callbacks and their registration; the memory, resource and file streams.
#include "music/file_stream.h"
#include "music/module.h"
#include "music/module_builder.h"
#include "music/module_writer.h"
#include "music/resource_stream.h"
#include "music/stream.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace tessivane::music {
namespace {

// Restores the registration a test changed.
class Streams : public ::testing::Test {
protected:
    void SetUp() override { earlier_ = registeredStreamCallbacks(); }
    void TearDown() override {
        setStreamCallbacks(earlier_.open, earlier_.close, earlier_.read, earlier_.seek,
                           earlier_.tell);
    }

private:
    StreamCallbacks earlier_{};
};

ResourceStream over(const std::vector<std::uint8_t>& bytes, std::int32_t position = 0) {
    return {static_cast<std::int32_t>(bytes.size()), position, bytes.data()};
}

TEST_F(Streams, RegistrationIsAllOrNothing) {
    setStreamCallbacks(resourceOpen, resourceClose, resourceRead, resourceSeek, resourceTell);
    EXPECT_TRUE(streamCallbacksRegistered());
    EXPECT_EQ(registeredStreamCallbacks().read, resourceRead);
    // One missing callback clears the earlier complete set.
    setStreamCallbacks(resourceOpen, resourceClose, nullptr, resourceSeek, resourceTell);
    EXPECT_FALSE(streamCallbacksRegistered());
    const StreamCallbacks none = registeredStreamCallbacks();
    EXPECT_EQ(none.open, nullptr);
    EXPECT_EQ(none.close, nullptr);
    EXPECT_EQ(none.seek, nullptr);
    EXPECT_EQ(none.tell, nullptr);
    // With nothing registered, opening fails instead of calling through a null pointer,
    // and the loader says so.
    EXPECT_EQ(streamOpen("x"), nullptr);
    EXPECT_EQ(loadModule("x"), nullptr);
    EXPECT_STREQ(lastModuleError(), "no stream callbacks are registered");
}

TEST_F(Streams, NullStreamsDoNothing) {
    std::uint8_t buffer[4] = {9, 9, 9, 9};
    EXPECT_EQ(streamRead(buffer, 4, nullptr), 0);
    EXPECT_EQ(buffer[0], 9);
    streamSeek(nullptr, 10, SEEK_FROM_START);
    EXPECT_EQ(streamTell(nullptr), 0);
    streamClose(nullptr);
}

TEST_F(Streams, ModuleStreamsForwardToTheRegisteredSet) {
    const std::vector<std::uint8_t> bytes = {1, 2, 3, 4, 5};
    setStreamCallbacks(memoryOpen, resourceClose, resourceRead, resourceSeek, resourceTell);
    const MemoryBlock block{bytes.data(), bytes.size()};
    ModuleStream* stream = streamOpen(reinterpret_cast<const char*>(&block));
    ASSERT_NE(stream, nullptr);
    streamSeek(stream, 3, SEEK_FROM_START);
    std::uint8_t buffer[4] = {};
    EXPECT_EQ(streamRead(buffer, 4, stream), 2);
    EXPECT_EQ(buffer[0], 4);
    EXPECT_EQ(buffer[1], 5);
    EXPECT_EQ(streamTell(stream), 5);
    streamClose(stream);

    // Too large for 32-bit positions: refused, and the loader says why.
    EXPECT_EQ(loadModuleFromMemory(bytes.data(), std::size_t{1} << 31), nullptr);
    EXPECT_STREQ(lastModuleError(), "cannot be opened (File too large)");
}

TEST(ResourceStream, ReadsStopAtTheEnd) {
    const std::vector<std::uint8_t> bytes(51767, 0xAB);
    ResourceStream stream = over(bytes, 51700);
    std::vector<std::uint8_t> buffer(100);
    EXPECT_EQ(resourceRead(buffer.data(), 100, &stream), 67);
    EXPECT_EQ(stream.position, 51767);
    EXPECT_EQ(buffer[66], 0xAB);
    EXPECT_EQ(buffer[67], 0);
    EXPECT_EQ(resourceRead(buffer.data(), 100, &stream), 0);
    // Negative counts and positions read nothing.
    stream.position = 10;
    EXPECT_EQ(resourceRead(buffer.data(), -5, &stream), 0);
    stream.position = -3;
    EXPECT_EQ(resourceRead(buffer.data(), 5, &stream), 0);
    // A stream without data (no such resource) reads nothing.
    ResourceStream none{0, 0, nullptr};
    EXPECT_EQ(resourceRead(buffer.data(), 5, &none), 0);
}

TEST(ResourceStream, SeeksStopAtBothEnds) {
    const std::vector<std::uint8_t> bytes(100);
    ResourceStream stream = over(bytes);
    resourceSeek(&stream, 0, SEEK_FROM_END);
    EXPECT_EQ(resourceTell(&stream), 100);
    resourceSeek(&stream, 10, SEEK_FROM_END);
    EXPECT_EQ(resourceTell(&stream), 100);
    resourceSeek(&stream, 4, SEEK_FROM_START);
    resourceSeek(&stream, 23, SEEK_FROM_CURRENT);
    EXPECT_EQ(resourceTell(&stream), 27);
    resourceSeek(&stream, 5, 3); // no such origin
    EXPECT_EQ(resourceTell(&stream), 27);
    resourceSeek(&stream, -10, SEEK_FROM_END);
    EXPECT_EQ(resourceTell(&stream), 90);
    resourceSeek(&stream, -1000, SEEK_FROM_CURRENT);
    EXPECT_EQ(resourceTell(&stream), 0);
    resourceSeek(&stream, 0x7FFFFFFF, SEEK_FROM_START);
    resourceSeek(&stream, 0x7FFFFFFF, SEEK_FROM_CURRENT);
    EXPECT_EQ(resourceTell(&stream), 100);
}

TEST(ResourceStream, AMissingResourceIsAnEmptyStream) {
    void* handle = resourceOpen("NO_SUCH_MODULE");
    ASSERT_NE(handle, nullptr);
    auto* stream = static_cast<ResourceStream*>(handle);
    EXPECT_EQ(stream->size, 0);
    EXPECT_EQ(stream->data, nullptr);
    EXPECT_EQ(resourceClose(handle), 0);
}

TEST_F(Streams, FilesAreReadAndTheirFailuresNamed) {
    const std::string path = ::testing::TempDir() + "stream-test-" + std::to_string(getpid());
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("Extended Module? no", file);
    std::fclose(file);

    void* handle = fileOpen(path.c_str());
    ASSERT_NE(handle, nullptr);
    fileSeek(handle, 0, SEEK_FROM_END);
    EXPECT_EQ(fileTell(handle), 19);
    fileSeek(handle, 9, SEEK_FROM_START);
    char buffer[16] = {};
    EXPECT_EQ(fileRead(buffer, 15, handle), 10);
    EXPECT_STREQ(buffer, "Module? no");
    fileSeek(handle, -100, SEEK_FROM_CURRENT); // refused: stays
    EXPECT_EQ(fileTell(handle), 19);
    EXPECT_EQ(fileClose(handle), 0);

    useFileStreams();
    EXPECT_EQ(loadModule(path.c_str()), nullptr);
    EXPECT_STREQ(lastModuleError(), "not an XM module");
    // A real module loads from its file.
    Module* song = createModule(3, 1, 8, 0);
    std::vector<std::uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(writeModule(*song, bytes, error)) << error;
    freeModule(song);
    file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    Module* module = loadModule(path.c_str());
    ASSERT_NE(module, nullptr) << lastModuleError();
    EXPECT_EQ(module->channelCount, 3);
    freeModule(module);

    EXPECT_EQ(loadModule((path + ".missing").c_str()), nullptr);
    EXPECT_STREQ(lastModuleError(), "cannot be opened (No such file or directory)");
    EXPECT_EQ(loadModule(::testing::TempDir().c_str()), nullptr);
    EXPECT_STREQ(lastModuleError(), "cannot be opened (Is a directory)");
    std::remove(path.c_str());
}

} // namespace
} // namespace tessivane::music
