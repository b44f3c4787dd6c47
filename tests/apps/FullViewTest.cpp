// The full volume-rendering view in both tools and the viewer's transfer-function editor: the
// CPU composite against the scene drawn through GL, a transparent transfer function showing only
// the background, a bad transfer-function file, the editor's clicks, and its edits on their own.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "AppTestUtil.h"
#include "RGBATransferFunction1D.h"
#include "TransferFunctionEdit.h"
#include "VolumeData.h"

using namespace apptest;

namespace {

void WriteText(const std::string& path, const std::string& text) {
    WriteBytes(path, text.data(), text.size());
}

}  // namespace

// The phantom through the CT preset, shaded, on a coloured background: the CPU composite equals
// the GL drawing within one 8-bit step. A function that is transparent everywhere shows nothing
// but the background (round(255 * 0.2) = 51 in red, round(255 * 0.4) = 102 in green).
TEST(FullViewRender, CpuEqualsGLAndATransparentFunctionShowsTheBackground) {
    if (!HaveDisplay()) GTEST_SKIP() << "no DISPLAY";
    const std::string folder = TempFolder("fullview");
    const std::vector<std::string> view = {"--view",       "full", "--tf", "ct-soft-tissue-bone",
                                           "--background", "0.2",  "0.4",  "0",
                                           "--azimuth",    "30"};
    const Picture cpu = RenderPhantom(folder + "/cpu.png", view);
    std::vector<std::string> glArgs = {RenderExe(), "--phantom-size",   "48",  "--size", "140x100",
                                       "--output",  folder + "/gl.png", "--gl"};
    glArgs.insert(glArgs.end(), view.begin(), view.end());
    ASSERT_EQ(RunApp(glArgs).code, 0);
    EXPECT_LE(MaxDifference(cpu, LoadPicture(folder + "/gl.png")), 1);
    EXPECT_NE(cpu.At(70, 50, 1), 102);  // the head covers the middle

    WriteText(folder + "/clear.ktf",
              "kestrel-transfer-function 1\nrange 0 4096\nsamples 64\npoint 2000 1 1 1 0\n");
    const Picture clear = RenderPhantom(
        folder + "/clear.png",
        {"--view", "full", "--tf", folder + "/clear.ktf", "--background", "0.2", "0.4", "0"});
    for (int y = 0; y < clear.height; ++y) {
        for (int x = 0; x < clear.width; ++x) {
            ASSERT_EQ(clear.At(x, y, 0), 51) << x << "," << y;
            ASSERT_EQ(clear.At(x, y, 1), 102) << x << "," << y;
        }
    }
}

// A malformed transfer-function file: one line naming the file and the line, exit code 2, and
// no picture.
TEST(FullViewRender, BadTransferFunctionFileGivesOneLine) {
    const std::string folder = TempFolder("fullview_bad");
    WriteText(folder + "/bad.ktf", "kestrel-transfer-function 1\nrange 0 4096\nsamples x\n");
    const std::string output = folder + "/out.png";
    const RunResult r = RunApp({RenderExe(), "--phantom-size", "16", "--view", "full", "--tf",
                                folder + "/bad.ktf", "--output", output},
                               false);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(CountLines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("bad.ktf:3"), std::string::npos) << r.err;
    EXPECT_FALSE(FileExists(output));
}

// The editor panel takes the mouse over its plot: a press where no point is adds one, the drag
// moves it, a right click on it deletes it again. The scene never sees these events: a drag
// that reached it would turn the camera, which would show right of the panel.
TEST(FullViewViewer, EditorClicksAddMoveAndDeletePoints) {
    if (!HaveDisplay()) GTEST_SKIP() << "no DISPLAY";
    const std::string folder = TempFolder("fullview_editor");
    const std::vector<std::string> run = {
        ViewerExe(), "--view",  "full",     "--tf", "ct-soft-tissue-bone", "--phantom-size", "32",
        "--size",    "900x420", "--frames", "1",    "--screenshot"};
    std::vector<std::string> first = run;
    first.push_back(folder + "/a.png");
    const RunResult probe = RunApp(first);
    ASSERT_EQ(probe.code, 0) << probe.err;
    int plotX = 0, plotY = 0;
    const size_t at = probe.out.find("plot at ");
    ASSERT_NE(at, std::string::npos) << probe.out;
    ASSERT_EQ(std::sscanf(probe.out.c_str() + at, "plot at %d %d", &plotX, &plotY), 2);
    // Press at value 512 (an eighth of 0 .. 4096, in the transparent stretch below the first point
    // at 900), opacity 0.5, drag 30 pixels right, then right-click the point where it now is.
    const std::string x0 = std::to_string(plotX + 40), x1 = std::to_string(plotX + 70);
    const std::string y = std::to_string(plotY + 60);
    const std::string events = "ldown " + x0 + " " + y + "; move " + x1 + " " + y + "; lup " + x1 +
                               " " + y + "; rdown " + x1 + " " + y + "; rup " + x1 + " " + y;
    std::vector<std::string> second = run;
    second.insert(second.end(), {folder + "/b.png", "--events", events});
    const RunResult r = RunApp(second);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("point added: 8 points"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("point deleted: 7 points"), std::string::npos) << r.out;
    const Picture a = LoadPicture(folder + "/a.png"), b = LoadPicture(folder + "/b.png");
    int differing = 0;
    for (int py = 0; py < a.height; ++py) {
        for (int px = plotX + 420; px < a.width; ++px)
            differing += std::abs(a.At(px, py) - b.At(px, py)) > 1;
    }
    EXPECT_EQ(differing, 0);
}

// The edits: the histogram counts samples per bin (the top value in the last bin), a moved
// point keeps its colour and the points stay sorted, the pick box finds the nearest point only
// inside it.
TEST(TransferFunctionEdit, HistogramMoveAndPick) {
    VolumeData volume;
    const int dims[3] = {4, 1, 1};
    volume.SetDataType(VolumeData::dtUint8);
    volume.SetDimensions(dims);
    volume.Allocate();
    unsigned char* samples = static_cast<unsigned char*>(volume.GetData());
    samples[0] = 0;
    samples[1] = 10;
    samples[2] = 99;
    samples[3] = 100;
    const std::vector<double> histogram = ValueHistogram(volume, 0.0, 100.0, 10);
    const std::vector<double> expected = {1, 1, 0, 0, 0, 0, 0, 0, 0, 2};
    EXPECT_EQ(histogram, expected);

    RGBATransferFunction1D function;
    function.SetMinPos(0.0f);
    function.SetMaxPos(255.0f);
    function.AddPoint(50.0f, Vector4(1.0f, 0.0f, 0.0f, 0.2f));
    function.AddPoint(150.0f, Vector4(0.0f, 1.0f, 0.0f, 0.8f));
    const int moved = MovePoint(function, 0, 200.0f, 1.5f);
    EXPECT_EQ(moved, 1);
    EXPECT_FLOAT_EQ(function.GetPos(1), 200.0f);
    EXPECT_FLOAT_EQ(function.GetValue(1).x, 1.0f);  // red kept
    EXPECT_FLOAT_EQ(function.GetValue(1).w, 1.0f);  // opacity clamped
    EXPECT_FLOAT_EQ(function.GetPos(0), 150.0f);

    EXPECT_EQ(PointNear(function, 152.0f, 0.78f, 5.0f, 0.05f), 0);
    EXPECT_EQ(PointNear(function, 160.0f, 0.8f, 5.0f, 0.05f), -1);
    EXPECT_EQ(PointNear(function, 198.0f, 1.0f, 5.0f, 0.05f), 1);
}
