// Writes the fuzzers' seeds: make_fuzz_seeds DIRECTORY
//
// DIRECTORY/module: small songs that between them reach every part of the loader: both cell
// forms, key offs, empty and missing patterns, instruments with and without samples, 8- and
// 16-bit data, each loop mode, envelopes with sustain and loop.
// DIRECTORY/shader: the show's shader streams (a stage byte, then the tokens), and a few
// broken ones that stop at different checks of the decoder.
#include "music/module.h"
#include "music/module_builder.h"
#include "music/module_writer.h"
#include "shaders/show_shaders.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

using namespace tessivane::music;

namespace {

bool save(const std::string& path, Module* module) {
    std::vector<std::uint8_t> bytes;
    std::string error;
    const bool written = module != nullptr && writeModule(*module, bytes, error, "seed");
    freeModule(module);
    std::FILE* file = written ? std::fopen(path.c_str(), "wb") : nullptr;
    if (file == nullptr) {
        std::fprintf(stderr, "make_fuzz_seeds: cannot write %s %s\n", path.c_str(), error.c_str());
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

Module* smallest() {
    return createModule(1, 1, 1, 0);
}

Module* cells() {
    Module* m = createModule(4, 2, 16, 1);
    setOrders(*m, {0, 1, 3, 1});
    m->restartPosition = 1;
    for (int row = 0; row < 16; ++row) {
        cellAt(*m, 0, row, row % 4) = {static_cast<std::uint8_t>(row * 6 + 1), 1,
                                       static_cast<std::uint8_t>(0x10 + row * 4),
                                       static_cast<std::uint8_t>(row), 0x21};
    }
    cellAt(*m, 1, 4, 2) = {NOTE_KEY_OFF, 0, 0, 0, 0};
    cellAt(*m, 1, 8, 1) = {0, 1, 0, 0, 0};
    cellAt(*m, 1, 9, 3) = {0, 0, 0, 0x0F, 3};
    addSample(m->instruments[0], 16)->data[3] = 0x1234;
    return m;
}

Module* instruments() {
    Module* m = createModule(2, 1, 4, 3);
    cellAt(*m, 0, 0, 0) = {49, 1, 0, 0, 0};
    cellAt(*m, 0, 1, 1) = {61, 3, 0x40, 0, 0};
    Instrument& a = m->instruments[0];
    Sample* eight = addSample(a, 40);
    eight->bits = 8;
    for (int i = 0; i < 40; ++i) {
        eight->data[i] = static_cast<std::int16_t>((i * 37 % 256 - 128) * 256);
    }
    eight->loopMode = LOOP_FORWARD;
    eight->loopStart = 8;
    eight->loopLength = 24;
    Sample* sixteen = addSample(a, 30);
    for (int i = 0; i < 30; ++i) {
        sixteen->data[i] = static_cast<std::int16_t>(i * 2000 - 30000);
    }
    sixteen->loopMode = LOOP_PING_PONG;
    sixteen->loopStart = 10;
    sixteen->loopLength = 20;
    sixteen->finetune = -16;
    sixteen->relativeNote = 7;
    for (int n = 0; n < NOTE_COUNT; ++n) {
        a.noteSample[n] = static_cast<std::uint8_t>(n / 48);
    }
    a.volumeEnvelope[0] = {0, 64};
    a.volumeEnvelope[1] = {10, 32};
    a.volumeEnvelope[2] = {20, 0};
    a.volumePointCount = 3;
    a.volumeSustain = 1;
    a.volumeLoopStart = 0;
    a.volumeLoopEnd = 1;
    a.volumeType = ENVELOPE_ON | ENVELOPE_SUSTAIN | ENVELOPE_LOOP;
    a.panningEnvelope[0] = {0, 0};
    a.panningEnvelope[1] = {16, 64};
    a.panningPointCount = 2;
    a.panningType = ENVELOPE_ON;
    a.fadeout = 512;
    a.vibratoType = 3;
    a.vibratoSweep = 4;
    a.vibratoDepth = 6;
    a.vibratoRate = 40;
    // Instrument 2 has no samples; instrument 3 has an empty one and a short one.
    addSample(m->instruments[2], 0);
    addSample(m->instruments[2], 3)->data[1] = -7;
    return m;
}

constexpr std::uint8_t VERTEX = 0;
constexpr std::uint8_t PIXEL = 1;

bool saveShader(const std::string& path, std::uint8_t stage,
                std::span<const std::uint32_t> tokens) {
    std::vector<std::uint8_t> bytes{stage};
    for (const std::uint32_t token : tokens) {
        for (int k = 0; k < 4; ++k) {
            bytes.push_back(static_cast<std::uint8_t>(token >> (8 * k)));
        }
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "make_fuzz_seeds: cannot write %s\n", path.c_str());
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

bool shaders(const std::string& dir) {
    using namespace tessivane::shaders;
    bool ok = true;
    for (int i = 0; i < 3; ++i) {
        ok = ok && saveShader(dir + "/vertex" + std::to_string(i) + ".bin", VERTEX,
                              metaballVertexShader(i));
        ok = ok &&
             saveShader(dir + "/pixel" + std::to_string(i) + ".bin", PIXEL, metaballPixelShader(i));
    }
    ok = ok && saveShader(dir + "/tube.bin", VERTEX, tubeVertexShader());
    // Broken: no end token; a pixel stream handed to the vertex decoder; a comment longer
    // than the stream; a definition cut short.
    const std::span<const std::uint32_t> tube = tubeVertexShader();
    ok = ok && saveShader(dir + "/unended.bin", VERTEX, tube.first(tube.size() - 1));
    ok = ok && saveShader(dir + "/wrong_stage.bin", VERTEX, metaballPixelShader(0));
    const std::uint32_t comment[] = {0xFFFE0101, 0x7FFEFFFE, 0, 0x0000FFFF};
    ok = ok && saveShader(dir + "/long_comment.bin", VERTEX, comment);
    const std::uint32_t definition[] = {0xFFFF0101, 81, 0xA00F0001, 0x3F800000};
    ok = ok && saveShader(dir + "/short_definition.bin", PIXEL, definition);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds DIRECTORY\n");
        return 2;
    }
    const std::string dir = argv[1];
    const std::string modules = dir + "/module";
    std::error_code error;
    std::filesystem::create_directories(modules, error);
    std::filesystem::create_directories(dir + "/shader", error);
    const bool ok = save(modules + "/smallest.xm", smallest()) &&
                    save(modules + "/cells.xm", cells()) &&
                    save(modules + "/instruments.xm", instruments()) && shaders(dir + "/shader");
    return ok ? 0 : 1;
}
