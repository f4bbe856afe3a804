// Bilinear taps that fall exactly halfway between four texel centres, as every tap of a
// full-screen pass over a target the texture's size does when the taps are offset from the
// pixel by whole texels, weigh each texel a quarter. A pass that taps one texture several
// times reads and filters the same 2x2 blocks again and again; a table of the halfway sample
// of every block, made once before the pass, turns each such tap into one read per channel.
// The table holds the very floats bilinear filtering gives there, so the bytes drawn are the
// same with it or without it.
#pragma once

#include "platform/soft/pixel_state.h"

#include <atomic>
#include <memory>
#include <vector>

namespace tessivane::platform::soft {

struct BatchTriangle;
struct DrawRecord;

// The halfway samples of a 32-bit texture under clamped addressing. Entry r · stride + c of
// a channel is the sample between texel columns c − 1 and c and rows r − 1 and r, each
// clamped into the texture: c in 0..width, r in 0..height.
struct HalfwaySamples {
    float* channel[4] = {}; // red, green, blue, alpha (alpha null for formats without it)
    int stride = 0;         // width + 1
    int rows = 0;           // height + 1
};

// A quarter of the sum of four bytes, divided by 255: a channel of the halfway sample.
inline float halfwayValue(unsigned byteSum) {
    return (static_cast<float>(byteSum) * 0.25f) / 255.0f;
}

// Fills rows first..last-1 of the table of texture t, one entry at a time.
void fillHalfwayRowsNarrow(const TextureView& t, const HalfwaySamples& table, int first, int last);
// The same, eight entries at a time where the processor has the wide operations.
void fillHalfwayRows(const TextureView& t, const HalfwaySamples& table, int first, int last);

// Sets planes.halfway for the stages of a triangle whose taps all fall exactly halfway between
// texels (see HalfwayTaps): stages with a halfway table whose coordinates, as interpolated in
// float at every pixel the triangle may cover, are the pixel's position plus a whole number of
// texels and a half.
void findHalfwayTaps(const PixelState& state, const BatchTriangle& triangle,
                     PrimitivePlanes& planes);

// The tables of one queue of draws, filled by the render threads before they draw it.
class HalfwayTables {
public:
    // Gives every bilinear, clamped stage of the draws a table of its texture's halfway
    // samples where that pays: the texture is 32-bit, tapped at least twice in the queue or
    // the size of the viewport, and not the target any draw of it writes to (a table would
    // not see those writes). Only the
    // wide sampling reads tables, so without the wide operations none is made. Returns the
    // number of jobs that fill the tables.
    unsigned plan(std::vector<DrawRecord>& draws);
    // Whether plan would make a table for the draws.
    static bool wanted(const std::vector<DrawRecord>& draws);
    // Runs fill job `job` (0 .. the planned count - 1); jobs may run on several threads.
    void fill(unsigned job);
    // Returns once every planned job has finished.
    void waitUntilFilled() const;

private:
    // A texture the draws tap, and how often: a table pays from two taps on.
    struct Tapped {
        const std::uint8_t* bits;
        int taps;
        bool worthATable() const { return taps >= 2; }
    };
    static std::vector<Tapped> tapped(const std::vector<DrawRecord>& draws);

    struct Table {
        TextureView source;
        HalfwaySamples samples;
        std::vector<float> storage;
    };
    struct Job {
        const Table* table;
        int first, last; // rows
    };
    std::vector<std::unique_ptr<Table>> tables_; // kept from queue to queue for their memory
    std::vector<Job> jobs_;
    std::atomic<unsigned> filled_{0};
};

} // namespace tessivane::platform::soft
