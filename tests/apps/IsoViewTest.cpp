// The isosurface view in both tools: kestrel-render's CPU composite against the scene drawn
// through GL, and the viewer's keys against kestrel-render's picture of the same settings.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "DataDefaults.h"
#include "AppTestUtil.h"
#include "HeadPhantom.h"
#include "VolumeData.h"

using namespace apptest;

namespace {

// The isovalue lines the viewer prints after each arrow key.
std::vector<double> IsovalueLines(const std::string& out) {
    std::vector<double> values;
    size_t at = 0;
    while ((at = out.find("isovalue ", at)) != std::string::npos) {
        double value = 0.0;
        if (std::sscanf(out.c_str() + at, "isovalue %lf", &value) == 1) values.push_back(value);
        ++at;
    }
    return values;
}

}  // namespace

// The skull of the 48^3 phantom on a coloured background, lit and illustrative: the CPU
// composite equals the GL drawing within one 8-bit step and the corners show the background
// exactly (round(255 * 0.2) = 51, round(255 * 0.4) = 102).
TEST(IsoViewRender, CpuCompositeEqualsGLOverTheBackground) {
    if (!HaveDisplay()) GTEST_SKIP() << "no DISPLAY";
    const std::string folder = TempFolder("isoview");
    int litSurface = 0;
    for (const bool illustrative : {false, true}) {
        std::vector<std::string> extra = {
            "--view", "iso", "--isovalue",       "1300", "--azimuth", "30", "--background", "0.2",
            "0.4",    "0",   "--surface-colour", "1",    "0.8",       "0.6"};
        if (illustrative) extra.push_back("--illustrative");
        const Picture cpu = RenderPhantom(folder + "/cpu.png", extra);
        extra.push_back("--gl");
        std::vector<std::string> glArgs = {RenderExe(),       "--phantom-size", "48",
                                           "--size",          "140x100",        "--output",
                                           folder + "/gl.png"};
        glArgs.insert(glArgs.end(), extra.begin(), extra.end());
        ASSERT_EQ(RunApp(glArgs).code, 0);
        EXPECT_LE(MaxDifference(cpu, LoadPicture(folder + "/gl.png")), 1) << illustrative;
        for (const int x : {0, 139}) {
            EXPECT_EQ(cpu.At(x, 0, 0), 51);
            EXPECT_EQ(cpu.At(x, 99, 1), 102);
            EXPECT_EQ(cpu.At(x, 0, 2), 0);
        }
        // Lit, the head's middle is surface; illustrative, the faces towards the viewer fade
        // to the background and only the rim keeps the surface colour, so fewer pixels differ.
        int surface = 0;
        for (int y = 0; y < cpu.height; ++y) {
            for (int x = 0; x < cpu.width; ++x)
                surface += std::abs(cpu.At(x, y, 1) - 102) > 20;
        }
        if (!illustrative) {
            EXPECT_NE(cpu.At(70, 50, 1), 102);
            litSurface = surface;
        } else {
            EXPECT_EQ(cpu.At(70, 50, 1), 102);
            EXPECT_GT(surface, 50);
            EXPECT_LT(surface, litSurface / 2);
        }
    }
}

// Up raises and Down lowers the isovalue by 1% of the phantom's value range (at 48^3 the small
// clips are all partial-volume voxels, so the range ends below 3500), starting from the
// histogram's background/tissue threshold;
// 'i' switches to the illustrative style; the screenshot is kestrel-render's picture with the
// isovalue and style the keys reached.
TEST(IsoViewViewer, KeysMoveTheIsovalueAndSwitchTheStyle) {
    if (!HaveDisplay()) GTEST_SKIP() << "no DISPLAY";
    const std::string folder = TempFolder("isoview_keys");
    const RunResult r =
        ShowPhantom(folder + "/shot.png",
                    "special 101; special 101; special 103; special 101; key i", {"--view", "iso"});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::vector<double> values = IsovalueLines(r.out);
    ASSERT_EQ(values.size(), 4u) << r.out;
    std::unique_ptr<VolumeData> phantom(CreateHeadPhantom(48));
    double lo = 0.0, hi = 0.0;
    phantom->GetMinMaxValue(lo, hi);
    // The scene's float isovalue after each key (up, up, down, up); printed to 6 digits.
    const double step = 0.01 * (hi - lo);
    float isovalue = float(ComputeDataDefaults(*phantom).threshold);
    const int keys[4] = {1, 1, -1, 1};
    for (int i = 0; i < 4; ++i) {
        isovalue = float(double(isovalue) + keys[i] * step);
        EXPECT_NEAR(values[i], isovalue, 0.01) << i;
    }
    char isovalueText[32];
    std::snprintf(isovalueText, sizeof isovalueText, "%.9g", double(isovalue));
    const Picture expected = RenderPhantom(
        folder + "/render.png", {"--view", "iso", "--isovalue", isovalueText, "--illustrative"});
    EXPECT_LE(MaxDifference(LoadPicture(folder + "/shot.png"), expected), 1);
}
