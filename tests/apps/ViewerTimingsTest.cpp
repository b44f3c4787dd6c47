// kestrel-viewer's scripted drag as a live session sees it: one frame per move, coarse while the
// drag is under way unless turned off, then refinement frames ending in a full-quality frame,
// each frame one line of --timings.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "AppTestUtil.h"

using namespace apptest;

namespace {

struct TimedFrame {
    int index = 0;
    double ms = -1.0;
    std::string level;
};

// The lines of a --timings file after its "frame,ms,level" header.
std::vector<TimedFrame> ReadTimings(const std::string& path, std::string* header) {
    std::istringstream in(ReadText(path));
    std::vector<TimedFrame> frames;
    std::getline(in, *header);
    for (std::string line; std::getline(in, line);) {
        TimedFrame frame;
        std::istringstream fields(line);
        std::string index, ms;
        std::getline(fields, index, ',');
        std::getline(fields, ms, ',');
        std::getline(fields, frame.level);
        frame.index = std::stoi(index);
        frame.ms = std::stod(ms);
        frames.push_back(frame);
    }
    return frames;
}

// Frame 1 comes before the script, frames 2 .. 31 after its 30 moves; the run ends at the first
// full-quality frame after the script (--frames 1).
TEST(ViewerTimings, DragOfThirtyMovesGivesThirtyFramesThenRefinement) {
    if (!HaveDisplay()) GTEST_SKIP() << "no DISPLAY";
    std::string drag = "ldown 80 60";
    for (int i = 1; i <= 30; ++i)
        drag += "; move " + std::to_string(80 + 2 * i) + " 60";
    drag += "; lup 140 60";
    struct Case {
        const char* option;  // extra viewer option
        bool coarseDrag;     // the drag frames are coarse
    };
    for (const Case& c : {Case{"--frame-budget=1", true}, Case{"--full-frames", false}}) {
        SCOPED_TRACE(c.option);
        const std::string csv = TempFolder("timings") + "/frames.csv";
        const RunResult run =
            RunApp({ViewerExe(), "--phantom-size", "48", "--size", "160x120", "--frames", "1",
                    "--events", drag, "--timings", csv, c.option});
        ASSERT_EQ(run.code, 0) << run.err;
        std::string header;
        const std::vector<TimedFrame> frames = ReadTimings(csv, &header);
        EXPECT_EQ(header, "frame,ms,level");
        ASSERT_GE(frames.size(), 32u);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].index, int(i) + 1);
            EXPECT_GE(frames[i].ms, 0.0);
            const bool dragFrame = i >= 1 && i <= 30;
            const bool coarse = frames[i].level.rfind("coarse", 0) == 0;
            EXPECT_EQ(coarse, dragFrame && c.coarseDrag)
                << "frame " << i + 1 << " " << frames[i].level;
            // With coarse frames only the first frame and the last are full: the run ends at
            // the first full one after the script; without them every frame is full.
            const bool full = frames[i].level == "full";
            EXPECT_EQ(full, !c.coarseDrag || i == 0 || i + 1 == frames.size()) << i + 1;
        }
        if (!c.coarseDrag) {
            EXPECT_EQ(frames.size(), 32u);
        }
    }
}

}  // namespace
