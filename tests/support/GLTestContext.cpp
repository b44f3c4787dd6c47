// GLX pbuffer context for tests.
#include "support/GLTestContext.h"

#include <GL/glew.h>
#include <GL/glx.h>
#include <X11/Xlib.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {
// Opens $DISPLAY, retrying for up to two seconds: an X server resets when
// its last client disconnects (the previous test process, say), and drops
// connections made during the reset.
Display* OpenWithRetry() {
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (Display* d = XOpenDisplay(nullptr)) return d;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return nullptr;
}

// One display connection per process, opened on first use and never closed:
// closing it unloads Mesa's driver, whose remaining allocations a leak
// checker then reports without a module name that a suppression could match.
Display* SharedDisplay() {
    static Display* display = OpenWithRetry();
    return display;
}

// X errors (e.g. a refused pbuffer) must not end the test process.
int g_xError = 0;
int RecordXError(Display*, XErrorEvent* e) {
    g_xError = e->error_code;
    return 0;
}
}  // namespace

struct GLTestContext::Impl {
    Display* display = nullptr;
    GLXPbuffer pbuffer = 0;
    GLXContext context = nullptr;
};

bool GLTestContext::DisplayAvailable() {
    char const* name = std::getenv("DISPLAY");
    if (name == nullptr || name[0] == '\0') return false;
    return SharedDisplay() != nullptr;
}

GLTestContext::GLTestContext(int width, int height) : width_(width), height_(height) {
    char const* name = std::getenv("DISPLAY");
    if (name == nullptr || name[0] == '\0') {
        error_ = "DISPLAY is not set (run under Xvfb)";
        return;
    }
    if (width <= 0 || height <= 0) {
        error_ = "context size must be positive";
        return;
    }
    impl_ = new Impl;
    impl_->display = SharedDisplay();
    if (impl_->display == nullptr) {
        error_ = std::string("cannot open X display ") + name;
        return;
    }
    Display* dpy = impl_->display;
    int major = 0, minor = 0;
    if (!glXQueryVersion(dpy, &major, &minor) || major < 1 || (major == 1 && minor < 3)) {
        error_ = "GLX 1.3 is not available on display " + std::string(name);
        return;
    }
    int const attribs[] = {GLX_DRAWABLE_TYPE,
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
    GLXFBConfig* configs = glXChooseFBConfig(dpy, DefaultScreen(dpy), attribs, &count);
    if (configs == nullptr || count == 0) {
        error_ = "no RGBA8 + depth24 pbuffer config on display " + std::string(name);
        if (configs) XFree(configs);
        return;
    }
    GLXFBConfig const config = configs[0];
    XFree(configs);

    int (*oldHandler)(Display*, XErrorEvent*) = XSetErrorHandler(RecordXError);
    g_xError = 0;
    int const pbAttribs[] = {
        GLX_PBUFFER_WIDTH, width, GLX_PBUFFER_HEIGHT, height, GLX_PRESERVED_CONTENTS, True, None};
    impl_->pbuffer = glXCreatePbuffer(dpy, config, pbAttribs);
    impl_->context = glXCreateNewContext(dpy, config, GLX_RGBA_TYPE, nullptr, True);
    XSync(dpy, False);
    XSetErrorHandler(oldHandler);
    if (impl_->pbuffer == 0 || impl_->context == nullptr || g_xError != 0) {
        error_ = "pbuffer or context creation failed (X error " + std::to_string(g_xError) + ")";
        return;
    }
    if (!glXMakeContextCurrent(dpy, impl_->pbuffer, impl_->pbuffer, impl_->context)) {
        error_ = "glXMakeContextCurrent failed";
        return;
    }
    glewExperimental = GL_TRUE;
    GLenum const glewStatus = glewInit();
    if (glewStatus != GLEW_OK) {
        error_ = std::string("glewInit failed: ") +
                 reinterpret_cast<char const*>(glewGetErrorString(glewStatus));
        return;
    }
    GLint drawBuffer = GL_FRONT;
    glGetIntegerv(GL_DRAW_BUFFER, &drawBuffer);
    glReadBuffer(static_cast<GLenum>(drawBuffer));
    glViewport(0, 0, width, height);
    ok_ = true;
}

GLTestContext::~GLTestContext() {
    if (impl_ == nullptr) return;
    Display* dpy = impl_->display;
    if (dpy != nullptr) {
        glXMakeContextCurrent(dpy, None, None, nullptr);
        if (impl_->context != nullptr) glXDestroyContext(dpy, impl_->context);
        if (impl_->pbuffer != 0) glXDestroyPbuffer(dpy, impl_->pbuffer);
        XSync(dpy, False);
    }
    delete impl_;
}

void GLTestContext::MakeCurrent() {
    if (!ok_) return;
    glXMakeContextCurrent(impl_->display, impl_->pbuffer, impl_->pbuffer, impl_->context);
}

std::vector<uint8_t> GLTestContext::ReadPixels8() const {
    std::vector<uint8_t> out;
    if (!ok_) return out;
    out.resize(static_cast<size_t>(width_) * height_ * 4);
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
    return out;
}

std::vector<float> GLTestContext::ReadPixelsFloat() const {
    std::vector<float> out;
    if (!ok_) return out;
    out.resize(static_cast<size_t>(width_) * height_ * 4);
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_FLOAT, out.data());
    return out;
}
