// Camera set-up, matrices, examine drags and fly-through moves of SceneParam.
#include "SceneParam.h"

#include <cmath>

namespace {
// pi as the float the camera uses for its degree-to-radian conversion
constexpr float kPi = 3.1415927f;

// Half the vertical field of view in radians.
float HalfFovyRad(float fovy) {
    return fovy * kPi / 360.0f;
}
}  // namespace

SceneParam::SceneParam()
    : fovy(0.0f),
      aspect(0.0f),
      zNear(0.0f),
      zFar(0.0f),
      zTranslateBase(0.0f),
      translate{0.0f, 0.0f, 0.0f},
      scale(1.0f),
      rotation(),
      refTranslate{0.0f, 0.0f, 0.0f},
      refScale(1.0f),
      refRotation() {}

SceneParam::SceneParam(float fovy_, float aspect_, float const* size) : SceneParam() {
    InitSceneParam(fovy_, aspect_, size);
}

void SceneParam::InitSceneParam(float const* size) {
    // r: radius of the sphere around the model box
    float const r = 0.5f * std::sqrt(size[0] * size[0] + size[1] * size[1] + size[2] * size[2]);
    // distance at which that sphere just fills the vertical field of view
    float const s = std::sin(HalfFovyRad(fovy));
    zTranslateBase = -(r / s);
    zFar = (r - zTranslateBase) * 5.0f;
    zNear = (-zTranslateBase - r) / 5.0f;
}

void SceneParam::InitSceneParam(float fovy_, float aspect_, float const* size) {
    fovy = fovy_;
    aspect = aspect_;
    InitSceneParam(size);
}

void SceneParam::CalculateViewMatrix(Matrix4x4* view) const {
    // view = T x S x R: rotate, then scale, then translate
    Matrix4x4 const r = rotation.ToMatrix();
    Matrix4x4 const s = Matrix4x4::ScaleMatrix(scale, scale, scale);
    Matrix4x4 const t =
        Matrix4x4::TranslateMatrix(translate[0], translate[1], translate[2] + zTranslateBase);
    *view = t * s * r;
}

void SceneParam::CalculateProjectionMatrix(Matrix4x4* projection) const {
    // cot(half angle) on the diagonal:
    //   | f/aspect 0  0                  0               |
    //   | 0        f  0                  0               |
    //   | 0        0  -(F+N)/(F-N)  -2FN/(F-N)           |
    //   | 0        0  -1                 0               |
    float const t = std::tan(HalfFovyRad(fovy));
    float* m = projection->m;
    for (int i = 0; i < 16; ++i) {
        m[i] = 0.0f;
    }
    m[0] = zNear / (t * zNear * aspect);
    m[5] = zNear / (t * zNear);
    m[10] = -(zFar + zNear) / (zFar - zNear);
    m[11] = -1.0f;
    m[14] = (zFar * -2.0f * zNear) / (zFar - zNear);
}

void SceneParam::CalculateMatrix(Matrix4x4* view, Matrix4x4* projection) const {
    CalculateViewMatrix(view);
    CalculateProjectionMatrix(projection);
}

void SceneParam::MakeReference() {
    for (int i = 0; i < 3; ++i) {
        refTranslate[i] = translate[i];
    }
    refScale = scale;
    refRotation = rotation;
}

void SceneParam::Translate(int dx, int dy, int const* viewport) {
    // k: pixels per eye-space unit at distance 1
    float const k = (float(viewport[1]) * 0.5f) / std::tan(HalfFovyRad(fovy));
    translate[0] = refTranslate[0] - (float(dx) / k) * zTranslateBase;
    translate[1] = refTranslate[1] - (float(dy) / k) * zTranslateBase;
}

void SceneParam::Rotate(int dx, int dy, float radPerPixel) {
    if (dx == 0 && dy == 0) {
        rotation = refRotation;
        return;
    }
    // axis = (0, 0, 1) x (dx, dy, 0) = (-dy, dx, 0), normalised
    float const fx = float(dx);
    float const fy = float(dy);
    float const len = std::sqrt(fx * fx + fy * fy);
    Quaternion const d(-fy / len, fx / len, 0.0f, len * radPerPixel);
    rotation = d * refRotation;
}

void SceneParam::Scale(int dy, float ratePerPixel) {
    scale = std::exp(float(dy) * ratePerPixel) * refScale;
}

void SceneParam::Move(float dx, float dy, float dz) {
    translate[0] -= scale * dx;
    translate[1] -= scale * dy;
    translate[2] -= scale * dz;
}

void SceneParam::MoveTo(float x, float y, float z, float const* size) {
    Matrix4x4 view;
    CalculateViewMatrix(&view);
    // box coordinates (origin at the corner) to centred model coordinates
    Vector4 const p(x - size[0] * 0.5f, y - size[1] * 0.5f, z - size[2] * 0.5f, 1.0f);
    // shift the model so that p lands on the eye at the origin
    Vector4 const q = view * p;
    translate[0] -= q.x / q.w;
    translate[1] -= q.y / q.w;
    translate[2] -= q.z / q.w;
}

void SceneParam::Turn(float h, float v) {
    if (h == 0.0f && v == 0.0f) {
        return;
    }
    // axis = (0, 0, 1) x (h, v, 0) = (-v, h, 0), normalised; angle = its length
    float const len = std::sqrt(h * h + v * v);
    RotateAboutEye(Quaternion(-v / len, h / len, 0.0f, len));
}

void SceneParam::Roll(float angle) {
    if (angle == 0.0f) {
        return;
    }
    RotateAboutEye(Quaternion(0.0f, 0.0f, 1.0f, angle));
}

void SceneParam::RotateAboutEye(Quaternion const& d) {
    // e: the eye position in model coordinates, inverse view x origin
    Matrix4x4 inverseView;
    CalculateViewMatrix(&inverseView);
    inverseView.Inverse();
    Vector4 const e = inverseView * Vector4(0.0f, 0.0f, 0.0f, 1.0f);

    rotation = d * rotation;

    // bring e back onto the eye under the new rotation
    Matrix4x4 view;
    CalculateViewMatrix(&view);
    Vector4 const q = view * e;
    translate[0] -= q.x / q.w;
    translate[1] -= q.y / q.w;
    translate[2] -= q.z / q.w;
}
