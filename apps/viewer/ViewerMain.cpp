// kestrel-viewer: a freeglut host for Kestrel scenes. It follows the scene
// calling protocol: Init once after the context exists, Resize on every
// reshape, Render on every display, and for every input event a cleared
// retStatus handed to the scene's handler, then a redisplay when `redraw` is
// set and a pointer warp when `setCursor` is set.
#include <GL/glew.h>
#include <GL/freeglut.h>
#include <GL/glx.h>
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "AbstractScene.h"
#include "CUDAInit.h"
#include "EndoscopyPair.h"
#include "OutputFile.h"
#include "RetStatus.h"
#include "TransferFunctionPanel.h"
#include "Scene.h"
#include "ViewerOptions.h"
#include "VolumeData.h"
#include "VolumeLoader.h"

namespace {

constexpr char kProgram[] = "kestrel-viewer";
constexpr int kWheelStep = 120;  // wheel amount of one notch
// Input counts as stopped this long after the last event that changed the scene (button
// releases end it at once).
constexpr int kSettleMs = 150;
using Clock = std::chrono::steady_clock;

struct Host {
    ViewerOptions options;
    AbstractScene* scene = nullptr;       // the scene the window shows: the view's or the pair
    AbstractScene* viewScene = nullptr;   // the view's scene, owned
    std::unique_ptr<EndoscopyPair> pair;  // endoscopy layout with the slice (views of a volume)
    VolumeData* volume = nullptr;         // the view's volume (owned by the view), or null
    int width = 0;
    int height = 0;
    std::vector<ScriptEvent> script;
    std::size_t scriptNext = 0;  // the next --events entry to play
    bool scriptPlayed = false;
    bool redisplayAsked = false;   // an event since the last frame asked for one
    Clock::time_point lastInput;   // the last event that changed the scene
    bool settleTimer = false;      // a timer to end the interaction is pending
    std::FILE* timings = nullptr;  // --timings
    int frameCount = 0;
    float frameMs = 0.0f;  // the last frame, for the title
    float hostMs = 0.0f;   // measured time of a frame outside the scene's Render
    int framesAfterScript = 0;
    bool shotRequested = false;
    bool destroyed = false;
    int exitCode = 0;
};
Host g;

Scene* ViewScene() {
    return dynamic_cast<Scene*>(g.viewScene);
}

void Redisplay() {
    g.redisplayAsked = true;
    glutPostRedisplay();
}

// Input stopped: the scene refines its coarse picture, one step per frame.
void EndInteraction() {
    Scene* const scene = ViewScene();
    if (scene == nullptr || !scene->GetInteracting()) return;
    scene->SetInteracting(false);
    if (scene->NeedsRefinement()) glutPostRedisplay();
}

void OnSettle(int) {
    g.settleTimer = false;
    const auto quiet =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - g.lastInput);
    if (quiet.count() < kSettleMs) {
        g.settleTimer = true;
        glutTimerFunc(unsigned(kSettleMs - quiet.count()), OnSettle, 0);
        return;
    }
    EndInteraction();
}

// An event changed the scene: coarse frames until input stops. A scripted run ends the
// interaction where its script ends instead of by the clock.
void MarkInput() {
    Scene* const scene = ViewScene();
    if (scene == nullptr) return;
    scene->SetInteracting(true);
    g.lastInput = Clock::now();
    if (g.options.frames == 0 && !g.settleTimer) {
        g.settleTimer = true;
        glutTimerFunc(kSettleMs, OnSettle, 0);
    }
}

// Acts on what a handler asked for.
void Act(retStatus const& status) {
    if (status.setCursor) glutWarpPointer(status.cursorX, status.cursorY);
    if (status.redraw) {
        MarkInput();
        Redisplay();
    }
}

// The last frame's level: full, coarseN (every N-th ray) or refine (a step towards full).
std::string FrameLevel() {
    Scene* const scene = ViewScene();
    if (scene == nullptr || scene->GetFrameQuality().complete) return "full";
    FrameQuality const& quality = scene->GetFrameQuality();
    if (quality.kind == FrameQuality::kCoarseFrame)
        return "coarse" + std::to_string(quality.stride);
    return "refine";
}

void UpdateTitle() {
    std::string title = std::string(kProgram) + ": " + g.options.views->Chosen().Name();
    Scene* scene = dynamic_cast<Scene*>(g.viewScene);
    if (scene != nullptr && scene->GetEndoscopy()) title += " [endoscopy]";
    if (g.scene == g.pair.get()) {
        title += g.pair->Slice().IsHorizontial() ? " + horizontal cut" : " + vertical cut";
    }
    if (scene != nullptr && !scene->GetInteractiveQuality()) title += " [full frames]";
    if (g.frameCount > 0) {
        char frame[48];
        std::snprintf(frame, sizeof frame, " - %.0f ms %s", double(g.frameMs),
                      FrameLevel().c_str());
        title += frame;
    }
    glutSetWindowTitle(title.c_str());
}

// Endoscopy mode on or off; with a slice companion the window shows the pair while it is on.
void SetEndoscopy(bool on) {
    Scene* scene = dynamic_cast<Scene*>(g.viewScene);
    if (scene == nullptr) return;
    scene->SetEndoscopy(on);
    AbstractScene* const shown = on && g.pair ? g.pair.get() : g.viewScene;
    if (shown != g.scene) {
        g.scene = shown;
        if (g.width > 0) g.scene->Resize(g.width, g.height);
    }
}

void DestroyScene() {
    tfpanel::Close();
    if (!g.destroyed && g.viewScene != nullptr) g.viewScene->Destroy();
    g.destroyed = true;
}

// Ends the program from inside a callback. The scene is released while its
// context is still current, then the process ends at once: freeglut's exit
// handler would destroy the window (calling the close callback again) and
// close the display, which unloads the GL driver and leaves its remaining
// allocations to be reported as leaks without a module name. Under
// AddressSanitizer the leak check runs here instead, with the driver loaded.
void Quit(int code) {
    g.exitCode = code;
    if (g.timings != nullptr) std::fclose(g.timings);
    g.timings = nullptr;
    DestroyScene();
    g.pair.reset();
    delete g.viewScene;
    g.viewScene = nullptr;
    g.scene = nullptr;
    std::fflush(nullptr);
#if defined(__SANITIZE_ADDRESS__)
    __lsan_do_leak_check();
#endif
    std::_Exit(code);
}

// The files the viewer reads, which no screenshot may replace.
std::vector<std::string> Inputs() {
    return {g.options.volume.file, g.options.volume.raw};
}

// Reads the back buffer (the frame just rendered) and writes it as PNG to `output`'s path.
bool SaveFrame(OutputFile& output) {
    std::string error;
    if (!output.Open(Inputs(), &error)) {
        std::fprintf(stderr, "%s: cannot save screenshot: %s\n", kProgram, error.c_str());
        return false;
    }
    std::vector<uint8_t> pixels(static_cast<size_t>(g.width) * g.height * 4);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, g.width, g.height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    // a screenshot shows the window as seen: opaque
    for (size_t i = 3; i < pixels.size(); i += 4)
        pixels[i] = 255;
    if (!output.CommitPng(pixels, g.width, g.height, &error)) {
        std::fprintf(stderr, "%s: cannot save screenshot: %s\n", kProgram, error.c_str());
        return false;
    }
    std::printf("%s: saved %s (%dx%d)\n", kProgram, output.Target().c_str(), g.width, g.height);
    std::fflush(stdout);
    return true;
}

// The screenshot key: the next kestrel-viewer-NNN.png after the highest present in --shot-dir,
// never replacing an earlier one; a failure is reported and the viewer goes on.
void SaveNumberedFrame() {
    std::string path;
    std::string error;
    if (!ReserveNumberedFile(g.options.shotDir, "kestrel-viewer-", ".png", &path, &error)) {
        std::fprintf(stderr, "%s: cannot save screenshot: %s\n", kProgram, error.c_str());
        return;
    }
    OutputFile shot("screenshot", path);
    if (!SaveFrame(shot)) unlink(path.c_str());  // give the reserved name back
}

// ---- event callbacks: one scene handler each -------------------------------

// The editor panel takes the events over it; an edit redraws the view.
bool PanelTook(bool took, bool changed) {
    if (changed) MarkInput();
    if (changed || took) Redisplay();
    return took;
}

void OnMouse(int button, int state, int x, int y) {
    bool changed = false;
    if (PanelTook(tfpanel::Mouse(button, state, x, y, changed), changed)) return;
    retStatus status;
    bool const down = state == GLUT_DOWN;
    switch (button) {
        case GLUT_LEFT_BUTTON:
            down ? g.scene->LButtonDown(x, y, status) : g.scene->LButtonUp(x, y, status);
            break;
        case GLUT_MIDDLE_BUTTON:
            down ? g.scene->MButtonDown(x, y, status) : g.scene->MButtonUp(x, y, status);
            break;
        case GLUT_RIGHT_BUTTON:
            down ? g.scene->RButtonDown(x, y, status) : g.scene->RButtonUp(x, y, status);
            break;
        case 3:  // wheel buttons, when delivered as buttons
        case 4:
            if (!down) return;
            g.scene->Wheel(button == 3 ? kWheelStep : -kWheelStep, status);
            break;
        default:
            return;
    }
    Act(status);
    if (!down) EndInteraction();
}

void OnWheel(int, int direction, int, int) {
    retStatus status;
    g.scene->Wheel(direction * kWheelStep, status);
    Act(status);
}

void OnMotion(int x, int y) {
    bool changed = false;
    if (PanelTook(tfpanel::Motion(x, y, changed), changed)) return;
    retStatus status;
    g.scene->MouseMove(x, y, status);
    Act(status);
}

void OnKeyboard(unsigned char key, int x, int y) {
    bool changed = false;
    if (PanelTook(tfpanel::Keyboard(key, x, y, changed), changed)) return;
    retStatus status;
    g.scene->Keyboard(key, x, y, status);
    Act(status);

    retStatus viewStatus;
    if (g.options.views->Chosen().Key(key, viewStatus)) {
        Act(viewStatus);
        return;
    }
    switch (key) {
        case 'e': {
            Scene* scene = dynamic_cast<Scene*>(g.viewScene);
            if (scene == nullptr) break;
            SetEndoscopy(!scene->GetEndoscopy());
            UpdateTitle();
            Redisplay();
            break;
        }
        case 'f': {
            Scene* scene = ViewScene();
            if (scene == nullptr) break;
            scene->SetInteractiveQuality(!scene->GetInteractiveQuality());
            UpdateTitle();
            Redisplay();
            break;
        }
        case 'c':  // the pair has switched its cut
            if (g.scene == g.pair.get()) UpdateTitle();
            break;
        case 'p':
            g.shotRequested = true;
            Redisplay();
            break;
        case 'q':
        case 27:  // Esc
            Quit(0);
            break;
        default:
            break;
    }
}

void OnKeyboardUp(unsigned char key, int x, int y) {
    retStatus status;
    g.scene->KeyboardUp(key, x, y, status);
    Act(status);
}

void OnSpecial(int key, int x, int y) {
    retStatus status;
    g.scene->Speckey(key, x, y, status);
    Act(status);

    retStatus viewStatus;
    if (g.options.views->Chosen().SpecialKey(key, viewStatus)) Act(viewStatus);
}

void OnSpecialUp(int key, int x, int y) {
    retStatus status;
    g.scene->SpecialUp(key, x, y, status);
    Act(status);
}

// Feeds one --events entry through the same callbacks as real input.
void Play(ScriptEvent const& e) {
    {
        if (e.kind == "ldown")
            OnMouse(GLUT_LEFT_BUTTON, GLUT_DOWN, e.a, e.b);
        else if (e.kind == "lup")
            OnMouse(GLUT_LEFT_BUTTON, GLUT_UP, e.a, e.b);
        else if (e.kind == "mdown")
            OnMouse(GLUT_MIDDLE_BUTTON, GLUT_DOWN, e.a, e.b);
        else if (e.kind == "mup")
            OnMouse(GLUT_MIDDLE_BUTTON, GLUT_UP, e.a, e.b);
        else if (e.kind == "rdown")
            OnMouse(GLUT_RIGHT_BUTTON, GLUT_DOWN, e.a, e.b);
        else if (e.kind == "rup")
            OnMouse(GLUT_RIGHT_BUTTON, GLUT_UP, e.a, e.b);
        else if (e.kind == "move")
            OnMotion(e.a, e.b);
        else if (e.kind == "wheel")
            OnWheel(0, e.a > 0 ? 1 : -1, 0, 0);
        else if (e.kind == "key")
            OnKeyboard(static_cast<unsigned char>(e.a), 0, 0);
        else if (e.kind == "keyup")
            OnKeyboardUp(static_cast<unsigned char>(e.a), 0, 0);
        else if (e.kind == "special")
            OnSpecial(e.a, 0, 0);
        else if (e.kind == "specialup")
            OnSpecialUp(e.a, 0, 0);
    }
}

// Plays the script as a live session would see it: events up to the next one that asks for a
// frame, which the caller then renders; after the last event, input has stopped.
void PlayScriptStep() {
    g.redisplayAsked = false;
    while (g.scriptNext < g.script.size() && !g.redisplayAsked) {
        Play(g.script[g.scriptNext++]);
        if (g.destroyed) return;  // the script pressed q
    }
    if (g.scriptNext < g.script.size()) return;
    g.scriptPlayed = true;
    EndInteraction();
}

// The scene's budget is what --frame-budget leaves after the viewer's own part of a frame (the
// editor panel, the swap), as measured: the whole frame then fits the budget.
void LeaveRoomForTheHost() {
    Scene* const view = ViewScene();
    if (view == nullptr || !view->GetInteractiveQuality()) return;
    const float hostMs = std::max(0.0f, g.frameMs - view->GetFrameQuality().frameMs);
    g.hostMs = g.hostMs > 0.0f ? 0.5f * (g.hostMs + hostMs) : hostMs;
    view->SetFrameBudget(std::max(g.options.frameBudget - g.hostMs, 0.25f * g.options.frameBudget));
}

// One --timings line for the frame just shown.
void RecordFrame(Clock::time_point start) {
    if (g.timings != nullptr) glFinish();  // the frame's time includes its drawing
    g.frameMs = std::chrono::duration<float, std::milli>(Clock::now() - start).count();
    ++g.frameCount;
    if (g.timings != nullptr)
        std::fprintf(g.timings, "%d,%.3f,%s\n", g.frameCount, double(g.frameMs),
                     FrameLevel().c_str());
    LeaveRoomForTheHost();
    UpdateTitle();
}

// ---- window callbacks ------------------------------------------------------

void OnReshape(int width, int height) {
    g.width = width;
    g.height = height;
    g.scene->Resize(width, height);
    tfpanel::Reshape(width, height);
}

void OnDisplay() {
    if (g.destroyed) return;
    Clock::time_point const start = Clock::now();
    g.scene->Render();
    tfpanel::Draw();
    bool const scripted = g.options.frames > 0;
    Scene* const view = ViewScene();
    bool const refining = view != nullptr && view->NeedsRefinement();
    // The frames a scripted run counts after its script show the full picture.
    if (g.scriptPlayed && !refining) ++g.framesAfterScript;

    if (g.shotRequested) {
        g.shotRequested = false;
        SaveNumberedFrame();
    }
    bool const finished = scripted && g.scriptPlayed && g.framesAfterScript >= g.options.frames;
    if (finished && !g.options.screenshot.empty()) {
        OutputFile shot("--screenshot", g.options.screenshot);
        if (!SaveFrame(shot)) {
            Quit(1);
            return;
        }
    }
    glutSwapBuffers();
    RecordFrame(start);

    if (!g.scriptPlayed) {
        PlayScriptStep();
        if (g.destroyed) return;
    }
    if (finished) {
        Quit(0);
        return;
    }
    if (scripted || (view != nullptr && view->NeedsRefinement())) glutPostRedisplay();
}

void OnClose() {
    Quit(0);
}

// Opens the X display, or prints one line and returns null. The caller keeps this connection
// open until GLUT has made its own: when the last client of an X server disconnects, the server
// resets, and a connection made during that reset is dropped (freeglut then fails at random).
Display* OpenDisplay() {
    char const* name = std::getenv("DISPLAY");
    if (name == nullptr || name[0] == '\0') {
        std::fprintf(stderr, "%s: no display: DISPLAY is not set (start an X server or Xvfb)\n",
                     kProgram);
        return nullptr;
    }
    // retry for up to two seconds in case another client's departure has
    // just reset the server
    Display* display = nullptr;
    for (int attempt = 0; attempt < 20 && display == nullptr; ++attempt) {
        if (attempt > 0) usleep(100000);
        display = XOpenDisplay(nullptr);
    }
    if (display == nullptr) {
        std::fprintf(stderr, "%s: cannot open X display '%s'\n", kProgram, name);
        return nullptr;
    }
    return display;
}

// Runs the body of a GLUT callback: the allocator's out-of-memory exception must not unwind
// through freeglut's C frames; it ends the viewer with one line, as outside the main loop.
template <typename Body>
void Guarded(Body body) {
    try {
        body();
    } catch (std::bad_alloc const&) {
        std::fprintf(stderr, "%s: out of memory\n", kProgram);
        Quit(1);
    }
}

int Run(int argc, char** argv) {
    try {
        if (!ParseViewerOptions(argc, argv, &g.options)) {
            std::fputs(ViewerUsage(g.options).c_str(), stdout);
            return 0;
        }
    } catch (InputError const& error) {
        std::fprintf(stderr, "%s: %s\n", kProgram, error.what());
        return 2;
    }
    std::string error;
    ParseEventScript(g.options.events, &g.script, &error);  // checked while parsing
    g.scriptPlayed = g.script.empty();
    // A screenshot that could only fail, or would replace what it must not, fails at once.
    if (!g.options.screenshot.empty() &&
        !OutputFile("--screenshot", g.options.screenshot).Check(Inputs(), &error)) {
        std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
        return 2;
    }
    if (!g.options.timings.empty()) {
        g.timings = std::fopen(g.options.timings.c_str(), "w");
        if (g.timings == nullptr) {
            std::fprintf(stderr, "%s: cannot write --timings %s: %s\n", kProgram,
                         g.options.timings.c_str(), std::strerror(errno));
            return 2;
        }
        std::fputs("frame,ms,level\n", g.timings);
    }
    Display* const probe = OpenDisplay();
    if (probe == nullptr) return 1;

    try {
        View& view = g.options.views->Chosen();
        std::unique_ptr<VolumeData> volume;
        if (view.ShowsVolume()) volume = g.options.volume.Load(kProgram);
        view.SetDataDefaults(&g.options.volume.defaults);
        g.volume = volume.get();  // the view keeps it as long as its scene
        std::vector<float> const& crop = g.options.volume.crop;
        g.viewScene = view.CreateViewerScene(
            std::move(volume), crop.empty() ? nullptr : crop.data(), g.options.endoscopy);
        g.scene = g.viewScene;
        if (Scene* const view = ViewScene()) {
            view->SetInteractiveQuality(!g.options.fullFrames);
            view->SetFrameBudget(g.options.frameBudget);
        }
        CoherentVolume* const sliceVolume = view.GetBrickedVolume();
        Scene* const scene = dynamic_cast<Scene*>(g.viewScene);
        if (scene != nullptr && sliceVolume != nullptr) {
            g.pair.reset(new EndoscopyPair(*scene, sliceVolume));
            if (g.options.verticalCut) g.pair->Slice().SetVertical();
            if (!g.options.lookAlong.empty()) g.pair->LookAlong(g.options.lookAlong[0]);
            SetEndoscopy(g.options.endoscopy);
        }
    } catch (InputError const& failure) {
        // the view could not be made from the given data: bad input
        std::fprintf(stderr, "%s: %s\n", kProgram, failure.what());
        XCloseDisplay(probe);
        return 2;
    }

    int glutArgc = 1;
    char* glutArgv[] = {argv[0], nullptr};
    glutInit(&glutArgc, glutArgv);
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_GLUTMAINLOOP_RETURNS);
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(g.options.width, g.options.height);
    glutInitWindowPosition(0, 0);
    glutCreateWindow(kProgram);
    XCloseDisplay(probe);  // GLUT's own connection is up
    UpdateTitle();
    if (g.options.views->Gpu()) {
        // The scene starts the GPU library at its first frame as well; its choice is this one.
        CUDAInit(true);
        std::printf("%s: casting on KestrelCUDA, %s back end\n", kProgram, CUDAActiveBackEnd());
        std::fflush(stdout);
    }
    // A held key must reach the scene as repeated presses and one release at
    // the end (its walking speed grows per press and drops at a release). X
    // normally sends a release before every repeated press; ask the server not
    // to, on GLUT's connection (the one of the current GLX context).
    if (::Display* glutDisplay = glXGetCurrentDisplay()) {
        Bool supported = False;
        XkbSetDetectableAutoRepeat(glutDisplay, True, &supported);
    }

    g.scene->Init();  // once, with the context current
    if (RGBATransferFunction1D* function = g.options.views->Chosen().EditableTransferFunction())
        tfpanel::Open(function, g.volume, &g.options.volume.defaults);

    glutDisplayFunc([] { Guarded([] { OnDisplay(); }); });
    glutReshapeFunc([](int w, int h) { Guarded([=] { OnReshape(w, h); }); });
    glutMouseFunc([](int b, int s, int x, int y) { Guarded([=] { OnMouse(b, s, x, y); }); });
    glutMouseWheelFunc([](int w, int d, int x, int y) { Guarded([=] { OnWheel(w, d, x, y); }); });
    glutMotionFunc([](int x, int y) { Guarded([=] { OnMotion(x, y); }); });
    glutPassiveMotionFunc([](int x, int y) { Guarded([=] { OnMotion(x, y); }); });
    glutKeyboardFunc([](unsigned char k, int x, int y) { Guarded([=] { OnKeyboard(k, x, y); }); });
    glutKeyboardUpFunc(
        [](unsigned char k, int x, int y) { Guarded([=] { OnKeyboardUp(k, x, y); }); });
    glutSpecialFunc([](int k, int x, int y) { Guarded([=] { OnSpecial(k, x, y); }); });
    glutSpecialUpFunc([](int k, int x, int y) { Guarded([=] { OnSpecialUp(k, x, y); }); });
    glutCloseFunc(OnClose);

    glutMainLoop();

    if (g.timings != nullptr) std::fclose(g.timings);
    g.timings = nullptr;
    g.pair.reset();
    delete g.viewScene;
    g.viewScene = nullptr;
    g.scene = nullptr;
    return g.exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (std::bad_alloc const&) {
        std::fprintf(stderr, "%s: out of memory\n", kProgram);
        return 1;
    } catch (std::exception const& failure) {
        std::fprintf(stderr, "%s: %s\n", kProgram, failure.what());
        return 1;
    }
}
