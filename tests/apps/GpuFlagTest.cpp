// --gpu in both tools: the mip, iso and full views cast on KestrelCUDA, say which back end, and on
// its host back end draw the CPU views' pictures (the full view without its per-pixel start
// offset, which only the CPU casts); a view without a GPU twin refuses the flag; --preintegration
// works on both.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AppTestUtil.h"
#include "CUDAInit.h"

using namespace apptest;

namespace {

// kestrel-render on the 48^3 phantom into `output`, with or without a display and --gpu.
RunResult Render(const std::string& output, const std::vector<std::string>& extra, bool display,
                 bool gpu = false) {
    std::vector<std::string> args = {RenderExe(), "--phantom-size", "48",  "--size",
                                     "140x100",   "--output",       output};
    args.insert(args.end(), extra.begin(), extra.end());
    if (gpu) args.push_back("--gpu");
    return RunApp(args, display);
}

}  // namespace

// kestrel-render's pictures with and without --gpu, the CPU composite and the GL drawing (which
// starts the library in the scene's first frame). On the host back end the GPU views run the
// CPU kernels, so the pictures are equal to the byte.
TEST(GpuFlag, RenderDrawsTheCPUPicturesAndNamesTheBackEnd) {
    CUDAInit(true);  // the back end the tools will find on this machine
    const bool onHost = std::string(CUDAActiveBackEnd()) == "host";
    const std::string folder = TempFolder("gpuflag");
    for (const char* view : {"mip", "iso", "full"}) {
        for (const bool gl : {false, true}) {
            if (gl && !HaveDisplay()) continue;
            std::vector<std::string> extra = {"--view", view, "--azimuth", "25"};
            if (std::string(view) == "full") extra.push_back("--no-jitter");
            if (gl) extra.push_back("--gl");
            const std::string name = folder + "/" + view + (gl ? "_gl" : "");
            const RunResult runs[2] = {Render(name + "_cpu.png", extra, gl),
                                       Render(name + "_gpu.png", extra, gl, true)};
            ASSERT_EQ(runs[0].code, 0) << view << (gl ? " GL " : " ") << runs[0].err;
            ASSERT_EQ(runs[1].code, 0) << view << (gl ? " GL " : " ") << runs[1].err;
            EXPECT_NE(runs[1].out.find(std::string("(KestrelCUDA, ") + CUDAActiveBackEnd() +
                                       " back end)"),
                      std::string::npos)
                << runs[1].out;
            const Picture cpu = LoadPicture(name + "_cpu.png");
            const Picture gpu = LoadPicture(name + "_gpu.png");
            EXPECT_LE(MaxDifference(cpu, gpu), onHost ? 0 : 1) << view << (gl ? " GL" : "");
            EXPECT_GT(BrightBox(gpu, 40).count, 500) << view;  // not an empty picture
        }
    }
}

// The pre-integrated full view says so and draws the post-classified picture up to the sampling
// difference of the two methods (at most 12 of 255 per channel at the default sample distance,
// measured 7, through a grey ramp over the phantom's values), both without the CPU's per-pixel
// start offset; without --gpu the CPU draws the same pre-integrated picture.
TEST(GpuFlag, PreintegrationDrawsTheFullViewOnBoth) {
    const std::string folder = TempFolder("gpupre");
    const std::string ramp =
        "kestrel-transfer-function 1\nrange 0 3500\nsamples 256\n"
        "point 0 0 0 0 0\npoint 3500 1 1 1 0.5\n";
    WriteBytes(folder + "/ramp.ktf", ramp.data(), ramp.size());
    const std::vector<std::string> full = {"--view",      "full", "--azimuth",         "25",
                                           "--no-jitter", "--tf", folder + "/ramp.ktf"};
    std::vector<std::string> preintegrated = full;
    preintegrated.push_back("--preintegration");
    const RunResult post = Render(folder + "/post.png", full, false);
    const RunResult pre = Render(folder + "/pre.png", preintegrated, false, true);
    ASSERT_EQ(post.code, 0) << post.err;
    ASSERT_EQ(pre.code, 0) << pre.err;
    EXPECT_NE(pre.out.find(", pre-integrated"), std::string::npos) << pre.out;
    const Picture picture = LoadPicture(folder + "/pre.png");
    EXPECT_LE(MaxDifference(LoadPicture(folder + "/post.png"), picture), 12);
    EXPECT_GT(BrightBox(picture, 40).count, 500);

    const RunResult cpu = Render(folder + "/cpu.png", preintegrated, false);
    ASSERT_EQ(cpu.code, 0) << cpu.err;
    EXPECT_NE(cpu.out.find(", pre-integrated"), std::string::npos) << cpu.out;
    EXPECT_LE(MaxDifference(LoadPicture(folder + "/cpu.png"), picture), 12);
}

// 'i' switches the full view's pre-integration, on the GPU and on the CPU.
TEST(GpuFlag, ViewerKeySwitchesPreintegration) {
    if (!HaveDisplay()) GTEST_SKIP() << "no DISPLAY";
    const std::string folder = TempFolder("gpukey");
    const RunResult gpu =
        ShowPhantom(folder + "/gpu.png", "key i; key i; key i", {"--view", "full", "--gpu"});
    ASSERT_EQ(gpu.code, 0) << gpu.err;
    const std::size_t on = gpu.out.find("pre-integration on");
    ASSERT_NE(on, std::string::npos) << gpu.out;
    const std::size_t off = gpu.out.find("pre-integration off", on);
    ASSERT_NE(off, std::string::npos) << gpu.out;
    EXPECT_NE(gpu.out.find("pre-integration on", off), std::string::npos) << gpu.out;

    const RunResult cpu = ShowPhantom(folder + "/cpu.png", "key i", {"--view", "full"});
    ASSERT_EQ(cpu.code, 0) << cpu.err;
    EXPECT_NE(cpu.out.find("pre-integration on"), std::string::npos) << cpu.out;
}

TEST(GpuFlag, ViewerNamesTheBackEndAndTheCubeRefusesTheFlag) {
    if (!HaveDisplay()) GTEST_SKIP() << "no DISPLAY";
    const std::string folder = TempFolder("gpuviewer");
    const RunResult shown = ShowPhantom(folder + "/iso.png", "", {"--view", "iso", "--gpu"});
    ASSERT_EQ(shown.code, 0) << shown.err;
    EXPECT_NE(shown.out.find("casting on KestrelCUDA, "), std::string::npos) << shown.out;
    EXPECT_GT(BrightBox(LoadPicture(folder + "/iso.png"), 40).count, 300);

    const RunResult refused = RunApp({ViewerExe(), "--view", "cube", "--gpu"});
    EXPECT_EQ(refused.code, 2);
    EXPECT_NE(refused.err.find("--gpu: the cube view has no GPU twin"), std::string::npos)
        << refused.err;
}
