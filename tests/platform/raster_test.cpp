// Which pixels a primitive covers, and where its depth lands: pixel centres, the fill rule,
// the viewport transform, clipping, points and the 16-bit depth buffer.
#include "device_test_support.h"
#include "platform/soft/raster.h"

#include <algorithm>
#include <cmath>

namespace tessivane::platform::testing {
namespace {

constexpr D3DCOLOR BLACK = 0xFF000000;
constexpr D3DCOLOR WHITE = 0xFFFFFFFF;

struct ColorVertex { // D3DFVF_XYZ | D3DFVF_DIFFUSE
    float x, y, z;
    D3DCOLOR color;
};
constexpr DWORD COLOR_FVF = D3DFVF_XYZ | D3DFVF_DIFFUSE;

class Raster : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        create(2);
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, BLACK, 1.0f, 0);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
        device->BeginScene();
    }

    // Pixels of the back buffer that are not black.
    std::vector<std::pair<int, int>> litPixels() const {
        std::vector<std::pair<int, int>> lit;
        const std::vector<std::uint32_t> f = frame();
        for (int y = 0; y < 480; ++y) {
            for (int x = 0; x < 640; ++x) {
                if (f[y * 640 + x] != BLACK) {
                    lit.emplace_back(x, y);
                }
            }
        }
        return lit;
    }

    // True when exactly the pixels x0 <= x < x1, y0 <= y < y1 are lit.
    bool litExactly(int x0, int y0, int x1, int y1) const {
        const std::vector<std::uint32_t> f = frame();
        for (int y = 0; y < 480; ++y) {
            for (int x = 0; x < 640; ++x) {
                const bool inside = x >= x0 && x < x1 && y >= y0 && y < y1;
                if ((f[y * 640 + x] != BLACK) != inside) {
                    ADD_FAILURE() << "pixel (" << x << ", " << y << ") is "
                                  << (inside ? "not lit" : "lit");
                    return false;
                }
            }
        }
        return true;
    }

    // Draws add their colour onto the target, with no depth test.
    void addEachDraw() {
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
        device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    }

    // Every pixel x0 <= x < x1, y0 <= y < y1 got exactly one 0xFF010101 contribution, and no
    // other pixel any.
    void expectOneContribution(int x0, int y0, int x1, int y1) const {
        const std::vector<std::uint32_t> f = frame();
        for (int y = 0; y < 480; ++y) {
            for (int x = 0; x < 640; ++x) {
                const bool inside = x >= x0 && x < x1 && y >= y0 && y < y1;
                ASSERT_EQ(f[y * 640 + x], inside ? 0xFF010101u : BLACK) << x << ", " << y;
            }
        }
    }

    void drawTransformed(const ColorVertex* v, UINT triangles, D3DPRIMITIVETYPE type) {
        device->SetFVF(COLOR_FVF);
        EXPECT_EQ(device->DrawPrimitiveUP(type, triangles, v, sizeof(ColorVertex)), D3D_OK);
    }
};

TEST_F(Raster, QuadOnIntegerCornersCoversTheHalfOpenRectangle) {
    drawColorQuad(10, 20, 14, 24, WHITE);
    EXPECT_TRUE(litExactly(10, 20, 14, 24));
}

TEST_F(Raster, QuadOnHalfPixelCornersCoversTheCentresInside) {
    // Centres at 11, 12, 13 lie inside 10.5..13.5; 10 lies outside. On y, 20.5..23.25.
    drawColorQuad(10.5f, 20.5f, 13.5f, 23.25f, WHITE);
    EXPECT_TRUE(litExactly(11, 21, 14, 24));
}

TEST_F(Raster, TrianglesSharingEdgesCoverEveryPixelOnce) {
    // A mesh of jittered triangles tiling 100..300 x 100..260: with additive blending, every
    // pixel inside must receive exactly one contribution.
    addEachDraw();
    constexpr int N = 8;
    float gx[N + 1][N + 1], gy[N + 1][N + 1];
    std::uint32_t seed = 7;
    auto jitter = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<float>((seed >> 8) % 1000) / 1000.0f * 9.0f - 4.5f;
    };
    for (int j = 0; j <= N; ++j) {
        for (int i = 0; i <= N; ++i) {
            const bool edgeX = i == 0 || i == N;
            const bool edgeY = j == 0 || j == N;
            gx[j][i] = 100.0f + 25.0f * i + (edgeX ? 0.0f : jitter());
            gy[j][i] = 100.0f + 20.0f * j + (edgeY ? 0.0f : jitter());
        }
    }
    std::vector<ColorScreenVertex> mesh;
    auto vertex = [&](int i, int j) {
        mesh.push_back({gx[j][i], gy[j][i], 0.5f, 1.0f, 0xFF010101});
    };
    for (int j = 0; j < N; ++j) {
        for (int i = 0; i < N; ++i) {
            // Alternate the diagonal, and the winding, from cell to cell.
            if ((i + j) & 1) {
                vertex(i, j), vertex(i + 1, j), vertex(i + 1, j + 1);
                vertex(i, j), vertex(i, j + 1), vertex(i + 1, j + 1);
            } else {
                vertex(i, j), vertex(i + 1, j), vertex(i, j + 1);
                vertex(i + 1, j + 1), vertex(i, j + 1), vertex(i + 1, j);
            }
        }
    }
    device->SetFVF(COLOR_SCREEN_FVF);
    device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(mesh.size() / 3), mesh.data(),
                            sizeof(ColorScreenVertex));
    expectOneContribution(100, 100, 300, 260);
}

TEST_F(Raster, PixelSizedTrianglesOnCentresCoverEveryPixelOnce) {
    // Triangles of half a pixel, every corner on a pixel centre: each centre lies on edges,
    // and only the fill rule decides which triangle takes it, whichever way a triangle runs.
    addEachDraw();
    std::vector<ColorScreenVertex> mesh;
    auto vertex = [&](int x, int y) {
        mesh.push_back({float(x), float(y), 0.5f, 1.0f, 0xFF010101});
    };
    for (int y = 100; y < 130; ++y) {
        for (int x = 100; x < 140; ++x) {
            if ((x + y) & 1) {
                vertex(x, y), vertex(x + 1, y), vertex(x + 1, y + 1);
                vertex(x, y), vertex(x, y + 1), vertex(x + 1, y + 1);
            } else {
                vertex(x, y), vertex(x + 1, y), vertex(x, y + 1);
                vertex(x + 1, y + 1), vertex(x, y + 1), vertex(x + 1, y);
            }
        }
    }
    device->SetFVF(COLOR_SCREEN_FVF);
    device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(mesh.size() / 3), mesh.data(),
                            sizeof(ColorScreenVertex));
    expectOneContribution(100, 100, 140, 130);
}

TEST_F(Raster, SliversAcrossStripsCoverEveryPixelOnce) {
    // Cells one pixel wide and a few tall, each cut along a diagonal into two triangles with
    // a handful of pixel centres within their bounds, stacked so that many cross from one
    // strip into the next (at row 128, 64, 32 or 16, however high the strips): every pixel
    // gets exactly one contribution.
    addEachDraw();
    std::vector<ColorScreenVertex> mesh;
    auto vertex = [&](float x, float y) { mesh.push_back({x, y, 0.5f, 1.0f, 0xFF010101}); };
    for (int x = 100; x < 140; ++x) {
        const int heights[] = {3, 8, 5, 2, 7, 4, 6, 1};
        float top = 100.5f;
        for (int i = 0; top < 160.5f; ++i) {
            const float bottom = std::min(top + float(heights[(i + x) % 8]), 160.5f);
            const float left = float(x) - 0.5f, right = float(x) + 0.5f;
            vertex(left, top), vertex(right, top), vertex(right, bottom);
            vertex(left, top), vertex(left, bottom), vertex(right, bottom);
            top = bottom;
        }
    }
    device->SetFVF(COLOR_SCREEN_FVF);
    device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(mesh.size() / 3), mesh.data(),
                            sizeof(ColorScreenVertex));
    expectOneContribution(100, 101, 140, 161);
}

TEST_F(Raster, WideTrianglesCoverTheCentresInsideEveryEdge) {
    // Triangles too wide for the narrow paths, of every shape and either winding, some steep
    // and some reaching past the target's sides, their corners on whole 256ths of a pixel so
    // that they are snapped where they stand (half of them on whole and half pixels). The rows of
    // such a triangle are stepped from one to the next; each pixel must be lit by the triangles
    // whose edge functions hold at its centre, worked out here centre by centre.
    addEachDraw();
    std::uint32_t seed = 99;
    const auto next = [&seed](int range) {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int>((seed >> 8) % static_cast<std::uint32_t>(range));
    };
    std::vector<ColorScreenVertex> mesh;
    std::vector<int> count(640 * 480, 0);
    for (int t = 0; t < 60; ++t) {
        std::int32_t x[3], y[3];
        for (int i = 0; i < 3; ++i) {
            // Steep ones: corners spread over all rows but only a few dozen columns.
            const int columns = t % 3 == 0 ? 40 : 700;
            const int left = t % 3 == 0 ? next(600) : -30;
            // Every other triangle on whole and half pixels, whose edges run through centres.
            const int within = t % 2 == 0 ? next(256) : 128 * next(2);
            x[i] = (left + next(columns)) * 256 + within;
            y[i] = (next(540) - 30) * 256 + (t % 2 == 0 ? next(256) : 128 * next(2));
            mesh.push_back({static_cast<float>(x[i]) / 256.0f, static_cast<float>(y[i]) / 256.0f,
                            0.5f, 1.0f, 0xFF010101});
        }
        const std::int64_t area =
            std::int64_t(x[1] - x[0]) * (y[2] - y[0]) - std::int64_t(x[2] - x[0]) * (y[1] - y[0]);
        if (area == 0) {
            continue;
        }
        if (area < 0) { // the other winding: the same triangle, its edges the other way round
            std::swap(x[1], x[2]);
            std::swap(y[1], y[2]);
        }
        const soft::Edge edges[3] = {soft::makeEdge(x[0], y[0], x[1], y[1]),
                                     soft::makeEdge(x[1], y[1], x[2], y[2]),
                                     soft::makeEdge(x[2], y[2], x[0], y[0])};
        for (int py = 0; py < 480; ++py) {
            for (int px = 0; px < 640; ++px) {
                bool inside = true;
                for (const soft::Edge& e : edges) {
                    inside = inside && soft::edgeValue(e, px, py) >= 0;
                }
                count[py * 640 + px] += inside ? 1 : 0;
            }
        }
    }
    device->SetFVF(COLOR_SCREEN_FVF);
    device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(mesh.size() / 3), mesh.data(),
                            sizeof(ColorScreenVertex));
    const std::vector<std::uint32_t> f = frame();
    int wrong = 0, lit = 0;
    for (int i = 0; i < 640 * 480; ++i) {
        lit += count[i] > 0;
        const std::uint32_t expected =
            0xFF000000u | static_cast<std::uint32_t>(count[i]) * 0x010101u;
        if (f[i] != expected && wrong++ < 5) {
            ADD_FAILURE() << "pixel (" << i % 640 << ", " << i / 640 << ") is " << std::hex << f[i]
                          << ", not " << expected;
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(lit, 100000);
}

TEST(Strips, AreAsHighAsLeavesEachThreadTwoOfTheTarget) {
    using soft::stripRowsFor;
    EXPECT_EQ(stripRowsFor(480, 1), 128);
    EXPECT_EQ(stripRowsFor(480, 2), 128); // four strips, the last of 96 rows
    EXPECT_EQ(stripRowsFor(480, 3), 64);
    EXPECT_EQ(stripRowsFor(1080, 8), 64);
    EXPECT_EQ(stripRowsFor(480, 16), 16); // no fewer rows, however many threads
    EXPECT_EQ(stripRowsFor(100, 1), 64);
    EXPECT_EQ(stripRowsFor(8, 1), 16);
}

TEST_F(Raster, NeedlesFromFarOutsideCoverTheCentresTheirEdgesHold) {
    // Thin triangles reaching in from hundreds of pixels beyond each side of the target, cut
    // by it to a handful of pixel centres: their coverage is worked out before they are
    // binned, and must not lose the far corners' precision. The reference path finds the
    // same pixels edge by edge.
    addEachDraw();
    std::vector<ColorScreenVertex> mesh;
    auto needle = [&](float x0, float y0, float x1, float y1, float thickness) {
        const float length = std::hypot(x1 - x0, y1 - y0);
        const float nx = -(y1 - y0) / length * thickness, ny = (x1 - x0) / length * thickness;
        mesh.push_back({x0, y0, 0.5f, 1.0f, 0xFF010101});
        mesh.push_back({x1, y1, 0.5f, 1.0f, 0xFF010101});
        mesh.push_back({x1 + nx, y1 + ny, 0.5f, 1.0f, 0xFF010101});
    };
    for (int i = 0; i < 40; ++i) {
        const float t = float(i) * 0.37f;
        needle(-700.0f + 13.0f * t, 20.0f + 11.0f * t, 3.3f + 0.1f * t, 21.7f + 11.0f * t, 1.3f);
        needle(1300.0f - 9.0f * t, 30.0f + 10.0f * t, 636.6f - 0.1f * t, 31.2f + 10.0f * t, 1.1f);
        needle(100.0f + 13.0f * t, -900.0f, 101.4f + 13.0f * t, 2.6f, 1.2f);
        needle(120.0f + 12.0f * t, 1500.0f, 121.7f + 12.0f * t, 477.3f, 1.4f);
    }
    auto draw = [&](bool reference) {
        soft()->useReferencePixelPath(reference);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, BLACK, 1.0f, 0);
        device->SetFVF(COLOR_SCREEN_FVF);
        device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(mesh.size() / 3), mesh.data(),
                                sizeof(ColorScreenVertex));
        return frame();
    };
    const std::vector<std::uint32_t> fast = draw(false);
    EXPECT_GT(std::count_if(fast.begin(), fast.end(), [](std::uint32_t p) { return p != BLACK; }),
              100);
    EXPECT_TRUE(draw(true) == fast);
}

TEST_F(Raster, StripsOfSmallTrianglesDrawLikeTheReferencePath) {
    // Strips of 1 to 20 triangles a few pixels across, zigzagging every way, some on whole
    // pixels, and strips of
    // needles reaching in from hundreds of pixels beyond the target's edges, with each
    // culling mode. Triangles of strips are set up several at a time; the reference path
    // takes them one by one.
    addEachDraw();
    std::uint32_t seed = 11;
    auto unit = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return float(seed >> 8) / float(1u << 24);
    };
    std::vector<std::vector<ColorVertex>> strips;
    auto vertex = [](float x, float y, int shade) {
        return ColorVertex{x / 320.0f - 1.0f, 1.0f - y / 240.0f, 0.5f,
                           0xFF000000u | 0x00010203u * static_cast<D3DCOLOR>(1 + shade % 5)};
    };
    for (int s = 0; s < 150; ++s) {
        const int triangles = 1 + s % 20;
        std::vector<ColorVertex> strip;
        if (s % 4 == 3 && (s / 4) % 5 == 4) {
            // Wide wedges from far beyond the top left corner, narrowing to a point a pixel or
            // two into the target: their far edge lies hundreds of pixels from the few pixel
            // centres they cover.
            for (int v = 0; v < triangles + 2; ++v) {
                const float far = -100.0f - unit() * 300.0f;
                strip.push_back(v % 4 == 0 ? vertex(-700.0f, far, v)
                                : v % 4 == 2
                                    ? vertex(far, -700.0f, v)
                                    : vertex(1.0f + unit() * 2.0f, 1.0f + unit() * 2.0f, v));
            }
        } else if (s % 4 == 3) {
            // Needles from far outside, each crossing one edge by a few pixels.
            const int edge = (s / 4) % 5;
            const float along = 20.0f + unit() * 400.0f;
            for (int v = 0; v < triangles + 2; ++v) {
                const float far = v % 2 == 0 ? -650.0f : 1.0f + unit() * 5.0f;
                const float across = along + 0.7f * float(v) + unit() * 0.5f;
                const float inward[4][2] = {
                    {far, across}, {640.0f - far, across}, {across, far}, {across, 480.0f - far}};
                strip.push_back(vertex(inward[edge][0], inward[edge][1], v));
            }
        } else {
            float x = 20.0f + unit() * 600.0f, y = 20.0f + unit() * 440.0f;
            const float stepX = (unit() - 0.5f) * 8.0f, stepY = (unit() - 0.5f) * 8.0f;
            // Some on whole pixels, with edges through pixel centres.
            const bool whole = s % 4 == 2;
            for (int v = 0; v < triangles + 2; ++v) {
                const float side = (v % 2 == 0 ? 1.0f : -1.0f) * (0.5f + unit() * 3.0f);
                const float px = x - stepY * side * 0.3f, py = y + stepX * side * 0.3f;
                strip.push_back(whole ? vertex(std::round(px), std::round(py), v)
                                      : vertex(px, py, v));
                x += stepX * 0.5f + (unit() - 0.5f);
                y += stepY * 0.5f + (unit() - 0.5f);
            }
        }
        strips.push_back(strip);
    }
    auto draw = [&](bool reference, DWORD cull) {
        soft()->useReferencePixelPath(reference);
        device->SetRenderState(D3DRS_CULLMODE, cull);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, BLACK, 1.0f, 0);
        for (const std::vector<ColorVertex>& strip : strips) {
            drawTransformed(strip.data(), static_cast<UINT>(strip.size() - 2), D3DPT_TRIANGLESTRIP);
        }
        return frame();
    };
    for (const DWORD cull : {D3DCULL_NONE, D3DCULL_CW, D3DCULL_CCW}) {
        const std::vector<std::uint32_t> fast = draw(false, cull);
        EXPECT_GT(
            std::count_if(fast.begin(), fast.end(), [](std::uint32_t p) { return p != BLACK; }),
            200);
        EXPECT_TRUE(draw(true, cull) == fast) << "cull mode " << cull;
    }
}

TEST_F(Raster, StripsInPerspectiveDrawLikeTheReferencePath) {
    // Textured strips of 1 to 21 triangles under a perspective projection, most of them small
    // and all in view, some reaching behind the eye and clipped, with and without a depth
    // test. Strips in view are set up eight triangles at a time, planes and all; the
    // reference path takes each triangle alone.
    std::uint32_t seed = 17;
    auto unit = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return float(seed >> 8) / float(1u << 24);
    };
    std::vector<std::uint32_t> texels(64);
    for (std::uint32_t& texel : texels) {
        texel = 0xFF000000u | (static_cast<std::uint32_t>(unit() * 16777216.0f) & 0x3F3F3F);
    }
    IDirect3DTexture9* t = texture(8, 8, D3DFMT_X8R8G8B8, texels);
    device->SetTexture(0, t);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    const D3DMATRIX projection = wFriendlyProjection();
    device->SetTransform(D3DTS_PROJECTION, &projection);
    std::vector<std::vector<QuadVertex>> strips;
    for (int s = 0; s < 120; ++s) {
        const int vertices = 3 + s % 21;
        const bool behind = s % 6 == 5; // runs from in front of the eye to behind it
        const float size = s % 10 == 9 ? 0.6f : 0.02f + unit() * 0.05f;
        float x = unit() * 2.0f - 1.0f, y = unit() * 2.0f - 1.0f, z = 2.0f + unit() * 6.0f;
        const float stepX = (unit() - 0.5f) * size, stepY = (unit() - 0.5f) * size;
        const float stepZ = behind ? -0.6f : (unit() - 0.5f) * 0.3f;
        std::vector<QuadVertex> strip;
        for (int v = 0; v < vertices; ++v) {
            const float side = (v % 2 == 0 ? 1.0f : -1.0f) * size * (0.5f + unit());
            // Some strips keep u at 0 all along, as coordinates a program leaves unwritten.
            const float u = s % 7 == 3 ? 0.0f : unit() * 2.0f;
            strip.push_back({(x - stepY * side) * z, (y + stepX * side) * z, z, u, unit() * 2.0f});
            x += stepX;
            y += stepY;
            z += stepZ;
        }
        strips.push_back(strip);
    }
    auto draw = [&](bool reference) {
        soft()->useReferencePixelPath(reference);
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, BLACK, 1.0f, 0);
        device->SetFVF(QUAD_FVF);
        for (const std::vector<QuadVertex>& strip : strips) {
            EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP,
                                              static_cast<UINT>(strip.size() - 2), strip.data(),
                                              sizeof strip[0]),
                      D3D_OK);
        }
        return frame();
    };
    for (const bool depth : {false, true}) {
        if (depth) {
            device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
            device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
            device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
            device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
        } else {
            addEachDraw();
        }
        const std::vector<std::uint32_t> fast = draw(false);
        EXPECT_GT(
            std::count_if(fast.begin(), fast.end(), [](std::uint32_t p) { return p != BLACK; }),
            2000);
        EXPECT_TRUE(draw(true) == fast) << (depth ? "with" : "without") << " a depth test";
    }
    device->SetTexture(0, nullptr);
    t->Release();
}

TEST_F(Raster, SmallTrianglesWithAndWithoutZeroCoordinatesShadeLikeTheReferencePath) {
    // Small textured triangles, some with both coordinates 0 at every corner, others not: the
    // two mixed, then a long run of the first, and so on, so that the pixels shaded together
    // are now of both kinds and now all of the first. Every pixel samples at its own
    // triangle's coordinates.
    struct TexturedVertex {
        float x, y, z, rhw, u, v;
    };
    std::uint32_t seed = 5;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed;
    };
    std::vector<std::uint32_t> texels(16);
    for (std::uint32_t& texel : texels) {
        texel = 0xFF000000u | (next() >> 8 & 0x3F3F3F);
    }
    IDirect3DTexture9* t = texture(4, 4, D3DFMT_X8R8G8B8, texels);
    device->SetTexture(0, t);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    addEachDraw();
    std::vector<TexturedVertex> mesh;
    auto unit = [&next] { return float(next() >> 8) / float(1u << 24); };
    for (int i = 0; i < 1600; ++i) {
        const bool zero = (i / 400) % 2 == 1 || i % 5 == 0;
        // Now and then a wide triangle, shaded on its own: the small one after it starts
        // the next lot of pixels shaded together.
        const float size = i % 50 == 49 ? 40.0f : 9.0f;
        const float cx = 20.0f + unit() * 200.0f, cy = 34.0f + unit() * 4.0f;
        for (int corner = 0; corner < 3; ++corner) {
            mesh.push_back({cx + unit() * size, cy + unit() * 9.0f, 0.5f, 0.5f + unit(),
                            zero ? 0.0f : unit() * 3.0f, zero ? 0.0f : unit() * 3.0f});
        }
    }
    auto draw = [&](bool reference) {
        soft()->useReferencePixelPath(reference);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, BLACK, 1.0f, 0);
        device->SetFVF(D3DFVF_XYZRHW | D3DFVF_TEX1);
        device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(mesh.size() / 3), mesh.data(),
                                sizeof(TexturedVertex));
        return frame();
    };
    const std::vector<std::uint32_t> fast = draw(false);
    EXPECT_TRUE(draw(true) == fast);
    device->SetTexture(0, nullptr);
    t->Release();
}

TEST_F(Raster, ClipSpaceSquareCoversTheWholeViewport) {
    // Clip x = -1 maps to the centre of pixel 0 and +1 to just past the last pixel.
    const ColorVertex quad[4] = {
        {-1, 1, 0.5f, WHITE}, {1, 1, 0.5f, WHITE}, {-1, -1, 0.5f, WHITE}, {1, -1, 0.5f, WHITE}};
    drawTransformed(quad, 2, D3DPT_TRIANGLESTRIP);
    EXPECT_TRUE(litExactly(0, 0, 640, 480));
}

TEST_F(Raster, ViewportPlacesAndCutsTheClipSpace) {
    D3DVIEWPORT9 viewport{100, 50, 200, 100, 0.0f, 1.0f};
    ASSERT_EQ(device->SetViewport(&viewport), D3D_OK);
    // Right half of clip space: x 0..1 maps to 200..300 of the viewport's 100..300.
    const ColorVertex quad[4] = {
        {0, 1, 0.5f, WHITE}, {3, 1, 0.5f, WHITE}, {0, -1, 0.5f, WHITE}, {3, -1, 0.5f, WHITE}};
    drawTransformed(quad, 2, D3DPT_TRIANGLESTRIP);
    EXPECT_TRUE(litExactly(200, 50, 300, 150));
}

TEST_F(Raster, TrianglesReachingFarOutsideAreClippedWithoutLosingPixels) {
    // Corners at ±60 w: far past the guard band, yet the screen is covered exactly.
    const ColorVertex huge[3] = {
        {-60, -60, 0.5f, WHITE}, {60, -60, 0.5f, WHITE}, {0, 120, 0.5f, WHITE}};
    drawTransformed(huge, 1, D3DPT_TRIANGLELIST);
    EXPECT_TRUE(litExactly(0, 0, 640, 480));
}

TEST_F(Raster, DepthRangeClipsNearAndFar) {
    // A screen-filling quad whose z runs from -1 (in front of the near plane) at the top to
    // 1 at the bottom: only the lower half (z >= 0) survives.
    const ColorVertex quad[4] = {
        {-1, 1, -1, WHITE}, {1, 1, -1, WHITE}, {-1, -1, 1, WHITE}, {1, -1, 1, WHITE}};
    drawTransformed(quad, 2, D3DPT_TRIANGLESTRIP);
    EXPECT_TRUE(litExactly(0, 240, 640, 480));

    // Wholly behind the far plane (z > w): nothing.
    device->Clear(0, nullptr, D3DCLEAR_TARGET, BLACK, 1.0f, 0);
    const ColorVertex far[3] = {{-1, 1, 2, WHITE}, {1, 1, 2, WHITE}, {0, -1, 2, WHITE}};
    drawTransformed(far, 1, D3DPT_TRIANGLELIST);
    EXPECT_TRUE(litPixels().empty());
}

TEST_F(Raster, PreTransformedQuadIsCutAtTheTargetEdge) {
    // Reaching 90 lines below a 480-line target, as the title overlay does.
    drawColorQuad(100, 200, 460, 570, WHITE);
    EXPECT_TRUE(litExactly(100, 200, 460, 480));
}

TEST_F(Raster, CullingFollowsTheWindingOnScreen) {
    // Clockwise on screen (y down): culled by D3DCULL_CW, kept by D3DCULL_CCW.
    const ColorScreenVertex clockwise[3] = {
        {10, 10, 0, 1, WHITE}, {20, 10, 0, 1, WHITE}, {10, 20, 0, 1, WHITE}};
    device->SetFVF(COLOR_SCREEN_FVF);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, clockwise, sizeof clockwise[0]);
    EXPECT_TRUE(litPixels().empty());
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, clockwise, sizeof clockwise[0]);
    EXPECT_FALSE(litPixels().empty());
}

TEST_F(Raster, PointLightsTheNearestPixelCentre) {
    const ColorScreenVertex points[4] = {
        {10.5f, 20.5f, 0, 1, WHITE},   // a tie on both axes goes to the lower index: (10, 20)
        {30.51f, 40.49f, 0, 1, WHITE}, // (31, 40)
        {50.0f, 60.0f, 0, 1, WHITE},   // exactly on a centre: (50, 60)
        {-0.6f, 100.0f, 0, 1, WHITE},  // its pixel (-1) is outside the target: nothing
    };
    device->SetFVF(COLOR_SCREEN_FVF);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_POINTLIST, 4, points, sizeof points[0]), D3D_OK);
    const std::vector<std::pair<int, int>> expected = {{10, 20}, {31, 40}, {50, 60}};
    EXPECT_EQ(litPixels(), expected);
}

TEST_F(Raster, TransformedPointsBehindTheEyeOrPastTheDepthRangeAreDropped) {
    const ColorVertex points[3] = {
        {0, 0, 0.5f, WHITE}, // the centre of the screen: (320, 240)
        {0.5f, 0, -0.1f, WHITE},
        {-0.5f, 0, 1.5f, WHITE},
    };
    device->SetFVF(COLOR_FVF);
    device->DrawPrimitiveUP(D3DPT_POINTLIST, 3, points, sizeof points[0]);
    const std::vector<std::pair<int, int>> expected = {{320, 240}};
    EXPECT_EQ(litPixels(), expected);
}

TEST_F(Raster, DepthIsComparedAtSixteenBits) {
    // round(0.5 · 65535) = 32768; z + 0.4/65535 rounds to the same value, z + 1.2/65535 not.
    const float z = 0.5f;
    drawColorQuad(0, 0, 10, 10, 0xFF0000FF, z);
    drawColorQuad(0, 0, 10, 10, 0xFF00FF00, z + 0.4f / 65535.0f); // equal: passes LESSEQUAL
    EXPECT_EQ(pixel(5, 5), 0xFF00FF00u);
    drawColorQuad(0, 0, 10, 10, 0xFFFF0000, z + 1.2f / 65535.0f); // farther: fails
    EXPECT_EQ(pixel(5, 5), 0xFF00FF00u);

    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
    drawColorQuad(0, 0, 10, 10, 0xFFFF0000, z); // equal fails LESS
    EXPECT_EQ(pixel(5, 5), 0xFF00FF00u);

    // With writes off the test still runs, and the stored depth stays.
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    drawColorQuad(0, 0, 10, 10, 0xFF112233, 0.25f);
    drawColorQuad(0, 0, 10, 10, 0xFF445566, 0.4f);
    EXPECT_EQ(pixel(5, 5), 0xFF445566u);
    drawColorQuad(0, 0, 10, 10, 0xFF778899, 0.6f);
    EXPECT_EQ(pixel(5, 5), 0xFF445566u);

    // The cleared depth of 1.0 still lets z = 1 through.
    drawColorQuad(20, 0, 30, 10, WHITE, 1.0f);
    EXPECT_EQ(pixel(25, 5), WHITE);
}

TEST_F(Raster, ReadOnlyDepthTestsFollowEveryClearAndWrite) {
    // Against a buffer holding 1.0 everywhere, LESSEQUAL without writes cannot fail; the same
    // draw state after other clears, or after a draw that writes depth, must test again.
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    drawColorQuad(0, 0, 10, 10, 0xFF112233, 0.7f);
    EXPECT_EQ(pixel(5, 5), 0xFF112233u);
    device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 0.5f, 0);
    drawColorQuad(0, 0, 10, 10, 0xFF445566, 0.7f); // behind 0.5 everywhere
    EXPECT_EQ(pixel(5, 5), 0xFF112233u);

    // 1.0 on the left half of the quad only.
    const D3DRECT left = {0, 0, 5, 10};
    device->Clear(1, &left, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    drawColorQuad(0, 0, 10, 10, 0xFF778899, 0.7f);
    EXPECT_EQ(pixel(2, 5), 0xFF778899u);
    EXPECT_EQ(pixel(7, 5), 0xFF112233u);

    // 1.0 everywhere again, then depth written in front.
    device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    drawColorQuad(0, 0, 10, 10, 0xFF000011, 0.3f);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    drawColorQuad(0, 0, 10, 10, 0xFFAABBCC, 0.7f);
    EXPECT_EQ(pixel(5, 5), 0xFF000011u);

    // GREATEREQUAL passes everything against 0.0 everywhere.
    device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 0.0f, 0);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_GREATEREQUAL);
    drawColorQuad(0, 0, 10, 10, 0xFF0000EE, 0.0f);
    EXPECT_EQ(pixel(5, 5), 0xFF0000EEu);
}

TEST_F(Raster, TextureCoordinatesArePerspectiveCorrect) {
    // A floor receding from view depth 2 to 10, u running 0..1 with depth. A two-texel texture
    // (black, white) with point sampling switches colour where u = 0.5, at the projection of
    // the floor's middle (depth 6), not at the middle of its screen extent.
    IDirect3DTexture9* t = texture(2, 1, D3DFMT_X8R8G8B8, {0xFF000000, 0xFFFFFFFF});
    device->SetTexture(0, t);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    const D3DMATRIX projection = wFriendlyProjection();
    device->SetTransform(D3DTS_PROJECTION, &projection);
    // The floor at y = -1, the quad's u along z.
    const QuadVertex floor[4] = {
        {-1, -1, 2, 0, 0}, {-1, -1, 10, 1, 0}, {1, -1, 2, 0, 0}, {1, -1, 10, 1, 0}};
    device->SetFVF(QUAD_FVF);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, floor, sizeof floor[0]), D3D_OK);
    // Screen row of a floor point at depth z: 240 + 240 · 2.41421 / z.
    auto rowAt = [](double z) { return 240.0 + 240.0 * 2.41421 / z; };
    const int middle = static_cast<int>(std::lround(rowAt(6.0)));
    EXPECT_EQ(pixel(320, middle - 2), WHITE);
    EXPECT_EQ(pixel(320, middle + 2), BLACK);
    // Halfway down the floor on screen is well inside the near (black) half.
    const int screenMiddle = static_cast<int>((rowAt(2.0) + rowAt(10.0)) / 2);
    EXPECT_EQ(pixel(320, screenMiddle), BLACK);
    device->SetTexture(0, nullptr);
    t->Release();
}

TEST_F(Raster, LongStripsDrawLikeTheirTriangles) {
    // A zigzag strip of 5001 triangles is drawn in pieces; it must give the same picture as
    // the same triangles listed one by one, odd ones with their last two vertices swapped.
    std::vector<ColorScreenVertex> strip;
    for (int i = 0; i < 5003; ++i) {
        const float x = 20.0f + 0.12f * i;
        const float y = (i & 1) ? 300.0f : 40.0f + 0.05f * i;
        strip.push_back({x, y, 0.5f, 1.0f, 0xFF000000u | (0x010203u * (i % 80))});
    }
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
    device->SetFVF(COLOR_SCREEN_FVF);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 5001, strip.data(), sizeof strip[0]),
              D3D_OK);
    const std::vector<std::uint32_t> fromStrip = frame();

    std::vector<ColorScreenVertex> list;
    for (int k = 0; k < 5001; ++k) {
        list.push_back(strip[k]);
        list.push_back(strip[(k & 1) ? k + 2 : k + 1]);
        list.push_back(strip[(k & 1) ? k + 1 : k + 2]);
    }
    device->Clear(0, nullptr, D3DCLEAR_TARGET, BLACK, 1.0f, 0);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 5001, list.data(), sizeof list[0]),
              D3D_OK);
    EXPECT_TRUE(frame() == fromStrip);
    EXPECT_FALSE(litPixels().empty());
}

} // namespace
} // namespace tessivane::platform::testing
