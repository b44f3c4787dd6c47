// The test GL context itself: clear colour, a scissored rectangle and the
// bottom-up row order of the read-back.
#include "support/GLTestContext.h"

#include <GL/glew.h>
#include <gtest/gtest.h>

TEST(GLTestContext, ReadsBackWhatWasDrawnBottomUp) {
    GLTestContext gl(40, 30);
    KESTREL_REQUIRE_GL(gl);
    EXPECT_EQ(gl.Width(), 40);
    EXPECT_EQ(gl.Height(), 30);
    glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    // red in the bottom-left 10 x 5 block
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, 10, 5);
    glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);

    std::vector<uint8_t> const px = gl.ReadPixels8();
    ASSERT_EQ(px.size(), 40u * 30u * 4u);
    auto at = [&](int x, int y, int c) { return px[(y * 40 + x) * 4 + c]; };
    EXPECT_EQ(at(0, 0, 0), 255);
    EXPECT_EQ(at(9, 4, 0), 255);
    EXPECT_EQ(at(9, 4, 2), 0);
    EXPECT_EQ(at(10, 4, 0), 0);
    EXPECT_EQ(at(10, 4, 2), 255);
    EXPECT_EQ(at(0, 5, 2), 255);
    EXPECT_EQ(at(39, 29, 2), 255);

    std::vector<float> const f = gl.ReadPixelsFloat();
    ASSERT_EQ(f.size(), px.size());
    EXPECT_FLOAT_EQ(f[0], 1.0f);
    EXPECT_FLOAT_EQ(f[(29 * 40 + 39) * 4 + 2], 1.0f);
    EXPECT_FLOAT_EQ(f[(29 * 40 + 39) * 4 + 0], 0.0f);
}

TEST(GLTestContext, FailsCleanlyWithoutADisplay) {
    char const* saved = std::getenv("DISPLAY");
    std::string const keep = saved ? saved : "";
    unsetenv("DISPLAY");
    {
        GLTestContext gl(8, 8);
        EXPECT_FALSE(gl.Ok());
        EXPECT_NE(gl.Error().find("DISPLAY"), std::string::npos);
        EXPECT_TRUE(gl.ReadPixels8().empty());
        EXPECT_FALSE(GLTestContext::DisplayAvailable());
    }
    if (saved) setenv("DISPLAY", keep.c_str(), 1);
}
