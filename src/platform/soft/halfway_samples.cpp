#include "platform/soft/halfway_samples.h"

#include "platform/soft/pixel_wide.h"
#include "platform/soft/raster.h"
#include "platform/soft/worker_pool.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <thread>

namespace tessivane::platform::soft {

namespace {

// Rows of a table one fill job makes: a few thousand entries, so that the render threads
// share the filling evenly and neither waits long for the other's last job.
constexpr int ROWS_PER_JOB = 32;

bool is32Bit(D3DFORMAT format) {
    return format == D3DFMT_X8R8G8B8 || format == D3DFMT_A8R8G8B8;
}

// Whether a stage's sampling is the kind a table stands in for where its taps fall halfway.
bool tableable(const StageSetup& stage, const PixelState& state) {
    return stage.sample && stage.filter == Filter::Linear && stage.addressU == Address::Clamp &&
           stage.addressV == Address::Clamp && is32Bit(stage.texture.format) &&
           stage.texture.bits != state.target;
}

std::uint32_t texelAt(const TextureView& t, int column, int row) {
    std::uint32_t texel;
    std::memcpy(&texel,
                t.bits + static_cast<std::ptrdiff_t>(row) * t.pitch +
                    static_cast<std::ptrdiff_t>(column) * 4,
                sizeof texel);
    return texel;
}

// v is a whole multiple of 2^lowestBit(v) (v finite and not 0).
int lowestBit(float v) {
    int exponent = 0;
    const float fraction = std::frexp(v, &exponent); // 0.5 <= |fraction| < 1
    const auto significand = static_cast<std::uint32_t>(std::fabs(fraction) * 16777216.0f);
    return exponent - 24 + std::countr_zero(significand);
}

// One coordinate along one axis of the screen: value = (c + across·g) + along·f with
// f = p − ref at pixel p (g the other axis's offset), and the tap value · size − 0.5 on a
// texture `size` texels long. True when, at every p in lo..hi, each of those operations is
// exact in float and the tap is p + offset + 0.5.
bool halfwayAlongAxis(float along, float across, float c, float ref, int lo, int hi, int size,
                      std::int32_t& offset) {
    // One texel per pixel along the axis, and nothing across it: across·g is ±0, leaving c,
    // and along·f is f / size, a power of two apart.
    if (across != 0.0f || along * static_cast<float>(size) != 1.0f || !std::isfinite(c) ||
        !std::isfinite(ref)) {
        return false;
    }
    const int sizeBits = std::countr_zero(static_cast<unsigned>(size));
    // Counted in texels at the tap, f (pixels are whole), c · size and the half are whole
    // multiples of 2^grain, and so is every sum of them. Below 2^24 grains in size, each
    // value met on the way, in its own scale (f, f / size, c + f / size, the tap), is a float
    // exactly; below 2^20 texels the sampler takes the tap as it is.
    const int grain = std::min(
        {ref == 0.0f ? 0 : lowestBit(ref), 0, c == 0.0f ? 0 : lowestBit(c) + sizeBits, -1});
    const double fMost = std::max(std::fabs(lo - double(ref)), std::fabs(hi - double(ref)));
    const double tapMost = std::ldexp(std::fabs(double(c)), sizeBits) + fMost + 0.5;
    if (!(tapMost < std::ldexp(1.0, std::min(24 + grain, 20)))) {
        return false;
    }
    // So the tap is exactly p + (c · size − ref) − 0.5.
    const double shift = std::ldexp(double(c), sizeBits) - double(ref);
    if (shift != std::floor(shift)) {
        return false;
    }
    offset = static_cast<std::int32_t>(shift) - 1;
    return true;
}

} // namespace

void findHalfwayTaps(const PixelState& s, const BatchTriangle& tri, PrimitivePlanes& planes) {
    planes.halfway.stages = 0;
    planes.halfway.everyAttribute = false;
    const Plane& invW = planes.invW;
    const bool unitW = invW.a == 0.0f && invW.b == 0.0f && invW.c == 1.0f;
    if (planes.perspective && !unitW) {
        return; // coordinates are multiplied by w at every pixel
    }
    for (int stage = 0; stage < s.stageCount; ++stage) {
        const TextureView& t = s.stages[stage].texture;
        if (t.halfway == nullptr) {
            continue;
        }
        const Plane* u = nullptr;
        const Plane* v = nullptr;
        for (int a = 0; a < s.attributeCount; ++a) {
            const AttributeSlot& slot = s.attributes[a];
            if (slot.coordinate && slot.index == stage) {
                (slot.component == 0 ? u : v) = &planes.attribute[a];
            }
        }
        std::int32_t* offset = planes.halfway.offset[stage];
        if (u != nullptr && v != nullptr &&
            halfwayAlongAxis(u->a, u->b, u->c, planes.refX, tri.colMin, tri.colMax, t.width,
                             offset[0]) &&
            halfwayAlongAxis(v->b, v->a, v->c, planes.refY, tri.rowMin, tri.rowMax, t.height,
                             offset[1])) {
            planes.halfway.stages |= static_cast<std::uint8_t>(1 << stage);
        }
    }
    bool every = planes.halfway.stages != 0;
    for (int a = 0; a < s.attributeCount; ++a) {
        const AttributeSlot& slot = s.attributes[a];
        every = every && slot.coordinate && (planes.halfway.stages & (1 << slot.index)) != 0;
    }
    planes.halfway.everyAttribute = every;
}

void fillHalfwayRowsNarrow(const TextureView& t, const HalfwaySamples& table, int first, int last) {
    for (int r = first; r < last; ++r) {
        const int top = std::clamp(r - 1, 0, t.height - 1);
        const int bottom = std::clamp(r, 0, t.height - 1);
        for (int c = 0; c < table.stride; ++c) {
            const int left = std::clamp(c - 1, 0, t.width - 1);
            const int right = std::clamp(c, 0, t.width - 1);
            const std::uint32_t texels[4] = {texelAt(t, left, top), texelAt(t, right, top),
                                             texelAt(t, left, bottom), texelAt(t, right, bottom)};
            const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(r) * table.stride + c;
            // Red, green, blue and alpha are bytes 2, 1, 0 and 3 of a texel.
            constexpr int SHIFTS[4] = {16, 8, 0, 24};
            for (int ch = 0; ch < 4; ++ch) {
                if (table.channel[ch] == nullptr) {
                    continue;
                }
                unsigned sum = 0;
                for (const std::uint32_t texel : texels) {
                    sum += (texel >> SHIFTS[ch]) & 0xFF;
                }
                table.channel[ch][at] = halfwayValue(sum);
            }
        }
    }
}

std::vector<HalfwayTables::Tapped> HalfwayTables::tapped(const std::vector<DrawRecord>& draws) {
    // The textures the queue taps, and how often.
    std::vector<Tapped> tapped;
    if (!wideOperationsEnabled()) {
        return tapped;
    }
    for (const DrawRecord& draw : draws) {
        for (int i = 0; i < draw.state.stageCount && !draw.reference; ++i) {
            const StageSetup& stage = draw.state.stages[i];
            if (!tableable(stage, draw.state)) {
                continue;
            }
            // A texture the size of the viewport is usually read by a pass over it, whose
            // taps all fall halfway: a table pays even for one tap per pixel.
            const PixelState& s = draw.state;
            const int taps = stage.texture.width == s.clipX1 - s.clipX0 &&
                                     stage.texture.height == s.clipY1 - s.clipY0
                                 ? 2
                                 : 1;
            auto known = std::find_if(tapped.begin(), tapped.end(), [&](const Tapped& t) {
                return t.bits == stage.texture.bits;
            });
            if (known == tapped.end()) {
                tapped.push_back({stage.texture.bits, taps});
            } else {
                known->taps += taps;
            }
        }
    }
    return tapped;
}

bool HalfwayTables::wanted(const std::vector<DrawRecord>& draws) {
    const std::vector<Tapped> textures = tapped(draws);
    return std::any_of(textures.begin(), textures.end(),
                       [](const Tapped& t) { return t.worthATable(); });
}

unsigned HalfwayTables::plan(std::vector<DrawRecord>& draws) {
    jobs_.clear();
    filled_.store(0, std::memory_order_relaxed);
    std::size_t used = 0;
    for (const Tapped& t : tapped(draws)) {
        if (!t.worthATable()) {
            continue;
        }
        if (used == tables_.size()) {
            tables_.push_back(std::make_unique<Table>());
        }
        Table& table = *tables_[used++];
        bool found = false;
        for (DrawRecord& draw : draws) {
            for (int i = 0; i < draw.state.stageCount && !draw.reference; ++i) {
                StageSetup& stage = draw.state.stages[i];
                if (stage.texture.bits != t.bits || !tableable(stage, draw.state)) {
                    continue;
                }
                if (!found) {
                    found = true;
                    const TextureView& source = stage.texture;
                    table.source = source;
                    table.source.halfway = nullptr;
                    table.samples.stride = source.width + 1;
                    table.samples.rows = source.height + 1;
                    const std::size_t plane =
                        static_cast<std::size_t>(table.samples.stride) * table.samples.rows;
                    const int channels = source.format == D3DFMT_A8R8G8B8 ? 4 : 3;
                    table.storage.resize(plane * channels);
                    for (int ch = 0; ch < 4; ++ch) {
                        table.samples.channel[ch] =
                            ch < channels ? table.storage.data() + plane * ch : nullptr;
                    }
                }
                stage.texture.halfway = &table.samples;
            }
        }
        for (int row = 0; row < table.samples.rows; row += ROWS_PER_JOB) {
            jobs_.push_back({&table, row, std::min(row + ROWS_PER_JOB, table.samples.rows)});
        }
    }
    return static_cast<unsigned>(jobs_.size());
}

void HalfwayTables::fill(unsigned job) {
    const Job& j = jobs_[job];
    fillHalfwayRows(j.table->source, j.table->samples, j.first, j.last);
    filled_.fetch_add(1, std::memory_order_release);
}

void HalfwayTables::waitUntilFilled() const {
    // The jobs are handed out in order, so whoever waits here finds every fill job already
    // taken: at most the other threads' last ones are still running, for a few microseconds.
    // Only a thread that was itself put aside takes longer: then the core goes to others.
    for (unsigned watched = 0; filled_.load(std::memory_order_acquire) < jobs_.size(); ++watched) {
        if (watched < 1u << 10) {
            watchPause();
        } else {
            std::this_thread::yield();
        }
    }
}

} // namespace tessivane::platform::soft
