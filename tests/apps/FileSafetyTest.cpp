// What both tools promise about the files they write: only a regular file (or a new name) is
// ever replaced, never an input, never by a partial file; interrupts, full disks and long names
// leave nothing behind; screenshots never replace earlier ones; running out of memory is one line.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <string>
#include <vector>

#include "AppTestUtil.h"

using namespace apptest;

namespace {

// A small, fast render of the phantom into `output`, with `extra` options.
std::vector<std::string> RenderArgs(const std::string& output,
                                    std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {RenderExe(), "--phantom-size", "16", "--size", "40x30", "-o",
                                     output};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

// A scripted viewer run of the cube saving `shot`.
std::vector<std::string> ScreenshotArgs(const std::string& shot,
                                        std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {ViewerExe(), "--view", "cube",         "--size", "40x30",
                                     "--frames",  "1",      "--screenshot", shot};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

bool IsPng(const std::string& path) {
    return ReadText(path).rfind("\x89PNG", 0) == 0;
}

// The file type and device number of a path itself (not followed).
std::pair<mode_t, dev_t> Kind(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return {0, 0};
    return {info.st_mode & S_IFMT, info.st_rdev};
}

// One refused run: exit 2, one line that names `mentions`.
void ExpectRefused(const RunResult& r, const std::string& mentions) {
    EXPECT_EQ(r.code, 2) << mentions << ": " << r.err;
    EXPECT_EQ(CountLines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find(mentions), std::string::npos) << r.err;
}

}  // namespace

// A FIFO, devices and folders are refused at once and stay as they were; a symbolic link is
// followed to the regular file it names, which is replaced while the link stays.
TEST(FileSafety, OnlyRegularFilesAreReplaced) {
    const std::string folder = TempFolder("special-outputs");
    const std::string fifo = folder + "/fifo.png";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    std::vector<std::string> refused = {fifo, folder};
    // Devices like the system's null and full devices, made here (needs the right to mknod).
    for (const auto& device : {std::pair{"null.png", 3}, {"full.png", 7}}) {
        const std::string path = folder + "/" + device.first;
        if (mknod(path.c_str(), S_IFCHR | 0666, makedev(1, device.second)) == 0) {
            refused.push_back(path);
        }
    }
    for (const std::string& path : refused) {
        const auto before = Kind(path);
        ExpectRefused(RunApp(RenderArgs(path), false, 20.0), path);
        ExpectRefused(RunApp(ScreenshotArgs(path), false, 20.0), path);  // before any display
        EXPECT_EQ(Kind(path), before) << path;
    }

    const std::string target = folder + "/target.png";
    WriteBytes(target, "old", 3);
    const std::string link = folder + "/link.png";
    ASSERT_EQ(symlink("target.png", link.c_str()), 0);
    ASSERT_EQ(RunApp(RenderArgs(link), false).code, 0);
    EXPECT_EQ(Kind(link).first, mode_t(S_IFLNK));
    EXPECT_TRUE(IsPng(target));

    // A link to the process's own standard output writes through to the file it is redirected
    // to (here the test's capture file); a link to nothing is refused.
    const std::string toStdout = folder + "/stdout.png";
    ASSERT_EQ(symlink("/proc/self/fd/1", toStdout.c_str()), 0);
    const RunResult through = RunApp(RenderArgs(toStdout), false);
    EXPECT_EQ(through.code, 0) << through.err;
    EXPECT_EQ(through.out.rfind("\x89PNG", 0), 0u);
    const std::string dangling = folder + "/dangling.png";
    ASSERT_EQ(symlink("missing/x.png", dangling.c_str()), 0);
    ExpectRefused(RunApp(RenderArgs(dangling), false), dangling);
    EXPECT_EQ(Kind(dangling).first, mode_t(S_IFLNK));
}

// The input is compared as a file (device and inode), whatever its spelling: the same name, a
// hard link, a symbolic link, raw or structured, in both tools.
TEST(FileSafety, TheInputIsNeverTheOutput) {
    const std::string folder = TempFolder("input-output");
    const int dims[3] = {4, 4, 4};
    const float unit[3] = {1.0f, 1.0f, 1.0f};
    const std::vector<uint8_t> samples(64, 9);
    const std::string volume = folder + "/v.kvol";
    WriteStructured(volume, dims, unit, 0, 0, 8, samples.data(), samples.size());
    const std::string hard = folder + "/hard.png";
    ASSERT_EQ(link(volume.c_str(), hard.c_str()), 0);
    const std::string soft = folder + "/soft.png";
    ASSERT_EQ(symlink("v.kvol", soft.c_str()), 0);
    const std::string respelled =
        folder + "/./../" + folder.substr(folder.rfind('/') + 1) + "/v.kvol";
    const std::string original = ReadText(volume);
    for (const std::string& output : {volume, respelled, hard, soft}) {
        ExpectRefused(RunApp({RenderExe(), volume, "-o", output}, false), "input");
        // the same 96 bytes as raw samples
        ExpectRefused(RunApp({RenderExe(), "--raw", volume, "--dims", "6", "4", "4", "--type",
                              "uint8", "-o", output},
                             false),
                      "input");
        ExpectRefused(RunApp({ViewerExe(), volume, "--frames", "1", "--screenshot", output}, false),
                      "input");
    }
    EXPECT_EQ(ReadText(volume), original);
}

// A write that fails half-way (the file size limit stands in for a full disk) leaves the old
// file as it was and no temporary file; the run fails with exit status 1 and one line.
TEST(FileSafety, FailedWritesLeaveTheDestinationAsItWas) {
    const std::string folder = TempFolder("failed-write");
    const std::string output = folder + "/out.png";
    WriteBytes(output, "old", 3);
    // the phantom's MIP of 300 x 300 pixels compresses to far more than 1000 bytes
    std::vector<std::vector<std::string>> runs = {
        RenderArgs(output, {"--phantom-size", "48", "--size", "300x300"})};
    if (HaveDisplay()) {
        runs.push_back({ViewerExe(), "--phantom-size", "48", "--size", "300x300", "--frames", "1",
                        "--screenshot", output});
    }
    for (const std::vector<std::string>& args : runs) {
        const RunResult r = RunApp(args, true, 120.0, FileSizeLimit(1000));
        EXPECT_EQ(r.code, 1) << args[0] << ": " << r.err;
        EXPECT_EQ(CountLines(r.err), 1) << r.err;
        EXPECT_NE(r.err.find(output), std::string::npos) << r.err;
        EXPECT_EQ(ReadText(output), "old");
        EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"out.png"});
    }
}

// SIGINT, SIGTERM and SIGHUP during a render remove the temporary file, and the process still
// ends by that signal.
TEST(FileSafety, InterruptedRenderLeavesNoTemporaryFile) {
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        const std::string folder = TempFolder("interrupted");
        const Child child = StartApp(
            RenderArgs(folder + "/out.png", {"--phantom-size", "64", "--frames", "100000"}), false);
        // the temporary file exists from the start of the run
        for (int wait = 0; wait < 1000 && FolderEntries(folder).empty(); ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(FolderEntries(folder).size(), 1u);
        kill(child.pid, signalNumber);
        EXPECT_EQ(FinishApp(child, 30.0).code, -signalNumber);
        EXPECT_TRUE(FolderEntries(folder).empty()) << FolderEntries(folder).front();
    }
}

// A destination name of the longest legal length gets its PNG: the temporary name does not
// grow with it.
TEST(FileSafety, LongOutputNamesFit) {
    const std::string folder = TempFolder("long-name");
    const std::string name = std::string(251, 'n') + ".png";  // 255 characters, NAME_MAX
    const RunResult r = RunApp(RenderArgs(folder + "/" + name), false);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(IsPng(folder + "/" + name));
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{name});
}

// The screenshot key numbers on from the highest screenshot present, across runs, and never
// replaces one.
TEST(FileSafety, ScreenshotKeyNeverReplacesEarlierShots) {
    if (!HaveDisplay()) GTEST_SKIP() << "no DISPLAY";
    const std::string folder = TempFolder("numbered");
    WriteBytes(folder + "/kestrel-viewer-001.png", "one", 3);
    WriteBytes(folder + "/kestrel-viewer-007.png", "seven", 5);
    const std::vector<std::string> args = {ViewerExe(), "--view",     "cube", "--size",
                                           "40x30",     "--frames",   "2",    "--events",
                                           "key p",     "--shot-dir", folder};
    for (const char* expected : {"kestrel-viewer-008.png", "kestrel-viewer-009.png"}) {
        const RunResult r = RunApp(args);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_TRUE(IsPng(folder + "/" + expected)) << expected;
    }
    EXPECT_EQ(ReadText(folder + "/kestrel-viewer-001.png"), "one");
    EXPECT_EQ(ReadText(folder + "/kestrel-viewer-007.png"), "seven");
    EXPECT_EQ(FolderEntries(folder).size(), 4u);
}

// A volume larger than the memory the process may have: one line, exit status 1, in both tools
// (the phantom of 1000^3 16-bit samples needs 2 GB; the limit is 1 GB).
TEST(FileSafety, OutOfMemoryIsOneLine) {
    if (AddressSanitized())
        GTEST_SKIP() << "address-space limits do not work under AddressSanitizer";
    const std::string folder = TempFolder("memory");
    std::vector<std::vector<std::string>> runs = {
        {RenderExe(), "--phantom-size", "1000", "-o", folder + "/out.png"}};
    if (HaveDisplay()) runs.push_back({ViewerExe(), "--phantom-size", "1000", "--frames", "1"});
    for (const std::vector<std::string>& args : runs) {
        const RunResult r = RunApp(args, true, 120.0, AddressSpaceLimit(rlim_t(1) << 30));
        EXPECT_EQ(r.code, 1) << args[0] << ": " << r.err;
        EXPECT_EQ(CountLines(r.err), 1) << r.err;
        EXPECT_NE(r.err.find("out of memory"), std::string::npos) << r.err;
    }
    EXPECT_TRUE(FolderEntries(folder).empty());
}
