#include "platform/soft/halfway_samples.h"

#include "platform/soft/pixel_wide.h"
#include "platform/soft/raster.h"

#include <algorithm>
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

} // namespace

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

unsigned HalfwayTables::plan(std::vector<DrawRecord>& draws) {
    jobs_.clear();
    filled_.store(0, std::memory_order_relaxed);
    if (!wideOperationsEnabled()) {
        return 0;
    }
    // The textures the queue taps, and how often.
    struct Tapped {
        const std::uint8_t* bits;
        int taps;
    };
    std::vector<Tapped> tapped;
    for (const DrawRecord& draw : draws) {
        for (int i = 0; i < draw.state.stageCount && !draw.reference; ++i) {
            const StageSetup& stage = draw.state.stages[i];
            if (!tableable(stage, draw.state)) {
                continue;
            }
            auto known = std::find_if(tapped.begin(), tapped.end(), [&](const Tapped& t) {
                return t.bits == stage.texture.bits;
            });
            if (known == tapped.end()) {
                tapped.push_back({stage.texture.bits, 1});
            } else {
                ++known->taps;
            }
        }
    }
    std::size_t used = 0;
    for (const Tapped& t : tapped) {
        if (t.taps < 2) {
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
    while (filled_.load(std::memory_order_acquire) < jobs_.size()) {
        std::this_thread::yield();
    }
}

} // namespace tessivane::platform::soft
