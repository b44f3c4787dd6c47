// kestrel-viewer as a user meets it: command-line errors, scripted runs that
// save screenshots (checked against the ray-cast cube reference), and a real
// pointer drag through xdotool on a private Xvfb.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "PngReader.h"
#include "support/ColourCubeReference.h"

extern char** environ;

using namespace cuberef;

namespace {

std::string ViewerBinDir() {
    if (char const* dir = std::getenv("KESTREL_BIN_DIR"); dir && *dir) return dir;
    char buf[4096];
    ssize_t const n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string self(buf, size_t(n));
    return self.substr(0, self.rfind('/'));
}

std::string ViewerExe() {
    return ViewerBinDir() + "/kestrel-viewer";
}

std::string ReadFile(std::string const& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int CountLines(std::string const& s) {
    int n = 0;
    for (char c : s)
        n += c == '\n';
    return n;
}

// Environment of a child: ours with DISPLAY replaced (value "-": removed).
std::vector<std::string> ChildEnv(std::string const& display) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "DISPLAY=", 8) != 0) env.emplace_back(*e);
    if (display == "") {
        if (char const* d = std::getenv("DISPLAY")) env.push_back(std::string("DISPLAY=") + d);
    } else if (display != "-") {
        env.push_back("DISPLAY=" + display);
    }
    return env;
}

struct Child {
    pid_t pid = -1;
    std::string outPath, errPath;
};

// Starts args[0] (searched in PATH) with stdout/stderr to files; `display`
// as for ChildEnv; `extraFd` >= 0 is passed through as fd 3.
Child Spawn(std::vector<std::string> const& args, std::string const& display, int extraFd = -1) {
    static int counter = 0;
    Child c;
    std::string const base = ::testing::TempDir() + "viewer_child_" + std::to_string(getpid()) +
                             "_" + std::to_string(counter++);
    c.outPath = base + ".out";
    c.errPath = base + ".err";
    std::vector<std::string> env = ChildEnv(display);
    c.pid = fork();
    if (c.pid == 0) {
        int const out = open(c.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int const err = open(c.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        if (extraFd >= 0 && extraFd != 3) dup2(extraFd, 3);
        std::vector<char*> argv, envp;
        for (auto const& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (auto const& e : env)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        environ = envp.data();
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return c;
}

// Waits up to `seconds`; kills the child on timeout and returns -9.
int Wait(Child const& c, double seconds) {
    auto const end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
        pid_t const r = waitpid(c.pid, &status, WNOHANG);
        if (r == c.pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(c.pid, SIGKILL);
    waitpid(c.pid, &status, 0);
    return -9;
}

struct RunResult {
    int code;
    std::string out, err;
};

RunResult RunProgram(std::vector<std::string> const& args, std::string const& display = "",
                     double seconds = 60) {
    Child const c = Spawn(args, display);
    int const code = Wait(c, seconds);
    return {code, ReadFile(c.outPath), ReadFile(c.errPath)};
}

bool HaveDisplay() {
    char const* d = std::getenv("DISPLAY");
    return d != nullptr && *d != '\0';
}

struct Image {
    int w = 0, h = 0;
    std::vector<uint8_t> rgba;
};

Image Load(std::string const& path) {
    Image im;
    std::string error;
    EXPECT_TRUE(ReadPng(path, &im.w, &im.h, &im.rgba, &error)) << error;
    return im;
}

// A correct screenshot differs from the reference only on colour edges.
void ExpectLikeReference(Image const& im, Camera const& cam) {
    Comparison const c = Compare(im.rgba, cam, im.w, im.h);
    EXPECT_EQ(c.offEdge, 0);
    EXPECT_LE(c.mismatches, 0.02 * im.w * im.h);
}

std::string Temp(std::string const& name) {
    return ::testing::TempDir() + "viewer_" + std::to_string(getpid()) + "_" + name;
}

}  // namespace

TEST(ViewerCommandLine, HelpDescribesOptionsAndBindings) {
    RunResult const r = RunProgram({ViewerExe(), "--help"}, "-");
    ASSERT_EQ(r.code, 0) << r.err;
    // the views' own options and keys too
    for (char const* needle :
         {"--size WxH", "--frames N", "--screenshot FILE", "--events", "endoscopy",
          "left drag rotates", "save a screenshot", "quit", "--window", "widen / narrow"})
        EXPECT_NE(r.out.find(needle), std::string::npos) << needle;
    EXPECT_TRUE(r.err.empty());
}

TEST(ViewerCommandLine, BadOptionsGiveOneLineAndExitCode2) {
    struct Case {
        std::vector<std::string> args;
        char const* mentions;
    } const cases[] = {
        {{"--bogus"}, "--bogus"},
        {{"--size", "0x10"}, "--size"},
        {{"--size", "640"}, "--size"},
        {{"--size"}, "--size"},
        {{"--frames", "two"}, "--frames"},
        {{"--frames", "-3"}, "--frames"},
        {{"--view", "nothing"}, "nothing"},
        {{"--screenshot", "x.png"}, "--frames"},
        {{"--events", "jump 1 2"}, "jump"},
        {{"--events", "ldown 1"}, "ldown"},
        // an option of another view than the one chosen
        {{"--view", "cube", "--window", "1", "2"}, "--window: only applies to --view mip"},
    };
    for (Case const& c : cases) {
        std::vector<std::string> args{ViewerExe()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        RunResult const r = RunProgram(args, "-");  // parsing comes before the display
        EXPECT_EQ(r.code, 2) << c.mentions;
        EXPECT_EQ(CountLines(r.err), 1) << r.err;
        EXPECT_NE(r.err.find(c.mentions), std::string::npos) << r.err;
        EXPECT_EQ(r.err.rfind("kestrel-viewer: ", 0), 0u) << r.err;
    }
}

TEST(ViewerCommandLine, NoDisplayGivesOneLineAndExitCode1) {
    RunResult r = RunProgram({ViewerExe(), "--frames", "1"}, "-");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(CountLines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("DISPLAY"), std::string::npos) << r.err;

    r = RunProgram({ViewerExe(), "--frames", "1"}, ":987");  // no server there
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(CountLines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find(":987"), std::string::npos) << r.err;
}

TEST(ViewerScripted, ScreenshotShowsTheCubeOnGrey) {
    if (!HaveDisplay()) GTEST_SKIP() << "no DISPLAY";
    std::string const shot = Temp("plain.png");
    RunResult const r = RunProgram({ViewerExe(), "--view", "cube", "--size", "200x150", "--frames",
                                    "3", "--screenshot", shot});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find(shot), std::string::npos);
    Image const im = Load(shot);
    ASSERT_EQ(im.w, 200);
    ASSERT_EQ(im.h, 150);
    int const corners[4][2] = {{0, 0}, {199, 0}, {0, 149}, {199, 149}};
    for (auto const& xy : corners) {
        Rgb const c = At(im.rgba, im.w, xy[0], xy[1]);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(c[i], 127.5, 1.0);
    }
    EXPECT_TRUE(Close(At(im.rgba, im.w, 100, 75), kCyan));
    EXPECT_EQ(im.rgba[(75 * 200 + 100) * 4 + 3], 255);
    ExpectLikeReference(im, DefaultCamera(200, 150));
}

TEST(ViewerScripted, EventScriptDragTurnsTheCube) {
    if (!HaveDisplay()) GTEST_SKIP() << "no DISPLAY";
    std::string const shot = Temp("drag.png");
    // 80 pixels right, 60 up: 0.5 rad about (-60, 80, 0)
    RunResult const r = RunProgram({ViewerExe(), "--view", "cube", "--size", "200x150", "--frames",
                                    "1", "--screenshot", shot, "--events",
                                    "ldown 100 75; move 150 60; move 180 15; lup 180 15"});
    ASSERT_EQ(r.code, 0) << r.err;
    Image const im = Load(shot);
    ASSERT_EQ(im.w, 200);
    Camera cam = DefaultCamera(200, 150);
    AxisAngle(-60, 80, 0, 0.5, cam.q);
    ExpectLikeReference(im, cam);
    Comparison const c = Compare(im.rgba, cam, im.w, im.h);
    EXPECT_GT(c.counts[2], 300);  // green (x = -1) and blue (y = -1) faces in view
    EXPECT_GT(c.counts[3], 300);
}

TEST(ViewerScripted, EndoscopyKeyThenTurnAndWalk) {
    if (!HaveDisplay()) GTEST_SKIP() << "no DISPLAY";
    std::string const shot = Temp("endo.png");
    // 'e' switches mode; a left press parks the pointer, a move 30 px right
    // of the centre turns the view 0.15 rad right; 'w' then walks 0.1 forward
    RunResult const r = RunProgram({ViewerExe(), "--view", "cube", "--size", "200x150", "--frames",
                                    "2", "--screenshot", shot, "--events",
                                    "key e; ldown 5 5; move 130 75; lup 130 75; key w; keyup w"});
    ASSERT_EQ(r.code, 0) << r.err;
    Image const im = Load(shot);
    Camera cam = DefaultCamera(200, 150);
    double const D = -cam.zBase, a = 0.15;
    AxisAngle(0, 1, 0, a, cam.q);
    // the eye sits at (0, 0, D) in model space, then walks 0.1 along its
    // view direction, turned right: (sin a, 0, -cos a)
    double const ex = 0.1 * std::sin(a), ez = D - 0.1 * std::cos(a);
    // translate = -R(eye) - (0, 0, zBase)
    cam.t[0] = -(std::cos(a) * ex + std::sin(a) * ez);
    cam.t[1] = 0.0;
    cam.t[2] = -(-std::sin(a) * ex + std::cos(a) * ez) + D;
    ExpectLikeReference(im, cam);
}

TEST(ViewerScripted, UnwritableScreenshotIsRefusedWithOneLine) {
    if (!HaveDisplay()) GTEST_SKIP() << "no DISPLAY";
    RunResult const r = RunProgram({ViewerExe(), "--view", "cube", "--size", "64x48", "--frames",
                                    "1", "--screenshot", "/nonexistent-dir/shot.png"});
    EXPECT_EQ(r.code, 2);  // an unwritable output folder is bad input, refused before rendering
    EXPECT_EQ(CountLines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("/nonexistent-dir/shot.png"), std::string::npos) << r.err;
}

// A private Xvfb so that real pointer events reach only our window. Keys
// held down auto-repeat after 100 ms, every 20 ms.
class PrivateX {
public:
    PrivateX() {
        int fds[2];
        if (pipe(fds) != 0) return;
        child_ = Spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "640x480x24", "-nolisten", "tcp",
                        "-ardelay", "100", "-arinterval", "20"},
                       "-", fds[1]);
        close(fds[1]);
        pollfd p{fds[0], POLLIN, 0};
        std::string number;
        auto const end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < end && number.find('\n') == std::string::npos) {
            if (poll(&p, 1, 200) <= 0) continue;
            char buf[32];
            ssize_t const n = read(fds[0], buf, sizeof buf);
            if (n <= 0) break;
            number.append(buf, size_t(n));
        }
        close(fds[0]);
        if (!number.empty() && number.find('\n') != std::string::npos)
            display_ = ":" + number.substr(0, number.find('\n'));
    }
    ~PrivateX() {
        if (child_.pid > 0) {
            kill(child_.pid, SIGTERM);
            Wait(child_, 10);
        }
    }
    std::string const& Display() const { return display_; }

private:
    Child child_;
    std::string display_;
};

bool WaitForFile(std::string const& path, double seconds) {
    auto const end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (access(path.c_str(), R_OK) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let it finish
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

TEST(ViewerInteractive, XdotoolDragChangesThePicture) {
    if (RunProgram({"sh", "-c", "command -v xdotool && command -v Xvfb"}, "-").code != 0)
        GTEST_SKIP() << "xdotool or Xvfb not installed";
    PrivateX x;
    if (x.Display().empty()) GTEST_SKIP() << "could not start a private Xvfb";
    std::string const dir = Temp("shots");
    ASSERT_EQ(RunProgram({"mkdir", "-p", dir}, "-").code, 0);
    Child const viewer =
        Spawn({ViewerExe(), "--view", "cube", "--size", "200x150", "--shot-dir", dir}, x.Display());

    auto xdo = [&](std::vector<std::string> args) {
        args.insert(args.begin(), "xdotool");
        return RunProgram(args, x.Display(), 20);
    };
    RunResult const found = xdo({"search", "--sync", "--name", "kestrel-viewer"});
    ASSERT_EQ(found.code, 0) << found.err;
    std::string const win = found.out.substr(0, found.out.find('\n'));

    // screenshot before: the keyboard follows the pointer (no window manager)
    ASSERT_EQ(xdo({"mousemove", "--window", win, "--sync", "100", "75"}).code, 0);
    ASSERT_EQ(xdo({"key", "p"}).code, 0);
    std::string const before = dir + "/kestrel-viewer-001.png";
    ASSERT_TRUE(WaitForFile(before, 20));

    // a left drag 60 px to the right, then a second screenshot
    ASSERT_EQ(xdo({"mousedown", "1"}).code, 0);
    for (int xpos : {120, 140, 160})
        ASSERT_EQ(xdo({"mousemove", "--window", win, "--sync", std::to_string(xpos), "75"}).code,
                  0);
    ASSERT_EQ(xdo({"mouseup", "1"}).code, 0);
    ASSERT_EQ(xdo({"key", "p"}).code, 0);
    std::string const after = dir + "/kestrel-viewer-002.png";
    ASSERT_TRUE(WaitForFile(after, 20));
    ASSERT_EQ(xdo({"key", "q"}).code, 0);
    EXPECT_EQ(Wait(viewer, 20), 0) << ReadFile(viewer.errPath);

    Image const a = Load(before), b = Load(after);
    ASSERT_EQ(a.w, 200);
    ASSERT_EQ(b.w, 200);
    ExpectLikeReference(a, DefaultCamera(200, 150));
    // 60 px right: 0.3 rad about +y
    Camera cam = DefaultCamera(200, 150);
    AxisAngle(0, 1, 0, 0.3, cam.q);
    ExpectLikeReference(b, cam);
    // the picture changed: the green x = -1 face came into view
    int greenBefore = 0, greenAfter = 0;
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 200; ++x) {
            greenBefore += Close(At(a.rgba, 200, x, y), kGreen);
            greenAfter += Close(At(b.rgba, 200, x, y), kGreen);
        }
    EXPECT_EQ(greenBefore, 0);
    EXPECT_GT(greenAfter, 500);
}

TEST(ViewerInteractive, HeldKeyAcceleratesTheWalk) {
    if (RunProgram({"sh", "-c", "command -v xdotool && command -v Xvfb"}, "-").code != 0)
        GTEST_SKIP() << "xdotool or Xvfb not installed";
    PrivateX x;
    if (x.Display().empty()) GTEST_SKIP() << "could not start a private Xvfb";
    std::string const dir = Temp("held");
    ASSERT_EQ(RunProgram({"mkdir", "-p", dir}, "-").code, 0);
    Child const viewer = Spawn(
        {ViewerExe(), "--view", "cube", "--size", "200x150", "--endoscopy", "--shot-dir", dir},
        x.Display());
    auto xdo = [&](std::vector<std::string> args) {
        args.insert(args.begin(), "xdotool");
        return RunProgram(args, x.Display(), 20);
    };
    RunResult const found = xdo({"search", "--sync", "--name", "kestrel-viewer"});
    ASSERT_EQ(found.code, 0) << found.err;
    std::string const win = found.out.substr(0, found.out.find('\n'));
    ASSERT_EQ(xdo({"mousemove", "--window", win, "--sync", "100", "75"}).code, 0);

    // Holding w for 0.5 s gives n of about 20 presses. Repeated presses
    // without releases in between accelerate: the walk is 0.1 n (n + 1) / 2,
    // about 20 units, far past the cube (the eye starts 4.5 units in front of
    // its centre), so the view ahead is empty. Were each repeat preceded by a
    // release, the walk would be 0.1 n (about 2 units) and the cyan face
    // would fill the centre. Any n from 11 to 35 tells the two apart.
    ASSERT_EQ(xdo({"keydown", "w", "sleep", "0.5", "keyup", "w"}).code, 0);
    ASSERT_EQ(xdo({"key", "p"}).code, 0);
    std::string const shot = dir + "/kestrel-viewer-001.png";
    ASSERT_TRUE(WaitForFile(shot, 20));
    ASSERT_EQ(xdo({"key", "q"}).code, 0);
    EXPECT_EQ(Wait(viewer, 20), 0) << ReadFile(viewer.errPath);
    Image const im = Load(shot);
    ASSERT_EQ(im.w, 200);
    Rgb const centre = At(im.rgba, im.w, 100, 75);
    EXPECT_TRUE(Close(centre, kGrey)) << centre[0] << " " << centre[1] << " " << centre[2];
}
