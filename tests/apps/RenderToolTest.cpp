// kestrel-render as a user meets it: the phantom and files rendered to PNG, the camera, window
// and cropping options checked against worked-out pictures, the CPU and GL paths against each
// other, frame timing, and every kind of bad input.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "AppTestUtil.h"

using namespace apptest;

namespace {

RunResult Render(std::vector<std::string> args, bool withDisplay = false) {
    args.insert(args.begin(), RenderExe());
    return RunApp(args, withDisplay);
}

// A 33^3 uint8 volume, 0 everywhere except a bar of 200 along x (x = 4 .. 28) through the
// centre row y = z = 16. Written once per test program.
const std::string& BarVolume() {
    static const std::string path = [] {
        const std::string folder = TempFolder("bar");
        const int n = 33;
        std::vector<uint8_t> samples(size_t(n) * n * n, 0);
        for (int x = 4; x <= 28; ++x)
            samples[x + size_t(n) * (16 + size_t(n) * 16)] = 200;
        const std::string file = folder + "/bar.raw";
        WriteBytes(file, samples.data(), samples.size());
        return file;
    }();
    return path;
}

Picture RenderBar(const std::string& name, std::vector<std::string> view) {
    const std::string output = TempFolder(name) + "/bar.png";
    std::vector<std::string> args = {"--raw",  BarVolume(), "--dims",   "33",
                                     "33",     "33",        "--type",   "uint8",
                                     "--size", "160x120",   "--output", output};
    args.insert(args.end(), view.begin(), view.end());
    const RunResult r = Render(args);
    EXPECT_EQ(r.code, 0) << r.err;
    return LoadPicture(output);
}

// A 16^3 uint8 volume of 150 with a single 0 at voxel (0, 0, 0): range 0 .. 150.
const std::string& PlateauVolume() {
    static const std::string path = [] {
        const int n = 16;
        std::vector<uint8_t> samples(size_t(n) * n * n, 150);
        samples[0] = 0;
        const std::string file = TempFolder("plateau") + "/plateau.raw";
        WriteBytes(file, samples.data(), samples.size());
        return file;
    }();
    return path;
}

Picture RenderPlateau(const std::string& name, std::vector<std::string> extra) {
    const std::string output = TempFolder(name) + "/plateau.png";
    std::vector<std::string> args = {"--raw",    PlateauVolume(), "--dims", "16",     "16",
                                     "16",       "--type",        "uint8",  "--size", "100x100",
                                     "--output", output};
    args.insert(args.end(), extra.begin(), extra.end());
    const RunResult r = Render(args);
    EXPECT_EQ(r.code, 0) << r.err;
    return LoadPicture(output);
}

}  // namespace

// The main job: the phantom as MIP to a PNG, the head bright in the middle, air black around.
TEST(RenderToolPhantom, DefaultRunWritesTheHeadAndTimesFrames) {
    const std::string folder = TempFolder("phantom");
    const std::string output = folder + "/head.png";
    const RunResult r = Render({"--output", output, "--frames", "2"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_NE(r.out.find(output), std::string::npos) << r.out;
    const Picture picture = LoadPicture(output);
    ASSERT_EQ(picture.width, 512);
    ASSERT_EQ(picture.height, 512);
    // Through the middle of the head every ray crosses the skull: grey of bone under the window
    // of the tissue's percentiles (dense structures above it saturate), about 0.8 .. 0.97.
    EXPECT_GT(picture.At(256, 220), 200);
    EXPECT_LT(picture.At(256, 220), 248);
    for (const auto& corner : {std::pair{0, 0}, {511, 0}, {0, 511}, {511, 511}}) {
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(picture.At(corner.first, corner.second, c), 0);
    }
    // The head fills a good part of the picture, and is taller than wide (neck below).
    const Box head = BrightBox(picture, 40);
    EXPECT_GT(head.count, 512 * 512 / 8);
    EXPECT_GT(head.Height(), head.Width());
    // Only the PNG is left in the folder.
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"head.png"});
}

TEST(RenderToolPhantom, FramesPrintMedianAndMinimum) {
    const std::string output = TempFolder("frames") + "/f.png";
    const RunResult r =
        Render({"--phantom-size", "48", "--size", "64x64", "--frames", "5", "--output", output});
    ASSERT_EQ(r.code, 0) << r.err;
    const size_t at = r.out.find("median");
    ASSERT_NE(at, std::string::npos) << r.out;
    double median = -1.0, minimum = -1.0;
    ASSERT_EQ(std::sscanf(r.out.c_str() + at, "median %lf ms, minimum %lf ms", &median, &minimum),
              2)
        << r.out;
    EXPECT_GT(minimum, 0.0);
    EXPECT_LE(minimum, median);
    EXPECT_NE(r.out.find("5 frames"), std::string::npos) << r.out;
}

// The CPU composite uses the arithmetic of the GL blend: both paths give the same picture
// within one 8-bit step per channel, for a turned, zoomed, windowed and cropped view.
TEST(RenderToolGL, CpuCompositeEqualsOffscreenGL) {
    if (!HaveDisplay()) GTEST_SKIP() << "no DISPLAY";
    const std::string folder = TempFolder("glcpu");
    const std::vector<std::vector<std::string>> views = {
        {},
        {"--azimuth", "35", "--elevation", "-20", "--zoom", "1.6", "--window", "2600", "1500",
         "--crop", "3", "40", "0", "47", "10", "47"},
    };
    int index = 0;
    for (const std::vector<std::string>& view : views) {
        const std::string cpu = folder + "/cpu" + std::to_string(index) + ".png";
        const std::string gl = folder + "/gl" + std::to_string(index) + ".png";
        ++index;
        std::vector<std::string> args = {"--phantom-size", "48", "--size", "150x110"};
        args.insert(args.end(), view.begin(), view.end());
        std::vector<std::string> cpuArgs = args;
        cpuArgs.insert(cpuArgs.end(), {"--output", cpu});
        std::vector<std::string> glArgs = args;
        glArgs.insert(glArgs.end(), {"--gl", "--output", gl});
        const RunResult a = Render(cpuArgs);
        const RunResult b = Render(glArgs, true);
        ASSERT_EQ(a.code, 0) << a.err;
        ASSERT_EQ(b.code, 0) << b.err;
        const Picture pa = LoadPicture(cpu);
        const Picture pb = LoadPicture(gl);
        EXPECT_LE(MaxDifference(pa, pb), 1) << "view " << index;
        EXPECT_GT(BrightBox(pa, 60).count, 1000) << "view " << index;  // not an empty picture
    }
}

// Camera through the scene's operations, on a bar along x (25 voxels long, at distance
// r / sin 22.5 deg = 74.7 of a bounding-sphere radius r = 28.58): seen from the front it spans
// about 25 / (74.7 tan 22.5 deg) * 60 = 48 pixels of a 120-pixel-high picture.
TEST(RenderToolCamera, AzimuthElevationAndZoomTurnABar) {
    const Box front = BrightBox(RenderBar("front", {}), 128);
    EXPECT_NEAR(front.Width(), 48, 4);
    EXPECT_LE(front.Height(), 4);
    // Centred: the bar's middle is the picture's middle.
    EXPECT_NEAR(0.5 * (front.x0 + front.x1), 79.5, 1.5);

    // Azimuth 90: the bar points at the eye and shrinks to a spot.
    const Box along = BrightBox(RenderBar("az90", {"--azimuth", "90"}), 128);
    EXPECT_GT(along.count, 0);
    EXPECT_LE(along.Width(), 6);
    EXPECT_LE(along.Height(), 6);

    // Elevation alone turns about the screen's x axis: a bar along x stays as it is.
    const Box tilted = BrightBox(RenderBar("el60", {"--elevation", "60"}), 128);
    EXPECT_NEAR(tilted.Width(), front.Width(), 2);
    EXPECT_LE(tilted.Height(), 4);

    // Azimuth 90 then elevation 90: the bar, first along the view direction, stands upright.
    const Box upright =
        BrightBox(RenderBar("az90el90", {"--azimuth", "90", "--elevation", "90"}), 128);
    EXPECT_NEAR(upright.Height(), front.Width(), 4);
    EXPECT_LE(upright.Width(), 4);

    // Zoom 2 doubles the projected length; a full turn gives the front view back.
    const Box zoomed = BrightBox(RenderBar("zoom2", {"--zoom", "2"}), 128);
    EXPECT_NEAR(double(zoomed.Width()) / front.Width(), 2.0, 0.12);
    const Picture turned = RenderBar("az360", {"--azimuth", "360"});
    EXPECT_LE(MaxDifference(turned, RenderBar("front2", {})), 1);
}

// Grey window: the plateau's maximum 150 maps to (150 - centre) / width + 0.5.
TEST(RenderToolWindow, DefaultRangeAndExplicitWindow) {
    // Default: the range 0 .. 150, so 150 is white.
    EXPECT_EQ(RenderPlateau("default", {}).At(50, 50), 255);
    // Width 400, centre 100: 0.625 -> 159.4.
    EXPECT_NEAR(RenderPlateau("w400", {"--window", "400", "100"}).At(50, 50), 159, 1);
    // Width 100, centre 150: 0.5 -> 127.5.
    EXPECT_NEAR(RenderPlateau("w100", {"--window", "100", "150"}).At(50, 50), 128, 1);
}

// Cropping to x <= 7 of 0 .. 15 keeps the left half of the cube in the front view.
TEST(RenderToolWindow, CroppingRemovesPartOfTheVolume) {
    const Picture whole = RenderPlateau("whole", {});
    const Picture half = RenderPlateau("half", {"--crop", "0", "7", "0", "15", "0", "15"});
    EXPECT_EQ(whole.At(62, 50), 255);
    EXPECT_EQ(half.At(38, 50), 255);
    EXPECT_EQ(half.At(62, 50), 0);
    const Box wholeBox = BrightBox(whole, 128);
    const Box halfBox = BrightBox(half, 128);
    EXPECT_EQ(halfBox.x0, wholeBox.x0);
    EXPECT_LT(halfBox.x1, 52);
}

// The same voxels as a structured file, a raw file and a raw float file give one picture.
TEST(RenderToolFiles, StructuredRawAndFloatVolumesAgree) {
    const std::string folder = TempFolder("files");
    const int n = 33;
    std::vector<uint8_t> bytes(size_t(n) * n * n, 0);
    std::vector<float> floats(bytes.size(), -1.5f);
    for (int x = 4; x <= 28; ++x) {
        bytes[x + size_t(n) * (16 + size_t(n) * 16)] = 200;
        floats[x + size_t(n) * (16 + size_t(n) * 16)] = 2.5f;
    }
    const int dims[3] = {n, n, n};
    const float spacings[3] = {1.0f, 1.0f, 1.0f};
    const std::string structured = folder + "/bar.kvol";
    WriteStructured(structured, dims, spacings, 0, 0, 8, bytes.data(), bytes.size());
    const std::string rawFloat = folder + "/bar.f32";
    WriteBytes(rawFloat, floats.data(), floats.size() * sizeof(float));

    const std::string a = folder + "/structured.png";
    const std::string b = folder + "/float.png";
    const RunResult ra = Render({structured, "--size", "160x120", "--azimuth", "20", "-o", a});
    const RunResult rb = Render({"--raw", rawFloat, "--dims", "33", "33", "33", "--type", "float32",
                                 "--size", "160x120", "--azimuth", "20", "-o", b});
    ASSERT_EQ(ra.code, 0) << ra.err;
    ASSERT_EQ(rb.code, 0) << rb.err;
    const Picture pa = LoadPicture(a);
    const Picture pb = LoadPicture(b);
    EXPECT_LE(MaxDifference(pa, pb), 1);
    EXPECT_LE(MaxDifference(pa, RenderBar("raw20", {"--azimuth", "20"})), 1);
    EXPECT_GT(BrightBox(pa, 128).count, 20);
}

// --spacing reaches the scene: with x voxels twice as wide the bar (25 voxels above half grey) is
// 50 long and the bounding-sphere radius grows from 0.5 sqrt(3) 33 to 0.5 sqrt(6) 33, so the
// camera distance grows by sqrt 2 and the bar's picture by 2 / sqrt 2 = sqrt 2. --no-grid gives
// the picture of the grid walk.
TEST(RenderToolFiles, RawSpacingAndNoGridTakeEffect) {
    const Box front = BrightBox(RenderBar("spacing-front", {}), 128);
    const Box wide = BrightBox(RenderBar("spacing-wide", {"--spacing", "2", "1", "1"}), 128);
    ASSERT_GT(front.Width(), 30);
    EXPECT_NEAR(double(wide.Width()) / front.Width(), std::sqrt(2.0), 0.06);
    EXPECT_LE(wide.Height(), 4);

    const Picture grid = RenderBar("grid", {"--azimuth", "20", "--elevation", "15"});
    const Picture noGrid =
        RenderBar("nogrid", {"--azimuth", "20", "--elevation", "15", "--no-grid"});
    EXPECT_LE(MaxDifference(grid, noGrid), 1);
    EXPECT_GT(BrightBox(grid, 128).count, 20);
}

// The bounds of spacing and zoom are usable to their ends: the bar at isotropic spacings 1e-6
// and 1e6 gives the picture of spacing 1 (the camera fits the extent, whatever its scale); zoom
// 1e4 fills the picture with the plateau's white and zoom 1e-4 shrinks it below a pixel.
TEST(RenderToolFiles, SpacingAndZoomBoundsAreUsable) {
    const Picture unit = RenderBar("unit-spacing", {});
    for (const char* spacing : {"1e-6", "1e6"}) {
        const Picture scaled =
            RenderBar(std::string("spacing-") + spacing, {"--spacing", spacing, spacing, spacing});
        EXPECT_LE(MaxDifference(scaled, unit), 1) << spacing;
    }
    const Picture near = RenderPlateau("zoom-max", {"--zoom", "1e4"});
    EXPECT_EQ(BrightBox(near, 250).count, 100 * 100);
    EXPECT_LE(BrightBox(RenderPlateau("zoom-min", {"--zoom", "1e-4"}), 0).count, 1);
}

// NaN and infinite samples are counted once on stderr and left out of the default window: the
// plateau of 0 .. 150 with two of them renders as the plateau does.
TEST(RenderToolFiles, NonFiniteSamplesAreCountedAndLeftOutOfTheWindow) {
    const std::string folder = TempFolder("nonfinite");
    const int n = 16;
    std::vector<float> samples(size_t(n) * n * n, 150.0f);
    samples[0] = 0.0f;
    samples[1] = std::nanf("");
    samples[2] = INFINITY;
    const std::string file = folder + "/plateau.f32";
    WriteBytes(file, samples.data(), samples.size() * sizeof(float));
    const std::string output = folder + "/out.png";
    const RunResult r = Render({"--raw", file, "--dims", "16", "16", "16", "--type", "float32",
                                "--size", "100x100", "-o", output});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(CountLines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("2 samples are not finite"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("window 150 / 75"), std::string::npos) << r.out;
    EXPECT_EQ(LoadPicture(output).At(50, 50), 255);
}

TEST(RenderToolCommandLine, HelpListsTheOptions) {
    const RunResult r = Render({"--help"});
    ASSERT_EQ(r.code, 0);
    for (const char* option :
         {"--raw", "--dims", "--type", "--spacing", "--size", "--azimuth", "--elevation", "--zoom",
          "--window", "--crop", "--frames", "--output", "--gl"}) {
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
    }
}

// Bad input: exit code 2, one line naming the file or option, and no output file, not even a
// temporary one; an older file of the output's name stays untouched.
TEST(RenderToolCommandLine, BadInputGivesOneLineExitCode2AndNoOutput) {
    const std::string folder = TempFolder("bad");
    const std::string output = folder + "/out.png";

    const std::string shortFile = folder + "/short.kvol";  // header promises 4^3 uint16
    const int dims4[3] = {4, 4, 4};
    const float unit[3] = {1.0f, 1.0f, 1.0f};
    const std::vector<uint8_t> ten(10, 7);
    WriteStructured(shortFile, dims4, unit, 0, 0, 16, ten.data(), ten.size());
    const std::string zeroDims = folder + "/zero.kvol";
    const int dims0[3] = {4, 0, 4};
    WriteStructured(zeroDims, dims0, unit, 0, 0, 8, nullptr, 0);
    const std::string oddBits = folder + "/bits.kvol";
    const std::vector<uint8_t> samples(64 * 2, 1);
    WriteStructured(oddBits, dims4, unit, 0, 0, 12, samples.data(), 96);
    const std::string negativeSpacing = folder + "/spacing.kvol";
    const float badSpacing[3] = {1.0f, -2.0f, 1.0f};
    WriteStructured(negativeSpacing, dims4, badSpacing, 0, 0, 8, samples.data(), 64);
    const std::string tiny = folder + "/tiny.kvol";
    WriteBytes(tiny, "abc", 3);
    const std::string raw = folder + "/vol.raw";
    WriteBytes(raw, samples.data(), 100);
    const std::string missing = folder + "/missing.kvol";
    const std::string hugeSpacing = folder + "/huge.kvol";  // finite, but past the camera maths
    const float huge[3] = {1e19f, 1e19f, 1e19f};
    WriteStructured(hugeSpacing, dims4, huge, 0, 0, 8, samples.data(), 64);

    struct Case {
        std::vector<std::string> args;
        std::string mentions;
    };
    const std::vector<Case> cases = {
        {{"--bogus"}, "--bogus"},
        {{"--view", "sphere"}, "--view"},
        {{"--size", "0x10"}, "--size"},
        {{"--size", "640"}, "--size"},
        {{"--zoom", "0"}, "--zoom"},
        {{"--window", "0", "5"}, "--window"},
        {{"--window", "10"}, "--window"},
        {{"--frames", "zero"}, "--frames"},
        {{"--azimuth", "north"}, "--azimuth"},
        {{"--phantom-size", "8", "--crop", "0", "7", "0", "7", "0", "9"}, "--crop"},
        {{"--crop", "5", "1", "0", "1", "0", "1"}, "--crop"},
        {{"--raw", raw, "--dims", "4", "4"}, "--dims"},
        {{"--raw", raw, "--dims", "4", "4", "4"}, "--raw"},
        {{"--raw", raw, "--dims", "4", "4", "4", "--type", "uint17"}, "uint17"},
        {{"--raw", raw, "--dims", "4", "4", "4", "--type", "uint8"}, raw},
        {{"--dims", "4", "4", "4"}, "--dims"},
        {{missing}, missing},
        {{shortFile}, shortFile},
        {{zeroDims}, zeroDims},
        {{oddBits}, oddBits},
        {{negativeSpacing}, negativeSpacing},
        {{tiny}, tiny},
        {{tiny, shortFile}, shortFile},
        {{hugeSpacing}, hugeSpacing},
        // empty names, and numbers too small or too large in magnitude for the camera maths
        {{""}, "VOLUME: empty"},
        {{"--raw", ""}, "--raw: empty"},
        {{"--output", ""}, "--output: empty"},
        {{"--window", "1e-38", "0"}, "too small"},
        {{"--zoom", "1e-38"}, "too small"},
        {{"--raw", raw, "--dims", "4", "4", "4", "--type", "uint8", "--spacing", "1e-45", "1", "1"},
         "too small"},
        {{"--raw", raw, "--dims", "4", "4", "4", "--type", "uint8", "--spacing", "3e38", "1", "1"},
         "--spacing"},
        {{"--raw", raw, "--dims", "4", "4", "4", "--type", "uint8", "--spacing", "1e-20", "1", "1"},
         "--spacing"},
        {{"--raw", raw, "--dims", "4", "4", "4", "--type", "uint8", "--spacing", "1", "1.1e6", "1"},
         "--spacing"},
        {{"--raw", raw, "--dims", "4", "4", "4", "--type", "uint8", "--spacing", "1", "1", "9e-7"},
         "--spacing"},
        {{"--zoom", "1e30"}, "--zoom"},
        {{"--zoom", "1.1e4"}, "--zoom"},
        {{"--zoom", "9e-5"}, "--zoom"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), {"--output", output});  // a later --output "" wins
        const RunResult r = Render(args);
        EXPECT_EQ(r.code, 2) << c.mentions << ": " << r.err;
        EXPECT_EQ(CountLines(r.err), 1) << r.err;
        EXPECT_EQ(r.err.rfind("kestrel-render: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.mentions), std::string::npos) << r.err;
        EXPECT_FALSE(FileExists(output)) << c.mentions;
    }
    // Nothing but the inputs is left behind.
    EXPECT_EQ(FolderEntries(folder).size(), 7u);

    // An unwritable destination is named and fails before any rendering.
    const RunResult denied = Render({"--output", folder + "/no/such/dir/x.png"});
    EXPECT_EQ(denied.code, 2);
    EXPECT_NE(denied.err.find(folder + "/no/such/dir/x.png"), std::string::npos) << denied.err;

    const RunResult folderOutput = Render({"--phantom-size", "8", "--output", folder});
    EXPECT_EQ(folderOutput.code, 2);
    EXPECT_NE(folderOutput.err.find("folder"), std::string::npos) << folderOutput.err;

    // --gl without a display is a bad option, not a crash.
    const RunResult noDisplay = Render({"--gl", "--phantom-size", "8", "--output", output});
    EXPECT_EQ(noDisplay.code, 2);
    EXPECT_NE(noDisplay.err.find("--gl"), std::string::npos) << noDisplay.err;
    EXPECT_FALSE(FileExists(output));

    // A failing run leaves an existing file of the output's name as it was.
    WriteBytes(output, "old", 3);
    const RunResult failed = Render({missing, "--output", output});
    EXPECT_EQ(failed.code, 2);
    EXPECT_EQ(ReadText(output), "old");
}

// A folder without DICOM images or a named pipe given as the volume (structured or raw) is
// refused by name at once: no made-up file length in the message, and no wait for a writer on
// the pipe.
TEST(RenderToolCommandLine, FoldersAndPipesAreRefusedAsVolumes) {
    const std::string inputs = TempFolder("special");
    const std::string folder = inputs + "/volume.kvol";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    const std::string pipe = inputs + "/pipe.kvol";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
    const std::string output = TempFolder("special-out") + "/out.png";
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{folder}, folder + ": no DICOM images found in the folder"},
        {{"--raw", folder, "--dims", "1", "1", "1", "--type", "uint8"}, folder + ": is a folder"},
        {{pipe}, pipe + ": is not a regular file"},
        {{"--raw", pipe, "--dims", "1", "1", "1", "--type", "uint8"},
         pipe + ": is not a regular file"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), RenderExe());
        args.insert(args.end(), {"--output", output});
        const RunResult r = RunApp(args, false, 20.0);  // a run waiting on the pipe is killed
        EXPECT_EQ(r.code, 2) << c.message << ": " << r.err;
        EXPECT_EQ(CountLines(r.err), 1) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(FileExists(output)) << c.message;
    }
}

// A slice (flat along one axis) shows; a line or a point cannot, and the tool says why.
TEST(RenderToolFlatVolumes, LinesAndPointsWarnThatThePictureIsEmpty) {
    const std::string folder = TempFolder("flat");
    const uint16_t sample = 5;
    WriteBytes(folder + "/one.raw", &sample, sizeof sample);
    const RunResult point = Render({"--raw", folder + "/one.raw", "--dims", "1", "1", "1", "--type",
                                    "uint16", "--output", folder + "/point.png"});
    EXPECT_EQ(point.code, 0) << point.err;
    EXPECT_NE(point.err.find("a single point, which has no area to show"), std::string::npos)
        << point.err;
    const RunResult line = Render({"--phantom-size", "16", "--crop", "3", "3", "0", "15", "4", "4",
                                   "--output", folder + "/line.png"});
    EXPECT_NE(line.err.find("is a line"), std::string::npos) << line.err;
    const RunResult plane = Render({"--phantom-size", "16", "--crop", "3", "3", "0", "15", "0",
                                    "15", "--output", folder + "/plane.png"});
    EXPECT_EQ(plane.err.find("warning"), std::string::npos) << plane.err;
    EXPECT_GT(BrightBox(LoadPicture(folder + "/plane.png"), 20).count, 100);
}

// --convert refuses what every output refuses: a FIFO and the input itself, both left as they
// were.
TEST(RenderToolConvert, RefusesAPipeAndTheInput) {
    const std::string folder = TempFolder("convert_rules");
    const int dims[3] = {2, 2, 2};
    const float spacings[3] = {1.0f, 1.0f, 1.0f};
    const std::string input = folder + "/v.vol";
    const std::vector<uint16_t> samples(8, 7);
    WriteStructured(input, dims, spacings, 0, 0, 16, samples.data(), 16);
    const std::string fifo = folder + "/pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const RunResult piped = Render({input, "--convert", fifo});
    EXPECT_EQ(piped.code, 2);
    EXPECT_NE(piped.err.find("not a regular file"), std::string::npos) << piped.err;
    struct stat info;
    ASSERT_EQ(stat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    const RunResult self = Render({input, "--convert", input});
    EXPECT_EQ(self.code, 2);
    EXPECT_NE(self.err.find("is the input file"), std::string::npos) << self.err;
    EXPECT_EQ(ReadText(input).size(), 32u + 16u);
}
