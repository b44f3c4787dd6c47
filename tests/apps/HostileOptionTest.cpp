// Inputs and values a hostile user gives both tools: each run ends within its own time limit,
// with exit status 2 and one line that says what is wrong, or renders with a warning instead of
// a blank picture.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "AppTestUtil.h"

using namespace apptest;

namespace {

// Seconds a case may take: far above a correct run, far below a hang.
constexpr double kCaseSeconds = 60.0;

struct Refusal {
    std::vector<std::string> args;  // after the executable
    bool viewer;                    // kestrel-viewer (needs a display) or kestrel-render
    std::string message;            // the one line on stderr, after "<tool>: "
};

TEST(HostileOptionTest, BadInputsAreRefusedInOneLineWithoutHanging) {
    const std::string dir = TempFolder("hostile");
    const std::string pipe = dir + "/pipe.ktf";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
    const std::string out = dir + "/out.png";
    const std::vector<Refusal> cases = {
        {{"--view", "full", "--tf", pipe, "-o", out},
         false,
         pipe + ": is not a regular file (a pipe, a device or a socket)"},
        {{"--view", "full", "--tf", pipe, "--frames", "1"},
         true,
         pipe + ": is not a regular file (a pipe, a device or a socket)"},
        {{"--view", "full", "--tf", "ct-bnoe", "-o", out},
         false,
         "ct-bnoe: no such file, and no preset of that name (presets: ct-soft-tissue-bone, "
         "ct-bone, mr-default)"},
        {{"--frames", "1", "--screenshot", dir + "/missing/shot.png"},
         true,
         "--screenshot " + dir + "/missing/shot.png: folder " + dir + "/missing does not exist"},
        {{"--shot-dir", dir + "/missing"}, true, "--shot-dir " + dir + "/missing: does not exist"},
    };
    for (const Refusal& c : cases) {
        if (c.viewer && !HaveDisplay()) continue;
        std::vector<std::string> args = {c.viewer ? ViewerExe() : RenderExe(), "--phantom-size",
                                         "16"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = RunApp(args, c.viewer, kCaseSeconds);
        const std::string tool = c.viewer ? "kestrel-viewer: " : "kestrel-render: ";
        EXPECT_EQ(r.code, 2) << c.message << "\n" << r.err;
        EXPECT_EQ(r.err, tool + c.message + "\n");
    }
    EXPECT_EQ(FolderEntries(dir).size(), 1u) << "only the pipe";
}

// A sample distance of 1e-6 would take 4e8 samples a ray: it is clamped with a warning and the
// picture shows the head (before, it ran for minutes or came out black).
TEST(HostileOptionTest, TinySampleDistanceIsClampedAndStillShowsTheVolume) {
    const std::string output = TempFolder("distance") + "/full.png";
    const RunResult r = RunApp({RenderExe(), "--phantom-size", "32", "--size", "64x64", "--view",
                                "full", "--sample-distance", "1e-6", "-o", output},
                               false, kCaseSeconds);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.rfind("warning: --sample-distance 1e-06 gives 4.3e+08 samples", 0), 0u)
        << r.err;
    EXPECT_EQ(CountLines(r.err), 1) << r.err;
    EXPECT_GT(BrightBox(LoadPicture(output), 16).count, 100);
}

}  // namespace
