// Running the applications from tests: child processes with captured output, volume files
// written byte by byte, and PNG pictures with simple measurements.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "PngReader.h"

extern char** environ;

namespace apptest {

// <build>/bin: $KESTREL_BIN_DIR, else the folder of the running test executable.
inline std::string BinDir() {
    if (const char* dir = std::getenv("KESTREL_BIN_DIR"); dir != nullptr && *dir != '\0') {
        return dir;
    }
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0) return ".";
    const std::string self(buffer, size_t(n));
    return self.substr(0, self.rfind('/'));
}

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline bool FileExists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

inline int CountLines(const std::string& text) {
    int lines = 0;
    for (char c : text)
        lines += c == '\n';
    return lines;
}

inline bool HaveDisplay() {
    const char* display = std::getenv("DISPLAY");
    return display != nullptr && *display != '\0';
}

// A fresh folder under the test temp dir.
inline std::string TempFolder(const std::string& name) {
    static int counter = 0;
    const std::string path = ::testing::TempDir() + "kestrel_apps_" + std::to_string(getpid()) +
                             "_" + std::to_string(counter++) + "_" + name;
    mkdir(path.c_str(), 0755);
    return path;
}

// Names in a folder (without . and ..).
inline std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    return names;
}

struct RunResult {
    int code = -1;  // exit status; negative: killed by that signal
    std::string out;
    std::string err;
};

// A started child with its output files.
struct Child {
    pid_t pid = -1;
    std::string outPath;
    std::string errPath;
};

// Starts `args` (args[0] a path or a name in PATH) with stdout and stderr going to files.
// `withDisplay` false removes DISPLAY from the child's environment; `inChild`, when given, runs in
// the child just before exec (resource limits, signal dispositions).
inline Child StartApp(const std::vector<std::string>& args, bool withDisplay = true,
                      const std::function<void()>& inChild = nullptr) {
    static int counter = 0;
    const std::string base = ::testing::TempDir() + "kestrel_run_" + std::to_string(getpid()) +
                             "_" + std::to_string(counter++);
    Child child;
    child.outPath = base + ".out";
    child.errPath = base + ".err";
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (withDisplay || std::strncmp(*entry, "DISPLAY=", 8) != 0) environment.push_back(*entry);
    }
    child.pid = fork();
    if (child.pid == 0) {
        const int out = open(child.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(child.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv;
        std::vector<char*> envp;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (const std::string& e : environment)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        environ = envp.data();
        if (inChild) inChild();
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

// Waits for `child` (killed after `seconds`) and collects its output.
inline RunResult FinishApp(const Child& child, double seconds = 120.0) {
    RunResult result;
    int status = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    bool finished = false;
    while (std::chrono::steady_clock::now() < end) {
        if (waitpid(child.pid, &status, WNOHANG) == child.pid) {
            finished = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!finished) {
        kill(child.pid, SIGKILL);
        waitpid(child.pid, &status, 0);
    }
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    result.out = ReadText(child.outPath);
    result.err = ReadText(child.errPath);
    std::remove(child.outPath.c_str());
    std::remove(child.errPath.c_str());
    return result;
}

// StartApp, then FinishApp.
inline RunResult RunApp(const std::vector<std::string>& args, bool withDisplay = true,
                        double seconds = 120.0, const std::function<void()>& inChild = nullptr) {
    return FinishApp(StartApp(args, withDisplay, inChild), seconds);
}

// Whether the tools under test are built with AddressSanitizer (as this test is).
inline bool AddressSanitized() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#endif
#endif
    return false;
}

// For StartApp's inChild: limits the child's address space to `bytes`, so that a large
// allocation fails. AddressSanitizer reserves terabytes of shadow at start, so under it there is
// no limit (a test that needs the allocation to fail skips itself there).
inline std::function<void()> AddressSpaceLimit(rlim_t bytes) {
    if (AddressSanitized()) return nullptr;
    return [bytes] {
        const struct rlimit limit = {bytes, bytes};
        setrlimit(RLIMIT_AS, &limit);
    };
}

// For StartApp's inChild: files may grow to `bytes` only, and a write beyond fails with EFBIG
// instead of killing the child.
inline std::function<void()> FileSizeLimit(rlim_t bytes) {
    return [bytes] {
        signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {bytes, bytes};
        setrlimit(RLIMIT_FSIZE, &limit);
    };
}

// A volume written byte by byte in the structured layout: int32 dims[3], float32 spacings[3],
// uint8 isFloat, uint8 isSigned, two zero bytes, int32 bitCount, then the samples.
inline void WriteStructured(const std::string& path, const int dims[3], const float spacings[3],
                            uint8_t isFloat, uint8_t isSigned, int32_t bitCount,
                            const void* samples, size_t sampleBytes) {
    unsigned char header[32] = {};
    std::memcpy(header, dims, 12);
    std::memcpy(header + 12, spacings, 12);
    header[24] = isFloat;
    header[25] = isSigned;
    std::memcpy(header + 28, &bitCount, 4);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(header), 32);
    out.write(static_cast<const char*>(samples), std::streamsize(sampleBytes));
}

inline void WriteBytes(const std::string& path, const void* bytes, size_t count) {
    std::ofstream out(path, std::ios::binary);
    out.write(static_cast<const char*>(bytes), std::streamsize(count));
}

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;  // rows bottom-up
    // Channel c of the pixel at (x, y) counted from the top-left corner, as a viewer sees it.
    int At(int x, int y, int c = 0) const {
        return rgba[(size_t(height - 1 - y) * width + x) * 4 + c];
    }
};

inline Picture LoadPicture(const std::string& path) {
    Picture picture;
    std::string error;
    EXPECT_TRUE(ReadPng(path, &picture.width, &picture.height, &picture.rgba, &error)) << error;
    return picture;
}

// Largest per-channel difference of two equally sized pictures (RGB), or 256 if the sizes differ.
inline int MaxDifference(const Picture& a, const Picture& b) {
    if (a.width != b.width || a.height != b.height || a.rgba.size() != b.rgba.size()) return 256;
    int worst = 0;
    for (size_t p = 0; p < a.rgba.size() / 4; ++p) {
        for (int c = 0; c < 3; ++c) {
            worst = std::max(worst, std::abs(int(a.rgba[p * 4 + c]) - int(b.rgba[p * 4 + c])));
        }
    }
    return worst;
}

// Bounding box of the pixels whose red channel exceeds `threshold`; count 0 when none.
struct Box {
    int x0 = 0, x1 = -1, y0 = 0, y1 = -1, count = 0;
    int Width() const { return x1 - x0 + 1; }
    int Height() const { return y1 - y0 + 1; }
};

inline Box BrightBox(const Picture& picture, int threshold) {
    Box box;
    box.x0 = picture.width;
    box.y0 = picture.height;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            if (picture.At(x, y) <= threshold) continue;
            ++box.count;
            box.x0 = std::min(box.x0, x);
            box.x1 = std::max(box.x1, x);
            box.y0 = std::min(box.y0, y);
            box.y1 = std::max(box.y1, y);
        }
    }
    return box;
}

inline std::string ViewerExe() {
    return BinDir() + "/kestrel-viewer";
}
inline std::string RenderExe() {
    return BinDir() + "/kestrel-render";
}

// A scripted viewer run on the 48^3 phantom: `events` after the first frame, then one frame and
// its screenshot.
inline RunResult ShowPhantom(const std::string& shot, const std::string& events,
                             std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {ViewerExe(), "--phantom-size", "48",
                                     "--size",    "140x100",        "--frames",
                                     "1",         "--screenshot",   shot};
    if (!events.empty()) args.insert(args.end(), {"--events", events});
    args.insert(args.end(), extra.begin(), extra.end());
    return RunApp(args);
}

inline Picture RenderPhantom(const std::string& output, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {RenderExe(), "--phantom-size", "48",  "--size",
                                     "140x100",   "--output",       output};
    args.insert(args.end(), extra.begin(), extra.end());
    const RunResult r = RunApp(args, false);
    EXPECT_EQ(r.code, 0) << r.err;
    return LoadPicture(output);
}

}  // namespace apptest
