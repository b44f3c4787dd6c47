// The viewer's endoscopy layout: slice companion and volume view side by side, one camera.
#include "EndoscopyPair.h"

#include <GL/glew.h>

#include "CoherentVolume.h"
#include "FlyThrough.h"
#include "Scene.h"

EndoscopyPair::EndoscopyPair(Scene& view, CoherentVolume* volume) : view_(view), volume_(volume) {
    slice_.SetSceneParam(&view_.GetSceneParameters());
    slice_.SetVolume(volume_);
    // the grey window of the whole value range of the bricked volume
    double low = 0.0, high = 0.0;
    volume_->GetMinMaxValue(low, high);
    if (high > low) slice_.SetWidthCenter(float(high - low), float(0.5 * (low + high)));
}

void EndoscopyPair::Init() {
    view_.Init();
}

void EndoscopyPair::Resize(int width, int height) {
    width_ = width;
    height_ = height;
    sliceWidth_ = width / 2;
    // both set the shared camera's aspect; the view's half is the one it renders with
    slice_.Resize(sliceWidth_, height);
    view_.Resize(width - sliceWidth_, height);
}

void EndoscopyPair::Render() {
    const int viewWidth = width_ - sliceWidth_;
    glEnable(GL_SCISSOR_TEST);
    // the view at the left edge (its image is placed in window coordinates) ...
    glViewport(0, 0, viewWidth, height_);
    glScissor(0, 0, viewWidth, height_);
    view_.Render();
    // ... copied to the right half, unblended
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glWindowPos2i(sliceWidth_, 0);
    glCopyPixels(0, 0, viewWidth, height_, GL_COLOR);
    // the slice in the left half
    glEnable(GL_SCISSOR_TEST);
    glViewport(0, 0, sliceWidth_, height_);
    glScissor(0, 0, sliceWidth_, height_);
    slice_.Render();
    glDisable(GL_SCISSOR_TEST);
    glViewport(0, 0, width_, height_);
}

bool EndoscopyPair::LookAlong(char letter) {
    FlyThroughPose pose;
    if (!AxisPoseOfLetter(letter, volume_->dimensions, &pose)) return false;
    PlaceCamera(view_.GetSceneParameters(), volume_->dimensions, volume_->spacings, pose);
    return true;
}

void EndoscopyPair::Keyboard(unsigned char key, int x, int y, retStatus& status) {
    if (key == 'c') {
        slice_.IsHorizontial() ? slice_.SetVertical() : slice_.SetHorizontial();
        status.redraw = true;
        return;
    }
    if (LookAlong(char(key))) {
        status.redraw = true;
        return;
    }
    view_.Keyboard(key, x, y, status);
}

void EndoscopyPair::KeyboardUp(unsigned char key, int x, int y, retStatus& status) {
    view_.KeyboardUp(key, x, y, status);
}

void EndoscopyPair::Speckey(int key, int x, int y, retStatus& status) {
    view_.Speckey(key, x, y, status);
}

void EndoscopyPair::SpecialUp(int key, int x, int y, retStatus& status) {
    view_.SpecialUp(key, x, y, status);
}

AbstractScene& EndoscopyPair::Target(int x) {
    if (captured_ != nullptr) return *captured_;
    if (x < sliceWidth_) return slice_;
    return view_;
}

int EndoscopyPair::OffsetOf(const AbstractScene& half) const {
    return &half == &slice_ ? 0 : sliceWidth_;
}

void EndoscopyPair::Translate(const AbstractScene& half, retStatus& status) const {
    if (status.setCursor) status.cursorX += OffsetOf(half);
}

template <class Handler>
void EndoscopyPair::Button(int x, int y, retStatus& status, bool press, Handler handler) {
    pointerX_ = x;
    AbstractScene& half = Target(x);
    if (press) {
        captured_ = &half;
        ++buttonsDown_;
    }
    (half.*handler)(x - OffsetOf(half), y, status);
    Translate(half, status);
    if (!press && buttonsDown_ > 0 && --buttonsDown_ == 0) captured_ = nullptr;
}

void EndoscopyPair::LButtonDown(int x, int y, retStatus& status) {
    Button(x, y, status, true, &AbstractScene::LButtonDown);
}
void EndoscopyPair::LButtonUp(int x, int y, retStatus& status) {
    Button(x, y, status, false, &AbstractScene::LButtonUp);
}
void EndoscopyPair::MButtonDown(int x, int y, retStatus& status) {
    Button(x, y, status, true, &AbstractScene::MButtonDown);
}
void EndoscopyPair::MButtonUp(int x, int y, retStatus& status) {
    Button(x, y, status, false, &AbstractScene::MButtonUp);
}
void EndoscopyPair::RButtonDown(int x, int y, retStatus& status) {
    Button(x, y, status, true, &AbstractScene::RButtonDown);
}
void EndoscopyPair::RButtonUp(int x, int y, retStatus& status) {
    Button(x, y, status, false, &AbstractScene::RButtonUp);
}

void EndoscopyPair::Wheel(int delta, retStatus& status) {
    Target(pointerX_).Wheel(delta, status);
}

void EndoscopyPair::MouseMove(int x, int y, retStatus& status) {
    pointerX_ = x;
    AbstractScene& half = Target(x);
    half.MouseMove(x - OffsetOf(half), y, status);
    Translate(half, status);
}
