// The interactive-quality frame of a ray-cast scene: a coarse frame that fits the time budget
// while input is under way, then the full picture in bands of rows, one band per frame.
#pragma once

#include <chrono>

#include "FrameQuality.h"
#include "KestrelExport.h"
#include "Matrix4x4.h"
#include "VRSceneParam.h"

class VRImage;

// One frame is Frame (plan, cast, take in) followed by Draw. The scene sets up the rays and the
// image rectangle of the full-quality frame as always; Frame then chooses what to cast:
//
//   full frame   every ray, at once: not interacting and nothing coarse left to refine (the
//                camera, the rectangle or the settings changed), or a full frame fits the budget;
//   coarse frame while interacting, and in the first frame after input: the rays of every stride-th
//   pixel in x and y, pixel
//                (stride i, stride j) of the full rectangle, stride the smallest of 2, 3, 4, 6,
//                8, 12, 16 whose predicted cast time fits the budget, at the sample distance
//                times coarseDistanceFactor; drawn bilinearly interpolated up to the rectangle;
//   refine step  not interacting with a coarse picture of the same camera shown: the next band of
//                full-quality rows whose predicted cast fits the budget, laid over it; the last
//                band makes the picture the full frame, pixel for pixel. The band is cast in
//                chunks of kChunkRows rows, and cut short once the next chunk, as long as the
//                last one, would end past the budget: a misjudged band costs at most one chunk
//                more than the budget.
//
// The coarse rays come from the full frame's windowToPhysical times a window scaling (coarse
// window pixel centre i + 1/2 lands on full window pixel centre stride i + 1/2 of the rectangle);
// the eye is unchanged. Predictions come from the measured cast time per ray of earlier frames
// (separately for the full and the coarse sample distance) and the measured time spent around
// the cast (interpolation, drawing), so the choice follows the machine's load. A band's cost is
// predicted per row from the shown picture: a pixel with some opacity counts as one ray, one
// without as a twentieth (its ray left the volume or crossed skipped space).
//
// Owns the picture it interpolates and refines into (a VRImage). Not copyable. GL thread only.
class KESTREL_SCENE_API ProgressiveCast {
public:
    ProgressiveCast();
    ~ProgressiveCast();
    ProgressiveCast(ProgressiveCast const&) = delete;
    ProgressiveCast& operator=(ProgressiveCast const&) = delete;

    /// The rays of the coarse frame with the given stride for a full frame with these rays and a
    /// rectangle starting at window (x0, y0); the coarse rectangle starts at window (0, 0).
    static Matrix4x4 CoarseRays(Matrix4x4 const& fullRays, int stride, int x0, int y0);

    /// Plans and casts one frame. `image` holds the full frame's rectangle (windowX, windowY,
    /// width, height) and `rays` its ray set-up; cast(distanceFactor) allocates the image for
    /// the rectangle Frame wrote into it, runs the kernel with the sample distance times
    /// distanceFactor and returns the pixels (null: nothing cast). Afterwards `rays` is the full
    /// frame's again and `image` holds what was cast last (of a refine step, the band's last
    /// chunk); `quality` reports the frame.
    template <class Image, class Cast>
    void Frame(FrameQuality& quality, VRSceneParam& rays, Image& image, float coarseDistanceFactor,
               Cast&& cast) {
        frameStart = Clock::now();
        const int region[4] = {image.windowX, image.windowY, image.width, image.height};
        Plan(quality, rays.windowToPhysical, region, coarseDistanceFactor);
        const Matrix4x4 fullRays = rays.windowToPhysical;
        rays.windowToPhysical = step.rays;
        image.windowX = step.rect[0];
        image.windowY = step.rect[1];
        image.width = step.rect[2];
        image.height = step.rect[3];
        const Clock::time_point castStart = Clock::now();
        float const* const pixels = step.kind == FrameQuality::kRefineStep
                                        ? CastBand(quality, image, cast)
                                        : cast(step.distanceFactor);
        const float castMs = MillisecondsSince(castStart);
        rays.windowToPhysical = fullRays;
        TakeIn(quality, pixels, castMs);
    }

    /// Draws the frame: the cast image itself for a full frame, else the interpolated and refined
    /// picture; records the frame's time in quality.frameMs.
    template <class Image>
    void Draw(FrameQuality& quality, Image const& image) {
        if (step.kind == FrameQuality::kFullFrame) {
            image.Render();
        } else {
            DrawPicture();
        }
        Finish(quality);
    }

    /// The interpolated and refined picture (the full rectangle); null before the first coarse
    /// frame.
    VRImage const* Picture() const { return picture; }

private:
    using Clock = std::chrono::steady_clock;

    // Rows per cast of a refine step's band.
    static constexpr int kChunkRows = 16;

    // Casts the refine step's band chunk by chunk into the picture (see the class comment), sets
    // step.rect[3] to the rows cast and returns the band's rows of the picture (null when a cast
    // gave nothing).
    template <class Image, class Cast>
    float const* CastBand(FrameQuality const& quality, Image& image, Cast& cast) {
        const Clock::time_point start = Clock::now();
        const float budget = CastBudgetMs(quality);
        const int bandTop = step.rect[1], bandRows = step.rect[3];
        int done = 0;
        while (done < bandRows) {
            const int rows = bandRows - done < kChunkRows ? bandRows - done : kChunkRows;
            image.windowY = bandTop + done;
            image.height = rows;
            const Clock::time_point chunkStart = Clock::now();
            float const* const pixels = cast(step.distanceFactor);
            if (pixels == nullptr) return nullptr;
            StoreRows(pixels, step.firstRow + done, rows);
            done += rows;
            if (MillisecondsSince(start) + MillisecondsSince(chunkStart) > budget) break;
        }
        step.rect[3] = done;
        return BandRows();
    }

    struct Step {
        FrameQuality::Kind kind = FrameQuality::kFullFrame;
        int stride = 1;
        float distanceFactor = 1.0f;
        int rect[4] = {0, 0, 0, 0};  // window x, y, width, height of the cast
        int firstRow = 0;            // refine step: first row of the band in the rectangle
        Matrix4x4 rays;              // windowToPhysical of the cast
    };

    static float MillisecondsSince(Clock::time_point start);
    void Plan(FrameQuality const& quality, Matrix4x4 const& fullRays, int const region[4],
              float coarseDistanceFactor);
    int ChooseStride(FrameQuality const& quality, float coarseDistanceFactor) const;
    float PredictedCastMs(int stride, float distanceFactor) const;
    float CastBudgetMs(FrameQuality const& quality) const;
    void TakeIn(FrameQuality& quality, float const* pixels, float castMs);
    void StoreRows(float const* pixels, int firstRow, int rows);
    float const* BandRows() const;
    void Interpolate(float const* coarse);
    void DrawPicture() const;
    void Finish(FrameQuality& quality);

    Step step;              // what the current frame casts
    VRImage* picture;       // interpolated and refined picture; owned
    bool pictureValid;      // picture shows pictureRays / pictureRegion
    Matrix4x4 pictureRays;  // the full frame's rays the picture belongs to
    int pictureRegion[4];   // its rectangle
    int nextRow;            // first row of the picture not yet at full quality
    float msPerRay[2];      // measured cast time per ray: full, coarse distance (0: none yet)
    float msPerWeight;      // measured full-distance cast time per weighted ray (0: none yet)
    float aroundMs;         // measured time of a frame beside its cast (0: none yet)
    float lastCastMs;       // the current frame's cast time
    Clock::time_point frameStart;
};
