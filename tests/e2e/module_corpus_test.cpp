// tessivane-xm on modules that other people wrote with other trackers: the two kept in
// e2e/modules, and those of Debian's njam-data when it is installed (scripts/install-deps
// --test installs it). Each loads, measures the length its song structure gives, and renders
// from start to end into sound that is not silence.
#include "spawn.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace tessivane::e2e {
namespace {

namespace fs = std::filesystem;

// Lengths in seconds. dali.xm and satisfy.xm play every order's 64 rows at speed 6 and
// 125 BPM, 0.12 s a row: 11 and 29 orders of 7.68 s. The others break patterns early and
// change speed; their figures are this player's, kept to catch a change.
const std::map<std::string, double> KNOWN_LENGTHS = {
    {"dali.xm", 84.48},
    {"satisfy.xm", 222.72},
    {"aster2_sw.xm", 95.92},
};

std::vector<fs::path> corpus() {
    std::vector<fs::path> files;
    for (const char* dir : {TESSIVANE_TEST_MODULES, "/usr/share/games/njam/data"}) {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(dir, error)) {
            if (entry.path().extension() == ".xm") {
                files.push_back(entry.path());
            }
        }
    }
    return files;
}

double infoLength(const std::string& out) {
    const std::size_t at = out.find("\nlength: ");
    return at == std::string::npos ? -1.0 : std::atof(out.c_str() + at + 9);
}

// The largest magnitude of the 16-bit samples after a WAV file's 44-byte header.
int peakOf(const std::string& wav, std::size_t& dataBytes) {
    std::ifstream in(wav, std::ios::binary);
    const std::vector<char> b{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    dataBytes = b.size() >= 44 ? b.size() - 44 : 0;
    int peak = 0;
    for (std::size_t i = 44; i + 1 < b.size(); i += 2) {
        const auto value = static_cast<std::int16_t>(static_cast<std::uint8_t>(b[i]) |
                                                     static_cast<std::uint8_t>(b[i + 1]) << 8);
        peak = std::max(peak, std::abs(static_cast<int>(value)));
    }
    return peak;
}

TEST(ModuleCorpus, EveryModuleLoadsMeasuresAndRendersWholly) {
    const std::vector<fs::path> files = corpus();
    ASSERT_GE(files.size(), 2u);
    const std::string wav = temporaryPath("corpus.wav");
    for (const fs::path& file : files) {
        const std::string name = file.filename().string();
        const Outcome info = spawn(TESSIVANE_XM_PLAYER, {file.string(), "--info"});
        ASSERT_EQ(info.exitCode, 0) << name << ": " << info.err;
        const double seconds = infoLength(info.out);
        // A real song lasts from a few seconds to a quarter of an hour, and comes back to
        // its start or restart.
        EXPECT_GT(seconds, 5.0) << name;
        EXPECT_LT(seconds, 900.0) << name;
        EXPECT_EQ(info.out.find("more than"), std::string::npos) << name << ": " << info.out;
        const auto known = KNOWN_LENGTHS.find(name);
        if (known != KNOWN_LENGTHS.end()) {
            EXPECT_DOUBLE_EQ(seconds, known->second) << name;
        }

        const Outcome render = spawn(TESSIVANE_XM_PLAYER, {file.string(), "--wav", wav});
        ASSERT_EQ(render.exitCode, 0) << name << ": " << render.err;
        std::size_t dataBytes = 0;
        const int peak = peakOf(wav, dataBytes);
        // The whole song, to the hundredth of a second --info rounds to.
        EXPECT_NEAR(static_cast<double>(dataBytes) / (44100 * 4), seconds, 0.006) << name;
        EXPECT_GT(peak, 4000) << name << " renders (nearly) silence";
        std::remove(wav.c_str());
    }
}

} // namespace
} // namespace tessivane::e2e
