// ProgressiveCast: the choice of a frame's rays by the time budget, and the picture that coarse
// frames are interpolated into and refinement bands laid over.
#include "ProgressiveCast.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "VRImage.h"

namespace {

// Strides of the coarse frames, finest first.
constexpr int kStrides[] = {2, 3, 4, 6, 8, 12, 16};
// The stride of a first coarse frame, before any cast time has been measured.
constexpr int kUnmeasuredStride = 4;
// Weight of the newest measurement in the running cost estimates.
constexpr float kNewWeight = 0.5f;
// The cast keeps at least this part of the budget, however slow drawing was measured.
constexpr float kLeastCastShare = 0.25f;
// A ray that shows nothing (outside the volume, or through space the grid skips) costs about this
// much of one that shows something: refinement bands are sized by what the picture shows, so
// that a band through the middle of a head costs what one over the empty border does.
constexpr float kMissWeight = 0.05f;

int CeilDiv(int a, int b) {
    return (a + b - 1) / b;
}

float Blend(float estimate, float measured) {
    return estimate > 0.0f ? estimate + kNewWeight * (measured - estimate) : measured;
}

bool SameRegion(int const a[4], int const b[4]) {
    return std::memcmp(a, b, 4 * sizeof(int)) == 0;
}

// The cost weight of `rows` rows of RGBA pixels: 1 a pixel with some opacity, kMissWeight one
// without.
float CastWeight(float const* rgba, int width, int rows) {
    float weight = 0.0f;
    const std::size_t count = std::size_t(width) * std::size_t(rows);
    for (std::size_t i = 0; i < count; ++i)
        weight += rgba[4 * i + 3] > 0.0f ? 1.0f : kMissWeight;
    return weight;
}

}  // namespace

ProgressiveCast::ProgressiveCast()
    : picture(nullptr),
      pictureValid(false),
      pictureRegion{0, 0, 0, 0},
      nextRow(0),
      msPerRay{0.0f, 0.0f},
      msPerWeight(0.0f),
      aroundMs(0.0f),
      lastCastMs(0.0f) {
    picture = new VRImage();
}

ProgressiveCast::~ProgressiveCast() {
    delete picture;
}

float ProgressiveCast::MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<float, std::milli>(Clock::now() - start).count();
}

Matrix4x4 ProgressiveCast::CoarseRays(Matrix4x4 const& fullRays, int stride, int x0, int y0) {
    // Coarse window (x, y) -> full window (stride x + o_x, stride y + o_y) with
    // o = origin + 1/2 - stride / 2, so that centre i + 1/2 maps to origin + stride i + 1/2.
    const float k = float(stride);
    const float ox = float(x0) + 0.5f - 0.5f * k;
    const float oy = float(y0) + 0.5f - 0.5f * k;
    const Matrix4x4 coarseToFull(k, 0.f, 0.f, 0.f, 0.f, k, 0.f, 0.f, 0.f, 0.f, 1.f, 0.f, ox, oy,
                                 0.f, 1.f);
    return fullRays * coarseToFull;
}

float ProgressiveCast::CastBudgetMs(FrameQuality const& quality) const {
    return std::max(quality.budgetMs - aroundMs, kLeastCastShare * quality.budgetMs);
}

float ProgressiveCast::PredictedCastMs(int stride, float distanceFactor) const {
    const int w = pictureRegion[2], h = pictureRegion[3];
    float perRay = msPerRay[distanceFactor > 1.0f ? 1 : 0];
    // No coarse-distance measurement yet: the full distance's, for proportionally fewer samples.
    if (perRay <= 0.0f) perRay = msPerRay[0] / distanceFactor;
    return perRay * float(CeilDiv(w, stride)) * float(CeilDiv(h, stride));
}

int ProgressiveCast::ChooseStride(FrameQuality const& quality, float coarseDistanceFactor) const {
    if (msPerRay[0] <= 0.0f && msPerRay[1] <= 0.0f) return kUnmeasuredStride;
    const float budget = CastBudgetMs(quality);
    if (msPerRay[0] > 0.0f && PredictedCastMs(1, 1.0f) <= budget) return 1;
    for (int stride : kStrides)
        if (PredictedCastMs(stride, coarseDistanceFactor) <= budget) return stride;
    return kStrides[sizeof kStrides / sizeof kStrides[0] - 1];
}

void ProgressiveCast::Plan(FrameQuality const& quality, Matrix4x4 const& fullRays,
                           int const region[4], float coarseDistanceFactor) {
    const bool samePicture = pictureValid && !quality.restart && !quality.complete &&
                             SameRegion(region, pictureRegion) &&
                             std::memcmp(fullRays.m, pictureRays.m, sizeof fullRays.m) == 0;
    step = Step();
    step.rays = fullRays;
    std::memcpy(step.rect, region, sizeof step.rect);
    std::memcpy(pictureRegion, region, sizeof pictureRegion);
    pictureRays = fullRays;
    pictureValid = false;
    const int width = region[2], height = region[3];
    if (width <= 0 || height <= 0) return;  // nothing on screen: the plain frame

    if (quality.interacting || quality.restart) {
        const int stride = ChooseStride(quality, coarseDistanceFactor);
        if (stride == 1) return;
        step.kind = FrameQuality::kCoarseFrame;
        step.stride = stride;
        step.distanceFactor = coarseDistanceFactor;
        step.rays = CoarseRays(fullRays, stride, region[0], region[1]);
        step.rect[0] = 0;
        step.rect[1] = 0;
        step.rect[2] = CeilDiv(width, stride);
        step.rect[3] = CeilDiv(height, stride);
        return;
    }
    if (!samePicture || nextRow >= height) return;
    // The next band of full-quality rows whose cast fits the budget (what the drawing around it
    // leaves), predicted from what the shown picture has in those rows; an eighth of the
    // rectangle before any measurement.
    int rows = std::max(height / 8, 1);
    const float budget = CastBudgetMs(quality);
    if (msPerWeight > 0.0f) {
        float const* const shown = picture->pixels + std::size_t(nextRow) * std::size_t(width) * 4;
        float predicted = 0.0f;
        for (rows = 0; nextRow + rows < height; ++rows) {
            const float row =
                msPerWeight *
                CastWeight(shown + std::size_t(rows) * std::size_t(width) * 4, width, 1);
            if (rows > 0 && predicted + row > budget) break;
            predicted += row;
        }
    }
    rows = std::min(rows, height - nextRow);
    step.kind = FrameQuality::kRefineStep;
    step.firstRow = nextRow;
    step.rect[1] = region[1] + nextRow;
    step.rect[3] = rows;
}

void ProgressiveCast::TakeIn(FrameQuality& quality, float const* pixels, float castMs) {
    lastCastMs = castMs;
    quality.restart = false;
    quality.kind = step.kind;
    quality.distanceFactor = step.distanceFactor;
    const int width = pictureRegion[2], height = pictureRegion[3];
    const float rays = float(step.rect[2]) * float(step.rect[3]);
    if (pixels != nullptr && rays > 0.0f) {
        float& estimate = msPerRay[step.distanceFactor > 1.0f ? 1 : 0];
        estimate = Blend(estimate, castMs / rays);
        // Coarse frames at the full distance count too: their rays are the full frame's,
        // fewer, and they keep the estimate to the camera of the drag.
        if (step.distanceFactor <= 1.0f)
            msPerWeight =
                Blend(msPerWeight, castMs / CastWeight(pixels, step.rect[2], step.rect[3]));
    }
    switch (step.kind) {
        case FrameQuality::kFullFrame:
            nextRow = height;
            quality.stride = 1;
            break;
        case FrameQuality::kCoarseFrame:
            if (pixels == nullptr) break;
            picture->windowX = pictureRegion[0];
            picture->windowY = pictureRegion[1];
            picture->width = width;
            picture->height = height;
            picture->Allocate();
            Interpolate(pixels);
            pictureValid = true;
            nextRow = 0;
            quality.stride = step.stride;
            break;
        case FrameQuality::kRefineStep:
            if (pixels == nullptr) break;  // CastBand stored the rows
            pictureValid = true;
            nextRow = step.firstRow + step.rect[3];
            if (nextRow >= height) quality.stride = 1;
            break;
    }
    quality.complete = nextRow >= height;
    quality.refined = height > 0 ? float(std::min(nextRow, height)) / float(height) : 1.0f;
}

void ProgressiveCast::StoreRows(float const* pixels, int firstRow, int rows) {
    const std::size_t rowFloats = std::size_t(pictureRegion[2]) * 4;
    std::memcpy(picture->pixels + std::size_t(firstRow) * rowFloats, pixels,
                std::size_t(rows) * rowFloats * sizeof(float));
}

float const* ProgressiveCast::BandRows() const {
    return picture->pixels + std::size_t(step.firstRow) * std::size_t(pictureRegion[2]) * 4;
}

void ProgressiveCast::Interpolate(float const* coarse) {
    // Full pixel x lies between coarse samples i0 = x / k and i0 + 1 (clamped to the last one),
    // at t = (x - k i0) / k: value = (1 - t) c[i0] + t c[i0 + 1], the same along y.
    const int k = step.stride;
    const int coarseWidth = step.rect[2], coarseHeight = step.rect[3];
    const int width = picture->width, height = picture->height;
    float* const out = picture->pixels;
    for (int y = 0; y < height; ++y) {
        const int j0 = y / k;
        const int j1 = std::min(j0 + 1, coarseHeight - 1);
        const float ty = float(y - j0 * k) / float(k);
        float const* const row0 = coarse + std::size_t(j0) * std::size_t(coarseWidth) * 4;
        float const* const row1 = coarse + std::size_t(j1) * std::size_t(coarseWidth) * 4;
        float* const outRow = out + std::size_t(y) * std::size_t(width) * 4;
        for (int x = 0; x < width; ++x) {
            const int i0 = x / k;
            const int i1 = std::min(i0 + 1, coarseWidth - 1);
            const float tx = float(x - i0 * k) / float(k);
            for (int c = 0; c < 4; ++c) {
                const float top = row0[i0 * 4 + c] + tx * (row0[i1 * 4 + c] - row0[i0 * 4 + c]);
                const float bottom = row1[i0 * 4 + c] + tx * (row1[i1 * 4 + c] - row1[i0 * 4 + c]);
                outRow[x * 4 + c] = top + ty * (bottom - top);
            }
        }
    }
}

void ProgressiveCast::DrawPicture() const {
    if (pictureValid) picture->Render();
}

void ProgressiveCast::Finish(FrameQuality& quality) {
    quality.frameMs = MillisecondsSince(frameStart);
    // The time around the cast of coarse frames and refinement steps (interpolation, copies,
    // drawing of the whole rectangle) is what the next budget has to leave aside.
    if (step.kind != FrameQuality::kFullFrame)
        aroundMs = Blend(aroundMs, std::max(quality.frameMs - lastCastMs, 0.0f));
}
