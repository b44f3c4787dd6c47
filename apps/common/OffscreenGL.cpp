// GLX pbuffer context.
#include "OffscreenGL.h"

#include <GL/glew.h>
#include <GL/glx.h>
#include <X11/Xlib.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

Display* OpenWithRetry() {
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (Display* display = XOpenDisplay(nullptr)) return display;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return nullptr;
}

// One connection per process, never closed (see the class comment).
Display* SharedDisplay() {
    static Display* display = OpenWithRetry();
    return display;
}

bool DisplayNameSet() {
    const char* name = std::getenv("DISPLAY");
    return name != nullptr && name[0] != '\0';
}

// X errors (a refused pbuffer) are recorded instead of ending the process.
int g_xError = 0;
int RecordXError(Display*, XErrorEvent* event) {
    g_xError = event->error_code;
    return 0;
}

}  // namespace

bool OffscreenGL::DisplayAvailable() {
    return DisplayNameSet() && SharedDisplay() != nullptr;
}

OffscreenGL::~OffscreenGL() {
    if (context_ == nullptr && pbuffer_ == 0) return;
    Display* display = SharedDisplay();
    glXMakeContextCurrent(display, None, None, nullptr);
    if (context_ != nullptr) glXDestroyContext(display, static_cast<GLXContext>(context_));
    if (pbuffer_ != 0) glXDestroyPbuffer(display, pbuffer_);
    XSync(display, False);
}

bool OffscreenGL::Create(int width, int height, std::string* error) {
    if (!DisplayNameSet()) {
        *error = "DISPLAY is not set (an X server, e.g. Xvfb, is needed)";
        return false;
    }
    const std::string name = std::getenv("DISPLAY");
    if (width <= 0 || height <= 0) {
        *error = "the context size must be positive";
        return false;
    }
    Display* display = SharedDisplay();
    if (display == nullptr) {
        *error = "cannot open X display " + name;
        return false;
    }
    int major = 0, minor = 0;
    if (!glXQueryVersion(display, &major, &minor) || major < 1 || (major == 1 && minor < 3)) {
        *error = "GLX 1.3 is not available on display " + name;
        return false;
    }
    const int attributes[] = {GLX_DRAWABLE_TYPE,
                              GLX_PBUFFER_BIT,
                              GLX_RENDER_TYPE,
                              GLX_RGBA_BIT,
                              GLX_RED_SIZE,
                              8,
                              GLX_GREEN_SIZE,
                              8,
                              GLX_BLUE_SIZE,
                              8,
                              GLX_ALPHA_SIZE,
                              8,
                              GLX_DEPTH_SIZE,
                              24,
                              GLX_DOUBLEBUFFER,
                              True,
                              None};
    int count = 0;
    GLXFBConfig* configs = glXChooseFBConfig(display, DefaultScreen(display), attributes, &count);
    if (configs == nullptr || count == 0) {
        if (configs != nullptr) XFree(configs);
        *error = "no RGBA8 + depth24 pbuffer configuration on display " + name;
        return false;
    }
    const GLXFBConfig config = configs[0];
    XFree(configs);

    int (*previous)(Display*, XErrorEvent*) = XSetErrorHandler(RecordXError);
    g_xError = 0;
    const int pbufferAttributes[] = {
        GLX_PBUFFER_WIDTH, width, GLX_PBUFFER_HEIGHT, height, GLX_PRESERVED_CONTENTS, True, None};
    pbuffer_ = glXCreatePbuffer(display, config, pbufferAttributes);
    context_ = glXCreateNewContext(display, config, GLX_RGBA_TYPE, nullptr, True);
    XSync(display, False);
    XSetErrorHandler(previous);
    if (pbuffer_ == 0 || context_ == nullptr || g_xError != 0) {
        *error = "the X server refused a " + std::to_string(width) + " x " +
                 std::to_string(height) + " pbuffer (X error " + std::to_string(g_xError) + ")";
        return false;
    }
    if (!glXMakeContextCurrent(display, pbuffer_, pbuffer_, static_cast<GLXContext>(context_))) {
        *error = "cannot make the pbuffer context current";
        return false;
    }
    glewExperimental = GL_TRUE;
    const GLenum glewStatus = glewInit();
    if (glewStatus != GLEW_OK) {
        *error = std::string("glewInit failed: ") +
                 reinterpret_cast<const char*>(glewGetErrorString(glewStatus));
        return false;
    }
    GLint drawBuffer = GL_BACK;
    glGetIntegerv(GL_DRAW_BUFFER, &drawBuffer);
    glReadBuffer(GLenum(drawBuffer));
    glViewport(0, 0, width, height);
    width_ = width;
    height_ = height;
    return true;
}

void OffscreenGL::MakeCurrent() {
    if (context_ == nullptr) return;
    glXMakeContextCurrent(SharedDisplay(), pbuffer_, pbuffer_, static_cast<GLXContext>(context_));
}

std::vector<uint8_t> OffscreenGL::ReadFrame() const {
    std::vector<uint8_t> frame(size_t(width_) * height_ * 4);
    if (frame.empty()) return frame;
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, frame.data());
    return frame;
}

std::vector<float> OffscreenGL::ReadFrameFloat() const {
    std::vector<float> frame(size_t(width_) * height_ * 4);
    if (frame.empty()) return frame;
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_FLOAT, frame.data());
    return frame;
}
