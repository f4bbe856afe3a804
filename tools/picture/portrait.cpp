// A cameo: a woman's head in profile facing left, black on white, with the hair, eye, ear
// and lips picked out in white lines so that it reads at a glance even at 256x256.
//
// Everything is plain geometry in pixel coordinates (x right, y down): closed outlines of
// cubic curves filled by the even-odd rule, and white strokes of a given width.
#include "picture/portrait.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tessivane::tools {

namespace {

struct Point {
    double x;
    double y;
};

using Path = std::vector<Point>;

// Starting at the current end of path, appends a cubic curve flattened into steps.
void curveTo(Path& path, Point c1, Point c2, Point end, int steps = 24) {
    const Point start = path.back();
    for (int i = 1; i <= steps; ++i) {
        const double t = static_cast<double>(i) / steps;
        const double s = 1.0 - t;
        const double a = s * s * s, b = 3 * s * s * t, c = 3 * s * t * t, d = t * t * t;
        path.push_back({a * start.x + b * c1.x + c * c2.x + d * end.x,
                        a * start.y + b * c1.y + c * c2.y + d * end.y});
    }
}

bool inside(const Path& outline, double x, double y) {
    bool in = false;
    for (std::size_t i = 0, j = outline.size() - 1; i < outline.size(); j = i++) {
        const Point& p = outline[i];
        const Point& q = outline[j];
        if ((p.y > y) != (q.y > y) && x < (q.x - p.x) * (y - p.y) / (q.y - p.y) + p.x) {
            in = !in;
        }
    }
    return in;
}

double distanceToSegment(Point p, Point a, Point b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double lengthSquared = dx * dx + dy * dy;
    double t = lengthSquared > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / lengthSquared : 0;
    t = std::clamp(t, 0.0, 1.0);
    const double ex = a.x + t * dx - p.x, ey = a.y + t * dy - p.y;
    return std::sqrt(ex * ex + ey * ey);
}

bool onStroke(const Path& stroke, double halfWidth, double x, double y) {
    for (std::size_t i = 1; i < stroke.size(); ++i) {
        if (distanceToSegment({x, y}, stroke[i - 1], stroke[i]) <= halfWidth) {
            return true;
        }
    }
    return false;
}

struct Stroke {
    Path path;
    double halfWidth;
};

Path silhouette() {
    Path p{{140, 12}};
    curveTo(p, {108, 12}, {86, 30}, {80, 62});      // crown to forehead
    curveTo(p, {77, 76}, {78, 86}, {76, 93});       // brow
    curveTo(p, {74, 98}, {72, 104}, {67, 111});     // bridge of the nose
    curveTo(p, {61, 119}, {55, 126}, {56, 131});    // nose tip
    curveTo(p, {58, 136}, {66, 136}, {72, 137});    // under the nose
    curveTo(p, {73, 140}, {69, 143}, {68, 147});    // upper lip
    curveTo(p, {69, 150}, {73, 151}, {75, 152});    // the lips meet
    curveTo(p, {71, 154}, {68, 157}, {70, 161});    // lower lip
    curveTo(p, {73, 164}, {77, 165}, {77, 168});    // under the lip
    curveTo(p, {73, 176}, {73, 184}, {84, 189});    // chin
    curveTo(p, {96, 194}, {108, 190}, {116, 194});  // jaw to throat
    curveTo(p, {118, 208}, {113, 226}, {101, 240}); // throat
    curveTo(p, {93, 248}, {82, 252}, {70, 256});    // chest
    p.push_back({240, 256});
    curveTo(p, {230, 236}, {206, 226}, {190, 214}); // shoulder to nape
    curveTo(p, {200, 206}, {208, 198}, {210, 186}); // under the knot of hair
    curveTo(p, {236, 186}, {250, 160}, {242, 134}); // the knot
    curveTo(p, {236, 112}, {222, 104}, {212, 104});
    curveTo(p, {212, 70}, {188, 14}, {140, 12}); // back of the head to the crown
    return p;
}

std::vector<Stroke> details() {
    std::vector<Stroke> strokes;
    auto stroke = [&](Point start, Point c1, Point c2, Point end, double width) {
        Path p{start};
        curveTo(p, c1, c2, end);
        strokes.push_back({std::move(p), width / 2});
    };
    // The hairline, sweeping from the forehead back over the temple to the nape.
    stroke({82, 60}, {104, 56}, {128, 74}, {140, 102}, 2.4);
    stroke({140, 102}, {150, 92}, {178, 98}, {180, 126}, 2.4); // around the ear
    stroke({180, 126}, {181, 146}, {184, 162}, {194, 174}, 2.4);
    // Strands drawn back from the brow towards the knot.
    for (int i = 0; i < 8; ++i) {
        const double k = i;
        stroke({92 + 5 * k, 46 - 3.5 * k}, {128 + 4 * k, 34 - 2 * k}, {176 + 2 * k, 52 + 1 * k},
               {212 + 1 * k, 108 + 4 * k}, 1.5);
    }
    for (int i = 0; i < 4; ++i) {
        const double k = i;
        stroke({186 + 5 * k, 122 + 8 * k}, {196 + 3 * k, 124 + 8 * k}, {204 + 2 * k, 126 + 7 * k},
               {212, 130 + 7 * k}, 1.3);
    }
    // The knot: a spiral of hair.
    stroke({224, 120}, {246, 124}, {246, 168}, {224, 176}, 1.8);
    stroke({224, 176}, {206, 180}, {204, 146}, {222, 140}, 1.8);
    stroke({222, 140}, {236, 138}, {236, 160}, {226, 162}, 1.8);
    // Eye: the upper lid, the lash line and the brow above it.
    stroke({84, 104}, {88, 100}, {94, 99}, {100, 102}, 2.4);
    stroke({85, 107}, {89, 109}, {93, 109}, {98, 106}, 1.3);
    stroke({80, 92}, {88, 86}, {99, 86}, {108, 91}, 2.0);
    // Ear.
    stroke({148, 112}, {160, 104}, {170, 122}, {162, 138}, 2.2);
    stroke({162, 138}, {158, 146}, {150, 146}, {148, 140}, 2.2);
    // Nostril and the line between the lips.
    stroke({66, 131}, {69, 130}, {71, 132}, {72, 134}, 1.6);
    stroke({74, 152}, {79, 152}, {84, 151}, {88, 149}, 1.6);
    // The line of the jaw and a necklace.
    stroke({146, 158}, {140, 174}, {130, 186}, {118, 193}, 1.6);
    stroke({114, 222}, {132, 232}, {160, 232}, {182, 220}, 2.4);
    return strokes;
}

} // namespace

std::array<std::uint8_t, PICTURE_BYTES> drawPortrait() {
    const Path outline = silhouette();
    const std::vector<Stroke> strokes = details();
    std::array<std::uint8_t, PICTURE_BYTES> stored{};
    for (int y = 0; y < PICTURE_SIZE; ++y) {
        // Stored bottom row first.
        std::uint8_t* row = stored.data() + (PICTURE_SIZE - 1 - y) * (PICTURE_SIZE / 8);
        for (int x = 0; x < PICTURE_SIZE; ++x) {
            const double cx = x + 0.5, cy = y + 0.5;
            bool white = !inside(outline, cx, cy);
            for (const Stroke& s : strokes) {
                white = white || onStroke(s.path, s.halfWidth, cx, cy);
            }
            if (white) {
                row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
            }
        }
    }
    return stored;
}

} // namespace tessivane::tools
