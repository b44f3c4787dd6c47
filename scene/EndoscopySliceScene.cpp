// EndoscopySliceScene: the cut of the shared camera, its field-of-view overlay, and the drags that
// steer the camera from the cut.
#include "EndoscopySliceScene.h"

#include <GL/glew.h>

#include <cmath>

#include "CoherentVolume.h"
#include "SceneParam.h"
#include "VRImage.h"

namespace {

constexpr float kPi = 3.1415927f;
// Natural-log change of gridSpacing per unit of wheel rotation.
constexpr float kWheelRate = 0.001f;

}  // namespace

EndoscopySliceScene::EndoscopySliceScene()
    : pressX(0),
      pressY(0),
      kernelModule(),
      horizontal(true),
      gridSpacing(1.0f),
      viewport{0, 0},
      camera(nullptr),
      rotateRadPerPixel(0.005f),
      windowWidthAtPress(0.0f),
      windowCenterAtPress(0.0f),
      middleButtonDown(false),
      leftButtonDown(false),
      rightButtonDown(false),
      ownedImage(nullptr) {
    ownedImage = new VRImage();
    kernelModule.image = ownedImage;
}

EndoscopySliceScene::~EndoscopySliceScene() {
    delete ownedImage;
}

void EndoscopySliceScene::SetVolume(CoherentVolume* volume) {
    if (volume == nullptr) return;
    kernelModule.volume = volume;
    SetVolumeInfo(volume->dimensions, volume->spacings);
}

void EndoscopySliceScene::SetVolumeInfo(int* const dims, float* const spacings) {
    if (dims == nullptr || spacings == nullptr) return;
    for (int axis = 0; axis < 3; ++axis) {
        kernelModule.sliceBounds[2 * axis] = 0.0f;
        kernelModule.sliceBounds[2 * axis + 1] = float(dims[axis] - 1);
    }
    // one slice pixel per mean voxel spacing
    gridSpacing = float((double(spacings[0]) + spacings[1] + spacings[2]) / 3.0);
}

void EndoscopySliceScene::SetWidthCenter(float width, float center) {
    kernelModule.windowWidth = width;
    kernelModule.windowCenter = center;
}

void EndoscopySliceScene::Resize(int width, int height) {
    viewport[0] = width;
    viewport[1] = height;
    if (camera != nullptr) camera->aspect = float(width) / float(height);
    glViewport(0, 0, width, height);
}

bool EndoscopySliceScene::RenderSlice() {
    VRImage* const image = kernelModule.image;
    if (camera == nullptr || kernelModule.volume == nullptr || image == nullptr) return false;
    image->windowX = 0;
    image->windowY = 0;
    image->width = viewport[0];
    image->height = viewport[1];
    Matrix4x4 view;
    camera->CalculateViewMatrix(&view);
    // gridSpacing is in model units; the camera's scale turns it into eye units
    kernelModule.CalculatePixelToVoxelMatrix(horizontal, gridSpacing * camera->scale, view);
    image->Allocate();
    kernelModule.Render();
    return true;
}

bool EndoscopySliceScene::CalculateFieldOfViewLines(float lines[8]) const {
    if (camera == nullptr) return false;
    const float w = float(viewport[0]);
    const float h = float(viewport[1]);
    // tv: tangent of half the vertical field of view; ah: half the horizontal one
    const float tv = std::tan(camera->fovy * kPi / 360.0f);
    const float ah = std::atan(tv * camera->aspect);
    if (horizontal) {
        // camera at the middle of the bottom edge, the lines opening upward
        const float spread = h * std::tan(ah);
        const float edges[8] = {w / 2, h, w / 2 - spread, 0.0f, w / 2, h, w / 2 + spread, 0.0f};
        for (int i = 0; i < 8; ++i)
            lines[i] = edges[i];
    } else {
        // camera at the middle of the left edge, the lines opening to the right
        const float spread = w * tv;
        const float edges[8] = {0.0f, h / 2, w, h / 2 - spread, 0.0f, h / 2, w, h / 2 + spread};
        for (int i = 0; i < 8; ++i)
            lines[i] = edges[i];
    }
    return true;
}

void EndoscopySliceScene::Render() {
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (!RenderSlice()) return;
    // opaque: covers the whole window
    kernelModule.image->Render();

    float lines[8];
    CalculateFieldOfViewLines(lines);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    // event coordinates: y grows downward
    glOrtho(0.0, double(viewport[0]) - 1.0, double(viewport[1]) - 1.0, 0.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glColor3f(1.0f, 1.0f, 0.0f);
    glBegin(GL_LINES);
    for (int i = 0; i < 8; i += 2)
        glVertex2f(lines[i], lines[i + 1]);
    glEnd();
}

void EndoscopySliceScene::ParkPointer(retStatus& status, int& cx, int& cy) const {
    // half the size in float, truncated toward zero
    cx = int(float(viewport[0]) * 0.5f);
    cy = int(float(viewport[1]) * 0.5f);
    status.setCursor = true;
    status.cursorX = cx;
    status.cursorY = cy;
}

void EndoscopySliceScene::LButtonDown(int, int, retStatus& status) {
    int cx, cy;
    ParkPointer(status, cx, cy);
    leftButtonDown = true;
}

void EndoscopySliceScene::LButtonUp(int, int, retStatus&) {
    leftButtonDown = false;
}

void EndoscopySliceScene::MButtonDown(int x, int y, retStatus&) {
    pressX = x;
    pressY = y;
    windowWidthAtPress = kernelModule.windowWidth;
    windowCenterAtPress = kernelModule.windowCenter;
    middleButtonDown = true;
}

void EndoscopySliceScene::MButtonUp(int, int, retStatus&) {
    middleButtonDown = false;
}

void EndoscopySliceScene::RButtonDown(int, int, retStatus& status) {
    int cx, cy;
    ParkPointer(status, cx, cy);
    rightButtonDown = true;
}

void EndoscopySliceScene::RButtonUp(int, int, retStatus&) {
    rightButtonDown = false;
}

void EndoscopySliceScene::Wheel(int delta, retStatus& status) {
    gridSpacing *= std::exp(float(delta) * kWheelRate);
    status.redraw = true;
}

void EndoscopySliceScene::MouseMove(int x, int y, retStatus& status) {
    const float w = float(viewport[0]);
    const float h = float(viewport[1]);
    if (middleButtonDown) {
        // grey window relative to the press: the whole width right doubles the width, the whole
        // height up doubles the centre
        kernelModule.windowWidth = (float(x - pressX) / w + 1.0f) * windowWidthAtPress;
        kernelModule.windowCenter = (float(pressY - y) / h + 1.0f) * windowCenterAtPress;
        status.redraw = true;
    }
    if (leftButtonDown && camera != nullptr) {
        // move within the cut, one slice pixel per pixel of offset from the parked pointer
        int cx, cy;
        ParkPointer(status, cx, cy);
        if (horizontal) {
            camera->Move(float(x - cx) * gridSpacing, 0.0f, float(y - cy) * gridSpacing);
        } else {
            camera->Move(0.0f, float(cy - y) * gridSpacing, float(cx - x) * gridSpacing);
        }
        status.redraw = true;
    }
    if (rightButtonDown && camera != nullptr) {
        // turn about the eye within the cut
        int cx, cy;
        ParkPointer(status, cx, cy);
        if (horizontal) {
            camera->Turn(float(x - cx) * rotateRadPerPixel, 0.0f);
        } else {
            camera->Turn(0.0f, float(cy - y) * rotateRadPerPixel);
        }
        status.redraw = true;
    }
}
