// Inside the module loader only: what its parts share.
#pragma once

#include "music/module.h"
#include "music/stream.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>

namespace tessivane::music::detail {

inline std::uint16_t u16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

inline std::uint32_t u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Reads through a module stream and never past what it holds. Positions are 64-bit so that
// sums of 32-bit sizes from the file cannot wrap.
class Reader {
public:
    Reader(ModuleStream* stream, std::int64_t size) : stream_(stream), size_(size) {}

    std::int64_t position() const { return position_; }
    std::int64_t size() const { return size_; }
    bool holds(std::int64_t from, std::int64_t count) const {
        return from >= 0 && count >= 0 && from <= size_ && count <= size_ - from;
    }

    // False, moving nowhere, when to is outside the stream.
    bool seek(std::int64_t to) {
        if (!holds(to, 0)) {
            return false;
        }
        if (to != position_) {
            streamSeek(stream_, static_cast<std::int32_t>(to), SEEK_FROM_START);
            position_ = to;
        }
        return true;
    }

    // False when the stream holds fewer than count bytes from here; the stream is then
    // positioned nowhere in particular.
    bool read(void* buffer, std::int64_t count) {
        if (!holds(position_, count)) {
            return false;
        }
        if (count == 0) {
            return true;
        }
        const std::int32_t got = streamRead(buffer, static_cast<std::int32_t>(count), stream_);
        if (got < 0) {
            return false;
        }
        position_ += got;
        return got == count;
    }

private:
    ModuleStream* stream_;
    std::int64_t size_;
    std::int64_t position_ = 0;
};

// printf-style text for a failure's reason.
std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

// The module being built, where it is read from, and why building it failed.
class LoaderBase {
public:
    LoaderBase(Module* module, Reader& in) : module_(module), in_(in) {}
    const std::string& error() const { return error_; }

protected:
    bool fail(std::string why) {
        error_ = std::move(why);
        return false;
    }

    // count zero-filled records, or null for none; false (out of memory) when that fails.
    template <typename T>
    bool allocate(T*& out, std::size_t count) {
        out = nullptr;
        if (count == 0) {
            return true;
        }
        out = static_cast<T*>(std::calloc(count, sizeof(T)));
        if (out == nullptr) {
            return fail(format("out of memory (%zu bytes)", count * sizeof(T)));
        }
        return true;
    }

    Module* module_;
    Reader& in_;
    std::string error_;
};

// Reads the module's instrumentCount instruments from where in_ stands, with their samples.
// On failure error says why; module->instrumentCount then counts the instruments that hold
// allocations, for the release.
bool loadInstruments(Module* module, Reader& in, std::string& error);

} // namespace tessivane::music::detail
