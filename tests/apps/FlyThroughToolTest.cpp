// The fly-through camera of both tools: kestrel-render's slice and path frames checked pixel by
// pixel against the phantom's voxels at the positions the voxel-coordinate options name, and the
// viewer's slice companion beside the view, steered from either half.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "AppTestUtil.h"
#include "HeadPhantom.h"
#include "VolumeData.h"

using namespace apptest;

namespace {

constexpr int kPhantom = 48;  // voxels per side, 256 / 48 mm each: one slice pixel per voxel
constexpr int kSide = 64;     // image side

// The phantom as the tools build it, with its grey window over the value range.
struct Phantom {
    std::unique_ptr<VolumeData> data{CreateHeadPhantom(kPhantom)};
    double low = 0.0, high = 0.0;
    Phantom() { data->GetMinMaxValue(low, high); }

    double Voxel(int i, int j, int k) const {
        return static_cast<const uint16_t*>(data->GetData())[i + kPhantom * (j + kPhantom * k)];
    }
    // 8-bit grey of the value halfway between two neighbouring voxels (a pixel centre lies half
    // a slice pixel, i.e. half a voxel, beyond the eye).
    int GreyBetween(const int a[3], const int b[3]) const {
        const double value = 0.5 * (Voxel(a[0], a[1], a[2]) + Voxel(b[0], b[1], b[2]));
        const double grey = (value - 0.5 * (low + high)) / (high - low) + 0.5;
        return int(std::lround(std::fmin(1.0, std::fmax(0.0, grey)) * 255.0));
    }
};

const Phantom& ThePhantom() {
    static const Phantom phantom;
    return phantom;
}

RunResult Render(std::vector<std::string> args) {
    args.insert(args.begin(),
                {BinDir() + "/kestrel-render", "--phantom-size", std::to_string(kPhantom), "--size",
                 std::to_string(kSide) + "x" + std::to_string(kSide)});
    return RunApp(args, false);
}

// Pixels ahead of the eye along the viewing direction `step` (a unit voxel axis) in the
// picture: in the horizontal cut column kSide / 2 upward from the bottom row, in the vertical
// cut row kSide / 2 (from the bottom) rightward from the first column. Pixel n is centred
// n + 0.5 voxels ahead.
void ExpectSamplesAhead(const Picture& picture, bool horizontal, const int eye[3],
                        const int step[3], const char* what) {
    const Phantom& phantom = ThePhantom();
    for (int n = 0; n < 12; ++n) {
        int a[3], b[3];
        for (int axis = 0; axis < 3; ++axis) {
            a[axis] = eye[axis] + n * step[axis];
            b[axis] = a[axis] + step[axis];
        }
        const int x = horizontal ? kSide / 2 : n;
        const int yFromTop = horizontal ? kSide - 1 - n : kSide - 1 - kSide / 2;
        EXPECT_NEAR(picture.At(x, yFromTop), phantom.GreyBetween(a, b), 1)
            << what << ", pixel " << n << " ahead";
    }
}

TEST(RenderToolFlyThrough, SliceShowsTheVoxelsAheadOfTheEyeInVoxelCoordinates) {
    const std::string folder = TempFolder("flyslice");
    // Each line of pixels runs from inside the head through the skull into the air.
    struct Case {
        const char* cut;
        int eye[3];
        const char* look[3];
        int step[3];
    };
    const Case cases[] = {
        {"horizontal", {24, 30, 14}, {"0", "0", "-1"}, {0, 0, -1}},
        {"vertical", {24, 30, 14}, {"0", "0", "-1"}, {0, 0, -1}},
        {"horizontal", {34, 28, 24}, {"2", "0", "0"}, {1, 0, 0}},
        {"vertical", {24, 30, 34}, {"0", "0", "0.5"}, {0, 0, 1}},
    };
    for (const Case& c : cases) {
        const std::string output = folder + "/" + c.cut + c.look[0] + c.look[2] + ".png";
        const RunResult r = Render({"--eye", std::to_string(c.eye[0]), std::to_string(c.eye[1]),
                                    std::to_string(c.eye[2]), "--look", c.look[0], c.look[1],
                                    c.look[2], "--slice", c.cut, "--output", output});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.out.find("voxel coordinates"), std::string::npos) << r.out;
        const Picture picture = LoadPicture(output);
        ASSERT_EQ(picture.width, kSide);
        ExpectSamplesAhead(picture, std::string(c.cut) == "horizontal", c.eye, c.step,
                           output.c_str());
    }
}

TEST(RenderToolFlyThrough, PathFramesAreNumberedAndFollowTheLine) {
    const std::string folder = TempFolder("flypath");
    // Four frames from z = 20 to z = 14 in steps of 2, looking along -z towards the skull.
    RunResult r = Render({"--eye", "24", "30", "20", "--eye-to", "24", "30", "14", "--frames", "4",
                          "--slice", "horizontal", "--output", folder + "/path.png"});
    ASSERT_EQ(r.code, 0) << r.err;
    for (int frame = 1; frame <= 4; ++frame) {
        const std::string name = folder + "/path-000" + std::to_string(frame) + ".png";
        ASSERT_TRUE(FileExists(name)) << name << "\n" << r.out;
        const int eye[3] = {24, 30, 20 - 2 * (frame - 1)};
        const int step[3] = {0, 0, -1};
        ExpectSamplesAhead(LoadPicture(name), true, eye, step, name.c_str());
    }
    EXPECT_FALSE(FileExists(folder + "/path.png"));

    // The MIP view along a path: a frame per step, each different from the one before.
    r = Render({"--eye", "24", "24", "46", "--eye-to", "24", "24", "30", "--frames", "3",
                "--output", folder + "/mip.png"});
    ASSERT_EQ(r.code, 0) << r.err;
    const Picture first = LoadPicture(folder + "/mip-0001.png");
    const Picture second = LoadPicture(folder + "/mip-0002.png");
    const Picture third = LoadPicture(folder + "/mip-0003.png");
    EXPECT_GT(MaxDifference(first, second), 20);
    EXPECT_GT(MaxDifference(second, third), 20);

    // Bad combinations: one line, exit status 2.
    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--eye-to", "1", "2", "3"},
                                                {"--eye", "1", "2", "3", "--eye-to", "4", "5", "6"},
                                                {"--eye", "1", "2", "3", "--zoom", "2"},
                                                {"--eye", "1", "2", "3", "--look", "0", "0", "0"},
                                                {"--slice", "horizontal"},
                                                {"--eye", "1", "2", "3", "--slice", "diagonal"}}) {
        std::vector<std::string> args = bad;
        args.insert(args.end(), {"--output", folder + "/bad.png"});
        r = Render(args);
        EXPECT_EQ(r.code, 2) << bad[0];
        EXPECT_EQ(CountLines(r.err), 1) << r.err;
    }
}

// The viewer's slice companion: left half the slice (with its yellow field-of-view lines),
// right half the MIP view in endoscopy mode, one camera.
RunResult ShowPair(const std::string& shot, const std::string& events) {
    std::vector<std::string> args = {BinDir() + "/kestrel-viewer",
                                     "--phantom-size",
                                     std::to_string(kPhantom),
                                     "--size",
                                     "160x80",
                                     "--endoscopy",
                                     "--look-along",
                                     "-z",
                                     "--frames",
                                     "1",
                                     "--screenshot",
                                     shot};
    if (!events.empty()) args.insert(args.end(), {"--events", events});
    return RunApp(args);
}

bool IsYellow(const Picture& p, int x, int y) {
    return p.At(x, y, 0) > 200 && p.At(x, y, 1) > 200 && p.At(x, y, 2) < 80;
}

// Largest difference of one half (0: left, 1: right) of two 160 x 80 screenshots.
int HalfDifference(const Picture& a, const Picture& b, int half) {
    int worst = 0;
    for (int y = 0; y < 80; ++y)
        for (int x = half * 80; x < half * 80 + 80; ++x)
            worst = std::max(worst, std::abs(a.At(x, y) - b.At(x, y)));
    return worst;
}

TEST(ViewerEndoscopySlice, BesideTheViewAndSteeringOneCamera) {
    if (!HaveDisplay()) GTEST_SKIP() << "no DISPLAY";
    const std::string folder = TempFolder("pair");
    const std::string still = folder + "/still.png";
    RunResult r = ShowPair(still, "");
    ASSERT_EQ(r.code, 0) << r.err;
    const Picture base = LoadPicture(still);
    ASSERT_EQ(base.width, 160);
    // The horizontal cut's lines start at the bottom middle of the left half and leave it at the
    // top; none are drawn in the right half.
    int yellowLeft = 0, yellowRight = 0, yellowTop = 0;
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 160; ++x)
            (x < 80 ? yellowLeft : yellowRight) += IsYellow(base, x, y);
    for (int x = 0; x < 80; ++x)
        yellowTop += IsYellow(base, x, 0);
    EXPECT_GT(yellowLeft, 80);
    EXPECT_EQ(yellowRight, 0);
    EXPECT_GE(yellowTop, 2);
    EXPECT_TRUE(IsYellow(base, 40, 79) || IsYellow(base, 39, 79) || IsYellow(base, 41, 79));

    // A move drag in the slice (10 px down: the camera backs off 10 slice pixels) and a turn
    // drag in the view each change both halves. The frames are deterministic, so a change of
    // more than a few 8-bit steps is the drag's (the phantom's partial-volume boundaries are
    // soft, so the turn changes no pixel by 40 steps).
    for (const char* drag : {"ldown 30 30; move 40 50; lup 40 50",        // slice half
                             "ldown 120 40; move 130 40; lup 130 40"}) {  // view half
        const std::string shot = folder + "/drag.png";
        r = ShowPair(shot, drag);
        ASSERT_EQ(r.code, 0) << r.err;
        const Picture after = LoadPicture(shot);
        EXPECT_GT(HalfDifference(base, after, 0), 10) << drag;
        EXPECT_GT(HalfDifference(base, after, 1), 10) << drag;
    }

    // 'c': the vertical cut, its lines from the left middle to the right edge of the left half.
    const std::string vertical = folder + "/vertical.png";
    r = ShowPair(vertical, "key c");
    ASSERT_EQ(r.code, 0) << r.err;
    const Picture cut = LoadPicture(vertical);
    int yellowEdge = 0;
    for (int y = 0; y < 80; ++y)
        yellowEdge += IsYellow(cut, 79, y);
    EXPECT_GE(yellowEdge, 2);
    EXPECT_TRUE(IsYellow(cut, 0, 40) || IsYellow(cut, 0, 39));
    EXPECT_EQ(HalfDifference(base, cut, 1), 0);  // the view is unchanged

    // 'e' leaves endoscopy mode: the view fills the window again, no slice.
    const std::string examine = folder + "/examine.png";
    r = ShowPair(examine, "key e");
    ASSERT_EQ(r.code, 0) << r.err;
    const Picture whole = LoadPicture(examine);
    int yellow = 0;
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 160; ++x)
            yellow += IsYellow(whole, x, y);
    EXPECT_EQ(yellow, 0);
}

}  // namespace
