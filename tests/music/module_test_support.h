// Building XM files for the loader tests: songs made with the builder and the writer, and
// byte patches at the places the writer's layout puts each field.
#pragma once

#include "music/module.h"
#include "music/module_builder.h"
#include "music/module_writer.h"
#include "music/resource_stream.h"
#include "music/stream.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace tessivane::music::test {

using Bytes = std::vector<std::uint8_t>;

struct ModuleDeleter {
    void operator()(Module* module) const { freeModule(module); }
};
using ModulePtr = std::unique_ptr<Module, ModuleDeleter>;

// Where the writer puts things: the header, then each pattern's 9-byte header and data,
// then each instrument's 263-byte header, its 40-byte sample headers and its data.
inline constexpr std::size_t HEADER_END = 336;
inline constexpr std::size_t SONG_LENGTH_AT = 64;
inline constexpr std::size_t RESTART_AT = 66;
inline constexpr std::size_t CHANNELS_AT = 68;
inline constexpr std::size_t PATTERNS_AT = 70;
inline constexpr std::size_t INSTRUMENTS_AT = 72;
inline constexpr std::size_t SPEED_AT = 76;
inline constexpr std::size_t BPM_AT = 78;
inline constexpr std::size_t INSTRUMENT_HEADER = 263;
inline constexpr std::size_t SAMPLE_HEADER = 40;

inline Bytes write(const Module& module) {
    Bytes bytes;
    std::string error;
    EXPECT_TRUE(writeModule(module, bytes, error)) << error;
    return bytes;
}

inline ModulePtr load(const Bytes& bytes) {
    return ModulePtr(loadModuleFromMemory(bytes.data(), bytes.size()));
}

// Loads bytes that must be rejected, and returns the reason.
inline std::string rejection(const Bytes& bytes) {
    ModulePtr module = load(bytes);
    EXPECT_EQ(module, nullptr) << "loaded, expected a rejection";
    return lastModuleError();
}

inline void put16(Bytes& bytes, std::size_t at, unsigned value) {
    bytes.at(at) = static_cast<std::uint8_t>(value);
    bytes.at(at + 1) = static_cast<std::uint8_t>(value >> 8);
}

inline void put32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    put16(bytes, at, value & 0xFFFF);
    put16(bytes, at + 2, value >> 16);
}

inline unsigned get16(const Bytes& bytes, std::size_t at) {
    return bytes.at(at) | bytes.at(at + 1) << 8;
}

// The offset of pattern p's header in a file written by the writer.
inline std::size_t patternAt(const Bytes& bytes, int p) {
    std::size_t at = HEADER_END;
    for (int i = 0; i < p; ++i) {
        at += 9 + get16(bytes, at + 7);
    }
    return at;
}

// The offset of the first instrument's header.
inline std::size_t instrumentsAt(const Bytes& bytes) {
    return patternAt(bytes, static_cast<int>(get16(bytes, PATTERNS_AT)));
}

// Replaces the packed data of pattern p with data.
inline void setPatternData(Bytes& bytes, int p, const Bytes& data) {
    const std::size_t at = patternAt(bytes, p);
    const unsigned old = get16(bytes, at + 7);
    bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at + 9),
                bytes.begin() + static_cast<std::ptrdiff_t>(at + 9 + old));
    bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at + 9), data.begin(), data.end());
    put16(bytes, at + 7, static_cast<unsigned>(data.size()));
}

// A module of one empty 4-row pattern on 2 channels and one instrument with one 16-bit
// sample of the given values, no loop.
inline ModulePtr oneSampleModule(std::vector<std::int16_t> values, std::uint8_t bits = 16) {
    ModulePtr module(createModule(2, 1, 4, 1));
    Sample* sample = addSample(module->instruments[0], static_cast<std::uint32_t>(values.size()));
    sample->bits = bits;
    if (!values.empty()) {
        std::memcpy(sample->data, values.data(), values.size() * sizeof(std::int16_t));
    }
    return module;
}

} // namespace tessivane::music::test
