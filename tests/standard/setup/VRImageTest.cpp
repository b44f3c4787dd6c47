// VRImage: buffer sizing and its failure cases, and drawing into a real GL context: position,
// premultiplied blending, transparent and opaque pixels, clipping at the window edge.
#include "VRImage.h"

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <vector>

#include "support/GLTestContext.h"

namespace {

// One 8-bit step of the framebuffer, plus rounding slack.
constexpr float kByteTolerance = 1.5f / 255.f;

struct Rgb {
    float r, g, b;
};
const Rgb kBackground = {0.2f, 0.4f, 0.6f};

void ClearTo(const Rgb& c) {
    glDisable(GL_BLEND);
    glClearColor(c.r, c.g, c.b, 1.f);
    glClear(GL_COLOR_BUFFER_BIT);
}

void ExpectPixel(const std::vector<float>& frame, int width, int x, int y, const Rgb& expected) {
    const float* p = &frame[(std::size_t(y) * width + x) * 4];
    EXPECT_NEAR(p[0], expected.r, kByteTolerance) << "at " << x << ", " << y;
    EXPECT_NEAR(p[1], expected.g, kByteTolerance) << "at " << x << ", " << y;
    EXPECT_NEAR(p[2], expected.b, kByteTolerance) << "at " << x << ", " << y;
}

void SetPixel(VRImage& image, int i, int j, float r, float g, float b, float a) {
    float* p = image.pixels + (std::size_t(j) * image.width + i) * 4;
    p[0] = r, p[1] = g, p[2] = b, p[3] = a;
}

}  // namespace

TEST(VRImageAllocate, SizesTheBufferForTheCurrentRegion) {
    VRImage image;
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_EQ(image.width, 0);
    EXPECT_EQ(image.height, 0);
    image.width = 100, image.height = 50;
    image.Allocate();
    ASSERT_NE(image.pixels, nullptr);
    // Every float of the region is writable (AddressSanitizer builds check the bounds).
    for (int i = 0; i < 100 * 50 * 4; ++i)
        image.pixels[i] = float(i);
    EXPECT_EQ(image.pixels[100 * 50 * 4 - 1], float(100 * 50 * 4 - 1));
    image.width = 40, image.height = 30;
    image.Allocate();
    ASSERT_NE(image.pixels, nullptr);
    for (int i = 0; i < 40 * 30 * 4; ++i)
        image.pixels[i] = 1.f;
    // A region never written is 0 x 0: an empty but valid buffer.
    VRImage empty;
    empty.Allocate();
    EXPECT_NE(empty.pixels, nullptr);
}

TEST(VRImageAllocate, ImpossibleSizesFailAfterReleasingTheOldBuffer) {
    VRImage image;
    image.width = 8, image.height = 8;
    image.Allocate();
    // 65536 x 65536 x 4 floats does not fit the 32-bit element count.
    image.width = 65536, image.height = 65536;
    EXPECT_THROW(image.Allocate(), std::bad_alloc);
    EXPECT_EQ(image.pixels, nullptr);
    image.width = -3, image.height = 10;
    EXPECT_THROW(image.Allocate(), std::bad_alloc);
    EXPECT_EQ(image.pixels, nullptr);
}

TEST(VRImageRender, BlendsPremultipliedPixelsAtTheWindowPosition) {
    GLTestContext gl(32, 24);
    KESTREL_REQUIRE_GL(gl);
    ClearTo(kBackground);

    VRImage image;
    image.width = 4, image.height = 3;
    image.windowX = 5, image.windowY = 7;
    image.Allocate();
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 4; ++i)
            SetPixel(image, i, j, 0.f, 0.f, 0.f, 0.f);
    SetPixel(image, 1, 0, 0.9f, 0.1f, 0.3f, 1.f);      // opaque: replaces
    SetPixel(image, 2, 1, 0.25f, 0.1f, 0.f, 0.5f);     // half: src + (1 - 0.5) dst
    SetPixel(image, 3, 2, 0.05f, 0.05f, 0.05f, 0.8f);  // mostly opaque
    image.Render();
    EXPECT_EQ(glIsEnabled(GL_BLEND), GL_TRUE);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    const std::vector<float> frame = gl.ReadPixelsFloat();
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 32; ++x) {
            Rgb expected = kBackground;  // outside the image, and its alpha-0 pixels
            if (x == 6 && y == 7) expected = {0.9f, 0.1f, 0.3f};
            if (x == 7 && y == 8) expected = {0.25f + 0.5f * 0.2f, 0.1f + 0.5f * 0.4f, 0.5f * 0.6f};
            if (x == 8 && y == 9)
                expected = {0.05f + 0.2f * 0.2f, 0.05f + 0.2f * 0.4f, 0.05f + 0.2f * 0.6f};
            ExpectPixel(frame, 32, x, y, expected);
        }
}

TEST(VRImageRender, ClipsAtTheWindowEdgeAndIgnoresAnImageWithoutPixels) {
    GLTestContext gl(16, 16);
    KESTREL_REQUIRE_GL(gl);
    ClearTo(kBackground);

    VRImage none;  // no buffer: draws nothing
    none.width = 16, none.height = 16;
    none.Render();

    // The region reaches one column and one row beyond the window, as the ray set-up makes it.
    VRImage image;
    image.width = 4, image.height = 4;
    image.windowX = 13, image.windowY = 13;
    image.Allocate();
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i)
            SetPixel(image, i, j, 0.1f * float(i + 1), 0.1f * float(j + 1), 1.f, 1.f);
    image.Render();
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    const std::vector<float> frame = gl.ReadPixelsFloat();
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            Rgb expected = kBackground;
            if (x >= 13 && y >= 13) expected = {0.1f * float(x - 12), 0.1f * float(y - 12), 1.f};
            ExpectPixel(frame, 16, x, y, expected);
        }
}
