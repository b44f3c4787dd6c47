// RGBATransferFunction1D: the sorted control points and the lazy piecewise-linear table.
#include "RGBATransferFunction1D.h"

#include <algorithm>

namespace {

constexpr int kDefaultSampleCount = 256;
constexpr float kDefaultMaxPos = 256.0f;

}  // namespace

RGBATransferFunction1D::RGBATransferFunction1D() : points(nullptr), dirty(true) {
    lut.sampleCount = kDefaultSampleCount;
    lut.minPos = 0.0f;
    lut.maxPos = kDefaultMaxPos;
    lut.Allocate();
    points = new std::vector<ControlPoint>();
}

RGBATransferFunction1D::~RGBATransferFunction1D() {
    delete points;
}

RGBATransferFunction1D::RGBATransferFunction1D(const RGBATransferFunction1D& other)
    : lut(other.lut), points(new std::vector<ControlPoint>(*other.points)), dirty(other.dirty) {}

RGBATransferFunction1D& RGBATransferFunction1D::operator=(const RGBATransferFunction1D& other) {
    if (this == &other) return *this;
    *points = *other.points;
    lut = other.lut;
    dirty = other.dirty;
    return *this;
}

int RGBATransferFunction1D::AddPoint(float pos, Vector4 rgba) {
    dirty = true;
    const float position =
        (pos - lut.minPos) / (lut.maxPos - lut.minPos) * float(lut.sampleCount - 1);
    // After every point with an equal or smaller position.
    const auto at =
        std::upper_bound(points->begin(), points->end(), position,
                         [](float p, const ControlPoint& point) { return p < point.position; });
    const std::ptrdiff_t index = at - points->begin();
    points->insert(at, ControlPoint{position, rgba});
    return int(index);
}

void RGBATransferFunction1D::RemovePoint(int index) {
    if (index < 0 || index >= GetPointCount()) return;
    dirty = true;
    points->erase(points->begin() + index);
}

void RGBATransferFunction1D::RemoveAllPoints() {
    points->clear();
    dirty = true;
}

void RGBATransferFunction1D::SetRGBAValue(int index, Vector4 rgba) {
    if (index < 0 || index >= GetPointCount()) return;
    dirty = true;
    (*points)[std::size_t(index)].rgba = rgba;
}

int RGBATransferFunction1D::GetPointCount() const {
    return int(points->size());
}

float RGBATransferFunction1D::GetPos(int index) const {
    if (index < 0 || index >= GetPointCount()) return 0.0f;
    return (*points)[std::size_t(index)].position / float(lut.sampleCount - 1) *
               (lut.maxPos - lut.minPos) +
           lut.minPos;
}

Vector4 RGBATransferFunction1D::GetValue(int index) const {
    if (index < 0 || index >= GetPointCount()) return Vector4(0.0f, 0.0f, 0.0f, 0.0f);
    return (*points)[std::size_t(index)].rgba;
}

void RGBATransferFunction1D::SetSampleNumber(int count) {
    lut.sampleCount = count;
    lut.Allocate();
    dirty = true;
}

int RGBATransferFunction1D::GetSampleNumber() const {
    return lut.sampleCount;
}

void RGBATransferFunction1D::SetMinPos(float minPos) {
    lut.minPos = minPos;
    dirty = true;
}

float RGBATransferFunction1D::GetMinPos() const {
    return lut.minPos;
}

void RGBATransferFunction1D::SetMaxPos(float maxPos) {
    lut.maxPos = maxPos;
    dirty = true;
}

float RGBATransferFunction1D::GetMaxPos() const {
    return lut.maxPos;
}

const Lut1D& RGBATransferFunction1D::GetLut1D() {
    Update();
    return lut;
}

Vector4* RGBATransferFunction1D::GetData() {
    Update();
    return lut.data;
}

void RGBATransferFunction1D::Update() {
    if (!dirty) return;
    _update();
    dirty = false;
}

void RGBATransferFunction1D::_update() {
    const int n = lut.sampleCount;
    if (n < 1 || lut.data == nullptr) return;
    const float last = float(n - 1);
    const std::vector<ControlPoint>& list = *points;
    const std::size_t m = list.size();
    const Vector4 transparent(0.0f, 0.0f, 0.0f, 0.0f);
    // Implicit transparent stops at entry 0 and at the last entry.
    ControlPoint previous{0.0f, transparent};
    ControlPoint next = m > 0 ? list[0] : ControlPoint{last, transparent};
    std::size_t k = 0;  // next unconsumed point
    for (int j = 0; j < n; ++j) {
        const float f = float(j);
        if (k < m && f > list[k].position) {
            // Pass every point left of this entry.
            while (k < m && f > list[k].position)
                previous = list[k++];
            next = k == m ? ControlPoint{last, transparent} : list[k];
        }
        Vector4& entry = lut.data[j];
        if (next.position == previous.position) {
            entry = next.rgba;
            continue;
        }
        // entry = next (1 - t) + previous t, t = (next - f) / (next - previous)
        const float t = (next.position - f) / (next.position - previous.position);
        entry.x = next.rgba.x * (1.0f - t) + previous.rgba.x * t;
        entry.y = next.rgba.y * (1.0f - t) + previous.rgba.y * t;
        entry.z = next.rgba.z * (1.0f - t) + previous.rgba.z * t;
        entry.w = next.rgba.w * (1.0f - t) + previous.rgba.w * t;
    }
}
