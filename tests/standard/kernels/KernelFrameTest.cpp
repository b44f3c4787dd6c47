// The parallel frame: fan-out over threads (every index once, failed thread starts made up on the
// calling thread), the pixel loop (every pixel written once for any thread count, misses
// transparent, channel clamp), and the per-pixel ray against an independent double-precision
// construction.
#include "kernels/KernelFrame.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "FrameTestSupport.h"

using namespace frametest;

namespace {

// ---- fan-out ----

struct CountingJob {
    std::vector<std::atomic<int>> calls;
    std::atomic<int> wrongCount{0};
    int expectedCount = 0;
    pthread_t caller;
    std::atomic<int> indexZeroOnCaller{0};
    std::vector<std::atomic<int>> onCaller;
    explicit CountingJob(int n) : calls(n), expectedCount(n), caller(pthread_self()), onCaller(n) {}
};

void CountingWorker(int threadCount, int threadIndex, void* userData) {
    CountingJob& job = *static_cast<CountingJob*>(userData);
    if (threadCount != job.expectedCount || threadIndex < 0 || threadIndex >= threadCount) {
        ++job.wrongCount;
        return;
    }
    ++job.calls[threadIndex];
    if (pthread_equal(pthread_self(), job.caller)) ++job.onCaller[threadIndex];
}

// pthread_create that refuses every odd index's thread (the record's index is not visible here,
// so count the calls: the frame starts threads 1 .. N-1 in order).
std::atomic<int> gStartCalls{0};
int RefuseOddThreads(pthread_t* thread, const pthread_attr_t* attributes, void* (*entry)(void*),
                     void* argument) {
    const int index = ++gStartCalls;
    if (index % 2 == 1) return EAGAIN;
    return pthread_create(thread, attributes, entry, argument);
}
int RefuseAllThreads(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) {
    return EAGAIN;
}

// ---- pixel loop ----

// Box [0, 20]^3 (unit spacing) seen by a perspective camera; window 37 x 23.
struct Scene {
    int viewport[2] = {37, 23};
    double size[3] = {20, 20, 20};
    Mat view, projection;
    VRSceneParam param;
    KernelState state;
    std::unique_ptr<TestVolume> volume;

    explicit Scene(const Mat& viewMatrix) : view(viewMatrix) {
        projection = Perspective(50.0, 37.0 / 23.0, 1.0, 300.0);
        const int dims[3] = {20, 20, 20};
        const float spacing[3] = {1.f, 1.f, 1.f};
        volume = MakeVolume(dims, spacing, std::vector<float>(8000, 1.f));
        int origin[2], regionSize[2];
        param.CalculateVRSceneParamAndImageRegion(viewport, dims, spacing, ToFloat(view),
                                                  ToFloat(projection), origin, regionSize);
        for (int a = 0; a < 3; ++a) {
            param.croppingBounds[2 * a] = 0.f;
            param.croppingBounds[2 * a + 1] = 20.f;
        }
        state.BindVolume(&volume->volume);
    }
    // Independent ray through window position (px, py): eye and unit direction, physical.
    void Ray(double px, double py, double eye[3], double dir[3]) const {
        const Mat toPhysical =
            Invert(Mul(Mul(Mat{viewport[0] * 0.5, 0, 0, 0, 0, viewport[1] * 0.5, 0, 0, 0, 0, 0.5, 0,
                               viewport[0] * 0.5, viewport[1] * 0.5, 0.5, 1},
                           projection),
                       Mul(view, Translation(-10, -10, -10))));
        const Vec e = Apply(Invert(Mul(view, Translation(-10, -10, -10))), Vec{0, 0, 0, 1});
        const Vec p = Apply(toPhysical, Vec{px, py, 0, 1});
        double len = 0;
        for (int a = 0; a < 3; ++a) {
            eye[a] = e[a] / e[3];
            dir[a] = p[a] / p[3] - eye[a];
            len += dir[a] * dir[a];
        }
        for (int a = 0; a < 3; ++a)
            dir[a] /= std::sqrt(len);
    }
};

// Colour from the ray itself, so that a pixel shows whether it got its own ray; counts calls.
struct DirectionTracer {
    std::atomic<int>* calls;
    Vector4 operator()(const PixelRay& ray) {
        calls->fetch_add(1, std::memory_order_relaxed);
        return Vector4(ray.dirPhysical.x * 0.5f + 0.5f, ray.dirPhysical.y * 0.5f + 0.5f,
                       ray.dirPhysical.z * 0.5f + 0.5f, 0.75f);
    }
};

struct ConstantTracer {
    Vector4 colour;
    Vector4 operator()(const PixelRay&) const { return colour; }
};

VRImage* MakeImage(VRImage& image, int x, int y, int width, int height) {
    image.windowX = x, image.windowY = y, image.width = width, image.height = height;
    image.Allocate();
    for (int i = 0; i < width * height * 4; ++i)
        image.pixels[i] = std::numeric_limits<float>::quiet_NaN();
    return &image;
}

}  // namespace

TEST(RunOnProcessors, RunsEveryIndexExactlyOnceWithIndexZeroOnTheCaller) {
    for (int n : {1, 2, 3, 7, 16}) {
        CountingJob job(n);
        RunOnProcessors(n, &CountingWorker, &job);
        EXPECT_EQ(job.wrongCount, 0) << n;
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(job.calls[i], 1) << "index " << i << " of " << n;
        EXPECT_EQ(job.onCaller[0], 1);
        for (int i = 1; i < n; ++i)
            EXPECT_EQ(job.onCaller[i], 0) << "index " << i << " of " << n;
    }
}

TEST(RunOnProcessors, AllProcessorsMeansTheOnlineProcessorCount) {
    const int online = int(sysconf(_SC_NPROCESSORS_ONLN));
    EXPECT_EQ(GetProcessorCount(), online > 0 ? online : 1);
    CountingJob job(GetProcessorCount());
    RunOnAllProcessors(&CountingWorker, &job);
    EXPECT_EQ(job.wrongCount, 0);
    for (int i = 0; i < GetProcessorCount(); ++i)
        EXPECT_EQ(job.calls[i], 1);
}

TEST(RunOnProcessors, SharesOfThreadsThatCannotStartRunOnTheCaller) {
    gStartCalls = 0;
    CountingJob job(6);
    RunOnProcessors(6, &CountingWorker, &job, &RefuseOddThreads);
    EXPECT_EQ(gStartCalls, 5);
    EXPECT_EQ(job.wrongCount, 0);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(job.calls[i], 1) << i;
    // Thread starts 1, 3, 5 failed: indices 1, 3, 5 ran on the caller, 2 and 4 did not.
    const int expectedOnCaller[6] = {1, 1, 0, 1, 0, 1};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(job.onCaller[i], expectedOnCaller[i]) << i;

    // One processor: no thread is started at all.
    gStartCalls = 0;
    CountingJob single(1);
    RunOnProcessors(1, &CountingWorker, &single, &RefuseOddThreads);
    EXPECT_EQ(gStartCalls, 0);
    EXPECT_EQ(single.calls[0], 1);
    EXPECT_EQ(single.onCaller[0], 1);

    // No thread at all: the image is still complete.
    Scene scene(Translation(0, 0, -60));
    VRImage image;
    MakeImage(image, 0, 0, 37, 23);
    const ConstantTracer tracer{Vector4(0.5f, 0.5f, 0.5f, 0.5f)};
    scene.state.BindSceneParam(scene.param);
    const RayPixel<ConstantTracer> pixel{&scene.state, tracer};
    PixelJob<RayPixel<ConstantTracer>> render{&pixel, &image};
    RunOnProcessors(4, &PixelWorker<RayPixel<ConstantTracer>>, &render, &RefuseAllThreads);
    for (int i = 0; i < 37 * 23 * 4; ++i)
        ASSERT_FALSE(std::isnan(image.pixels[i])) << i;
}

// A share that throws on the calling thread: the started threads are joined before the exception
// leaves, so their records outlive them.
TEST(RunOnProcessors, JoinsTheStartedThreadsBeforeAnExceptionLeaves) {
    struct Job {
        std::atomic<int> finished{0};
    } job;
    auto worker = [](int, int threadIndex, void* userData) {
        Job& j = *static_cast<Job*>(userData);
        if (threadIndex == 0) throw std::runtime_error("share 0 failed");
        usleep(20000);  // still running when share 0 throws
        ++j.finished;
    };
    EXPECT_THROW(RunOnProcessors(4, worker, &job), std::runtime_error);
    EXPECT_EQ(job.finished, 3);
}

// With the whole window looking into the box, every ray hits: the tracer runs once per pixel, so
// "no pixel left unwritten" and "calls == pixels" together mean every pixel is written exactly
// once. Each pixel's colour must come from its own ray.
TEST(RenderPixels, WritesEveryPixelExactlyOnceForAnyThreadCount) {
    Scene scene(Translation(0, 0, -12));  // eye 2 units outside the +z face, box fills the view
    struct Region {
        int x, y, width, height;
    };
    const Region regions[] = {{0, 0, 37, 23}, {4, 2, 3, 5}, {10, 7, 1, 1}, {0, 0, 38, 24}};
    for (const Region& r : regions)
        for (int threads : {1, 2, 3, 4, 8, 64}) {
            VRImage image;
            MakeImage(image, r.x, r.y, r.width, r.height);
            std::atomic<int> calls{0};
            RenderImage(scene.state, &image, &scene.param, DirectionTracer{&calls}, threads);
            EXPECT_EQ(calls, r.width * r.height) << threads << " threads";
            for (int j = 0; j < r.height; ++j)
                for (int i = 0; i < r.width; ++i) {
                    double eye[3], dir[3];
                    scene.Ray(r.x + i + 0.5, r.y + j + 0.5, eye, dir);
                    const float* p = image.pixels + (j * r.width + i) * 4;
                    for (int c = 0; c < 3; ++c)
                        ASSERT_NEAR(p[c], dir[c] * 0.5 + 0.5, 1e-4)
                            << "pixel " << i << ", " << j << " with " << threads << " threads";
                    ASSERT_EQ(p[3], 0.75f);
                }
        }
}

TEST(RenderPixels, RaysMissingTheBoxAreTransparentAndColoursAreClamped) {
    // The box seen from afar covers the middle of the window only.
    Scene scene(Mul(Translation(0, 0, -90), Rotation(0.5, 0.6, 0.8, 0.0)));
    VRImage image;
    MakeImage(image, 0, 0, 37, 23);
    RenderImage(
        scene.state, &image, &scene.param,
        ConstantTracer{Vector4(1.5f, -0.5f, std::numeric_limits<float>::quiet_NaN(), 0.25f)}, 3);
    int hits = 0, misses = 0;
    const double lo[3] = {0, 0, 0}, hi[3] = {20, 20, 20};
    for (int j = 0; j < 23; ++j)
        for (int i = 0; i < 37; ++i) {
            double eye[3], dir[3], tNear, tFar;
            scene.Ray(i + 0.5, j + 0.5, eye, dir);
            SlabIntersect(eye, dir, lo, hi, tNear, tFar);
            tNear = std::max(tNear, 0.0);
            if (std::fabs(tFar - tNear) < 1e-3) continue;  // grazing: either answer is right
            const float* p = image.pixels + (j * 37 + i) * 4;
            if (tFar > tNear) {
                ++hits;
                EXPECT_EQ(p[0], 1.f);  // 1.5 clamps to 1
                EXPECT_EQ(p[1], 0.f);  // -0.5 clamps to 0
                EXPECT_EQ(p[2], 1.f);  // NaN becomes 1
                EXPECT_EQ(p[3], 0.25f);
            } else {
                ++misses;
                for (int c = 0; c < 4; ++c)
                    EXPECT_EQ(p[c], 0.f) << i << ", " << j;
            }
        }
    EXPECT_GT(hits, 20);
    EXPECT_GT(misses, 100);
}

TEST(RenderPixels, NoImageOrNoPixelsIsANoOp) {
    Scene scene(Translation(0, 0, -60));
    std::atomic<int> calls{0};
    RenderImage(scene.state, static_cast<VRImage*>(nullptr), &scene.param, DirectionTracer{&calls});
    VRImage image;  // pixels null
    image.width = 5, image.height = 5;
    RenderImage(scene.state, &image, &scene.param, DirectionTracer{&calls});
    EXPECT_EQ(calls, 0);
}

// SetUpPixelRay against the double-precision construction for random cameras and cropping boxes,
// with anisotropic spacing: origin, directions and the clipped interval.
TEST(SetUpPixelRay, MatchesAnIndependentRayAndSlabClip) {
    std::mt19937 rng(99);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const int viewport[2] = {200, 150};
    const int dims[3] = {40, 30, 20};
    const float spacing[3] = {0.5f, 1.f, 2.f};
    const double size[3] = {20, 30, 40};
    int checkedHits = 0, checkedInside = 0;
    for (int trial = 0; trial < 40; ++trial) {
        double ax = unit(rng), ay = unit(rng), az = unit(rng);
        const double len = std::sqrt(ax * ax + ay * ay + az * az);
        // Every fourth camera sits inside the box.
        const double distance = trial % 4 == 0 ? 3.0 * unit(rng) : 40.0 + 30.0 * unit(rng);
        const Mat view = Mul(Translation(2.0 * unit(rng), 2.0 * unit(rng), -distance),
                             Rotation(3.0 * unit(rng), ax / len, ay / len, az / len));
        const Mat projection = Perspective(45.0, 200.0 / 150.0, 0.5, 500.0);
        VRSceneParam param;
        int origin[2], regionSize[2];
        param.CalculateVRSceneParamAndImageRegion(viewport, dims, spacing, ToFloat(view),
                                                  ToFloat(projection), origin, regionSize);
        double lo[3], hi[3];
        for (int a = 0; a < 3; ++a) {
            const double l = (0.5 + 0.5 * unit(rng)) * 0.3 * (dims[a] - 1);
            const double h = (dims[a] - 1) - (0.5 + 0.5 * unit(rng)) * 0.3 * (dims[a] - 1);
            param.croppingBounds[2 * a] = float(l);
            param.croppingBounds[2 * a + 1] = float(h);
            lo[a] = param.croppingBounds[2 * a];
            hi[a] = param.croppingBounds[2 * a + 1];
        }
        KernelState state;
        state.BindSceneParam(param);

        const Mat modelView =
            Mul(view, Translation(-0.5 * size[0], -0.5 * size[1], -0.5 * size[2]));
        const Mat toPhysical = Invert(
            Mul(Mul(Mat{100, 0, 0, 0, 0, 75, 0, 0, 0, 0, 0.5, 0, 100, 75, 0.5, 1}, projection),
                modelView));
        const Vec e = Apply(Invert(modelView), Vec{0, 0, 0, 1});
        const double eye[3] = {e[0] / e[3], e[1] / e[3], e[2] / e[3]};
        for (int sample = 0; sample < 30; ++sample) {
            const double px = 200.0 * (0.5 + 0.5 * unit(rng)), py = 150.0 * (0.5 + 0.5 * unit(rng));
            PixelRay ray;
            state.SetUpPixelRay(float(px), float(py), ray);
            const Vec p = Apply(toPhysical, Vec{px, py, 0, 1});
            double d[3], dl = 0;
            for (int a = 0; a < 3; ++a)
                d[a] = p[a] / p[3] - eye[a], dl += d[a] * d[a];
            double o[3], dv[3];
            for (int a = 0; a < 3; ++a) {
                d[a] /= std::sqrt(dl);
                o[a] = eye[a] / spacing[a];
                dv[a] = d[a] / spacing[a];
            }
            const float* got[3] = {&ray.originVoxel.x, &ray.dirVoxel.x, &ray.dirPhysical.x};
            for (int a = 0; a < 3; ++a) {
                EXPECT_NEAR(got[0][a], o[a], 1e-3 * (1 + std::fabs(o[a])));
                EXPECT_NEAR(got[1][a], dv[a], 1e-4);
                EXPECT_NEAR(got[2][a], d[a], 1e-4);
            }
            EXPECT_EQ(ray.originVoxel.w, 1.f);
            EXPECT_EQ(ray.dirPhysical.w, 0.f);
            double tNear, tFar;
            SlabIntersect(o, dv, lo, hi, tNear, tFar);
            const bool inside = tNear <= 0.0 && tFar > 0.0;
            tNear = std::max(tNear, 0.0);
            const double tolerance = 1e-3 * (1.0 + std::fabs(tFar));
            if (tFar > tNear + tolerance) {
                ++checkedHits;
                checkedInside += inside;
                EXPECT_NEAR(ray.tNear, tNear, tolerance);
                EXPECT_NEAR(ray.tFar, tFar, tolerance);
                if (inside) {
                    EXPECT_EQ(ray.tNear, 0.f);
                }
            } else if (tFar < tNear - tolerance) {
                EXPECT_LE(ray.tFar, ray.tNear);
            }
        }
    }
    EXPECT_GT(checkedHits, 200);
    EXPECT_GT(checkedInside, 50);
}

// A ray parallel to a face of the cropping box and lying in that face is inside (the bounds are
// inclusive); 0 / 0 in the slab test must not turn it into a miss.
TEST(SetUpPixelRay, RayInAFacePlaneOfTheCroppingBoxIsInside) {
    // windowToPhysical maps (px, py, 0, 1) to (0, py, px, 1); its third column puts the eye at
    // (0, 5, -5). Every ray then has x = 0 and direction x = 0.
    VRSceneParam param;
    param.windowToPhysical = Matrix4x4(0, 0, 1, 0, 0, 1, 0, 0, 0, 5, -5, 1, 0, 0, 0, 1);
    const float bounds[6] = {0, 10, 0, 10, 0, 10};
    std::copy(bounds, bounds + 6, param.croppingBounds);
    KernelState state;
    state.BindSceneParam(param);
    EXPECT_EQ(state.eye.x, 0.f);
    EXPECT_EQ(state.eye.y, 5.f);
    EXPECT_EQ(state.eye.z, -5.f);
    PixelRay ray;
    state.SetUpPixelRay(0.f, 5.f, ray);  // straight along +z at y = 5
    EXPECT_EQ(ray.dirVoxel.x, 0.f);
    EXPECT_FLOAT_EQ(ray.tNear, 5.f);
    EXPECT_FLOAT_EQ(ray.tFar, 15.f);
    // Moved just outside the face: a miss.
    param.croppingBounds[0] = 0.001f;
    state.BindSceneParam(param);
    state.SetUpPixelRay(0.f, 5.f, ray);
    EXPECT_FALSE(ray.tFar > ray.tNear);
}
