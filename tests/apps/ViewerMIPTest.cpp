// kestrel-viewer's MIP view: the phantom by default, its window and camera keys, and a volume
// file, each screenshot checked against kestrel-render's picture of the same view.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "AppTestUtil.h"

using namespace apptest;

namespace {

// The window lines the viewer prints after each window key: (width, centre) pairs.
std::vector<std::pair<double, double>> WindowLines(const std::string& out) {
    std::vector<std::pair<double, double>> windows;
    size_t at = 0;
    while ((at = out.find("window width ", at)) != std::string::npos) {
        double width = 0.0, centre = 0.0;
        if (std::sscanf(out.c_str() + at, "window width %lf, centre %lf", &width, &centre) == 2) {
            windows.emplace_back(width, centre);
        }
        ++at;
    }
    return windows;
}

}  // namespace

// Without a file the viewer shows the phantom's MIP: the same picture as kestrel-render's.
TEST(ViewerMIP, DefaultViewIsThePhantomLikeTheRenderTool) {
    if (!HaveDisplay()) GTEST_SKIP() << "no DISPLAY";
    const std::string folder = TempFolder("viewer_default");
    const RunResult r = ShowPhantom(folder + "/shot.png", "");
    ASSERT_EQ(r.code, 0) << r.err;
    const Picture shot = LoadPicture(folder + "/shot.png");
    ASSERT_EQ(shot.width, 140);
    ASSERT_EQ(shot.height, 100);
    EXPECT_GT(shot.At(70, 45), 120);  // bone through the head
    EXPECT_EQ(shot.At(0, 0), 0);      // black, not the cube's grey
    EXPECT_EQ(shot.At(139, 99), 0);
    EXPECT_LE(MaxDifference(shot, RenderPhantom(folder + "/render.png")), 1);
}

// ']' widens the window by 1.25, '[' narrows it, '-' and '+' move the centre by 5% of the
// width; the picture then equals the render tool's with that window.
TEST(ViewerMIP, WindowKeysChangeTheGreyWindow) {
    if (!HaveDisplay()) GTEST_SKIP() << "no DISPLAY";
    const std::string folder = TempFolder("viewer_window");
    // A window from 0 (the default one starts above the air, see DataDefaultsTest).
    const RunResult r =
        ShowPhantom(folder + "/shot.png", "key ]; key ]; key -; key [; key +; key +",
                    {"--window", "4000", "2000"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto windows = WindowLines(r.out);
    ASSERT_EQ(windows.size(), 6u) << r.out;
    // The first key widened the window W0 given (centre W0 / 2, minimum 0).
    const double w0 = windows[0].first / 1.25;
    EXPECT_NEAR(windows[0].second, w0 / 2.0, 1e-3 * w0);
    EXPECT_NEAR(windows[1].first, w0 * 1.5625, 1e-3 * w0);
    EXPECT_NEAR(windows[2].second, w0 / 2.0 - 0.05 * w0 * 1.5625, 1e-3 * w0);
    EXPECT_NEAR(windows[3].first, w0 * 1.25, 1e-3 * w0);
    EXPECT_NEAR(windows[5].second, windows[2].second + 2 * 0.05 * w0 * 1.25, 1e-3 * w0);

    char width[32], centre[32];
    std::snprintf(width, sizeof(width), "%.6g", windows[5].first);
    std::snprintf(centre, sizeof(centre), "%.6g", windows[5].second);
    const Picture shot = LoadPicture(folder + "/shot.png");
    const Picture expected = RenderPhantom(folder + "/render.png", {"--window", width, centre});
    EXPECT_LE(MaxDifference(shot, expected), 1);
    // The lower centre lifts the air inside the volume's box above black: about 16 grey.
    const Picture plain = RenderPhantom(folder + "/plain.png");
    int lifted = 0;
    for (int y = 0; y < shot.height; ++y) {
        for (int x = 0; x < shot.width; ++x)
            lifted += shot.At(x, y) > 5 && plain.At(x, y) == 0;
    }
    EXPECT_GT(lifted, 1000);
}

// A drag turns the head; 'r' puts the camera back, and 'v' the window.
TEST(ViewerMIP, ResetKeysRestoreCameraAndWindow) {
    if (!HaveDisplay()) GTEST_SKIP() << "no DISPLAY";
    const std::string folder = TempFolder("viewer_reset");
    const RunResult turned =
        ShowPhantom(folder + "/turned.png", "ldown 70 50; move 110 50; lup 110 50");
    const RunResult reset = ShowPhantom(folder + "/reset.png",
                                        "ldown 70 50; move 110 30; lup 110 30; rdown 5 5; move 5 "
                                        "60; rup 5 60; key ]; key r; key v");
    ASSERT_EQ(turned.code, 0) << turned.err;
    ASSERT_EQ(reset.code, 0) << reset.err;
    const Picture front = RenderPhantom(folder + "/front.png");
    // 40 pixels right at 0.005 rad per pixel: 0.2 rad = 11.46 degrees of azimuth.
    const Picture azimuth = RenderPhantom(folder + "/azimuth.png", {"--azimuth", "11.459156"});
    const Picture turnedShot = LoadPicture(folder + "/turned.png");
    EXPECT_GT(MaxDifference(turnedShot, front), 20);
    EXPECT_LE(MaxDifference(turnedShot, azimuth), 1);
    EXPECT_LE(MaxDifference(LoadPicture(folder + "/reset.png"), front), 1);
}

// A structured file given on the command line, and the cube still reachable.
TEST(ViewerMIP, VolumeFileAndCubeView) {
    if (!HaveDisplay()) GTEST_SKIP() << "no DISPLAY";
    const std::string folder = TempFolder("viewer_file");
    const int n = 20;
    std::vector<uint8_t> samples(size_t(n) * n * n, 10);
    for (int y = 3; y < 17; ++y)
        samples[10 + size_t(n) * (y + size_t(n) * 10)] = 250;
    const int dims[3] = {n, n, n};
    const float spacings[3] = {1.0f, 1.0f, 1.0f};
    const std::string file = folder + "/rod.kvol";
    WriteStructured(file, dims, spacings, 0, 0, 8, samples.data(), samples.size());

    const std::string shot = folder + "/rod.png";
    const RunResult r =
        RunApp({ViewerExe(), file, "--size", "120x120", "--frames", "1", "--screenshot", shot});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string rendered = folder + "/rod-render.png";
    ASSERT_EQ(RunApp({RenderExe(), file, "--size", "120x120", "--output", rendered}, false).code,
              0);
    const Picture picture = LoadPicture(shot);
    EXPECT_LE(MaxDifference(picture, LoadPicture(rendered)), 1);
    // A vertical rod: taller than wide.
    const Box rod = BrightBox(picture, 200);
    EXPECT_GT(rod.Height(), 3 * rod.Width());

    const std::string cube = folder + "/cube.png";
    const RunResult c = RunApp(
        {ViewerExe(), "--view", "cube", "--size", "64x48", "--frames", "1", "--screenshot", cube});
    ASSERT_EQ(c.code, 0) << c.err;
    EXPECT_NEAR(LoadPicture(cube).At(0, 0), 128, 1);  // the cube scene's grey background
}

// Bad volume input: exit code 2 and one line naming the file or option.
TEST(ViewerMIP, BadVolumeInputExitsWith2) {
    const std::string folder = TempFolder("viewer_bad");
    const std::string tiny = folder + "/tiny.kvol";
    WriteBytes(tiny, "abcd", 4);
    struct Case {
        std::vector<std::string> args;
        std::string mentions;
        bool needsDisplay;  // the file is read after the display check
    };
    const std::vector<Case> cases = {
        {{"--window", "0", "1"}, "--window", false},
        {{"--crop", "1", "2", "3"}, "--crop", false},
        {{"--type", "int7"}, "int7", false},
        {{"--phantom-size", "1"}, "--phantom-size", false},
        {{tiny}, tiny, true},
        {{folder + "/missing.kvol"}, folder + "/missing.kvol", true},
        {{"--raw", tiny, "--dims", "2", "2", "2"}, "--raw", true},
        {{"--view", "cube", tiny}, "--view", true},
        {{"--phantom-size", "8", "--crop", "0", "9", "0", "7", "0", "7"}, "--crop", true},
    };
    for (const Case& c : cases) {
        if (c.needsDisplay && !HaveDisplay()) continue;
        std::vector<std::string> args = {ViewerExe(), "--frames", "1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = RunApp(args, c.needsDisplay);
        EXPECT_EQ(r.code, 2) << c.mentions << ": " << r.err;
        EXPECT_EQ(CountLines(r.err), 1) << r.err;
        EXPECT_NE(r.err.find(c.mentions), std::string::npos) << r.err;
    }
}
