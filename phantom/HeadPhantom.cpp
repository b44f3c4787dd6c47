// Procedural CT-like head phantom: nested ellipsoids and spheres evaluated per voxel centre in
// anatomical coordinates (u right-left, v back-face, w neck-crown), plus a hash-based noise that
// depends only on the voxel index.
#include "HeadPhantom.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "VolumeData.h"

namespace {

using V = HeadPhantomValues;

// Squared normalised distance of p from an axis-aligned ellipsoid centred at c with radii r:
// q = sum ((p - c) / r)^2; inside for q < 1.
inline float Ellipsoid(float u, float v, float w, float cx, float cy, float cz, float rx, float ry,
                       float rz) {
    const float a = (u - cx) / rx;
    const float b = (v - cy) / ry;
    const float c = (w - cz) / rz;
    return a * a + b * b + c * c;
}

inline bool InSphere(float u, float v, float w, float cx, float cy, float cz, float r) {
    const float a = u - cx;
    const float b = v - cy;
    const float c = w - cz;
    return a * a + b * b + c * c < r * r;
}

// Outer surface (skin) of the head.
constexpr float kHeadCz = 0.10f, kHeadRx = 0.68f, kHeadRy = 0.82f, kHeadRz = 0.80f;
// Shells in units of the head ellipsoid's radial parameter rho = sqrt(q).
constexpr float kFatOuter = 0.95f;    // scalp: rho in (0.95, 1)
constexpr float kSkullOuter = 0.93f;  // fat: rho in (0.93, 0.95]
constexpr float kSkullInner = 0.85f;  // bone: rho in (0.85, 0.93]
constexpr float kInnerTable = 0.87f;  // cortical below, diploe above
constexpr float kOuterTable = 0.91f;  // diploe below, cortical above
// The cranial floor: a bony slab below the brain, pierced by the foramen.
constexpr float kSkullBaseTop = -0.30f;
constexpr float kSkullBaseBottom = -0.36f;
// The neck: an elliptic cylinder below the head down to kNeckBottom, with a vertebral column.
constexpr float kNeckCy = -0.10f, kNeckRx = 0.40f, kNeckRy = 0.44f, kNeckBottom = -0.92f;
constexpr float kSpineCy = -0.25f, kSpineR = 0.09f, kCordR = 0.04f, kSpineTop = -0.40f;

// Cortical bone density varies smoothly over the head, by at most kCorticalVariation, so that a
// projection through the skull shows its texture:
//   2400 + 150 sin(6 u + 1) cos(5 w - 0.5) cos(4 v + 0.3).
inline uint16_t Cortical(float u, float v, float w) {
    const float variation = float(V::kCorticalVariation) * std::sin(6.0f * u + 1.0f) *
                            std::cos(5.0f * w - 0.5f) * std::cos(4.0f * v + 0.3f);
    return uint16_t(int(V::kCorticalBone) + int(std::lround(variation)));
}

// Lower jaw and teeth along a dental arch: the front half of the ellipse
// (u / 0.26)^2 + ((v - 0.05) / 0.34)^2 = 1 in the horizontal plane, |r - 1| < 0.12 in its
// radial parameter r. Bone for w in (-0.56, -0.45), teeth above it for w in [-0.45, -0.37) and
// |r - 1| < 0.10, fourteen of them with gaps between; 0 where the point is not on the arch.
uint16_t Jaw(float u, float v, float w) {
    if (w <= -0.56f || w >= -0.37f) return 0;
    const float du = u / 0.26f;
    const float dv = (v - 0.05f) / 0.34f;
    if (dv < 0.0f) return 0;
    const float r = std::sqrt(du * du + dv * dv);
    if (std::fabs(r - 1.0f) >= 0.12f) return 0;
    if (w < -0.45f) return Cortical(u, v, w);
    if (std::fabs(r - 1.0f) >= 0.10f) return 0;
    // Teeth: the arch angle in [0, pi] split into 14 slots, the first 15% of each a gap.
    const float slots = std::atan2(dv, du) / 3.14159265f * 14.0f;
    return slots - std::floor(slots) < 0.15f ? 0 : V::kTooth;
}

uint16_t Brain(float u, float v, float w) {
    // Small dense structures first: they sit inside the brain and the ventricles.
    if (InSphere(u, v, w, 0.0f, -0.12f, 0.12f, 0.03f)) return V::kPinealCalcification;
    if (InSphere(u, v, w, 0.11f, -0.22f, 0.24f, 0.022f) ||
        InSphere(u, v, w, -0.11f, -0.22f, 0.24f, 0.022f))
        return V::kCalcification;
    if (InSphere(u, v, w, 0.32f, 0.28f, 0.48f, 0.018f) ||
        InSphere(u, v, w, -0.20f, -0.35f, 0.52f, 0.018f))
        return V::kClip;
    // Lateral ventricles: banana-shaped, their ends droop by 0.10 * (dy / 0.32)^2.
    const float dy = v / 0.32f;
    const float droop = 0.28f - 0.10f * dy * dy;
    if (Ellipsoid(std::fabs(u), v, w, 0.11f, 0.0f, droop, 0.07f, 0.32f, 0.10f) < 1.0f)
        return V::kCsf;
    // Third and fourth ventricles.
    if (Ellipsoid(u, v, w, 0.0f, 0.02f, 0.10f, 0.025f, 0.14f, 0.10f) < 1.0f) return V::kCsf;
    if (Ellipsoid(u, v, w, 0.0f, -0.30f, -0.18f, 0.06f, 0.04f, 0.05f) < 1.0f) return V::kCsf;
    // White matter core, grey matter rim.
    if (Ellipsoid(u, v, w, 0.0f, 0.0f, 0.15f, 0.45f, 0.58f, 0.45f) < 1.0f) return V::kWhiteMatter;
    return V::kGreyMatter;
}

// Eye globe with lens, the orbital fat around it and the bony orbit wall (a shell 0.02 thick
// around the fat); 0 outside the orbit and its wall.
uint16_t Orbit(float u, float v, float w, bool* inOrbit) {
    const float au = std::fabs(u);
    *inOrbit = false;
    if (!InSphere(au, v, w, 0.26f, 0.60f, 0.0f, 0.19f)) return 0;
    *inOrbit = true;
    if (!InSphere(au, v, w, 0.26f, 0.60f, 0.0f, 0.17f)) return Cortical(u, v, w);
    if (Ellipsoid(au, v, w, 0.26f, 0.72f, 0.0f, 0.045f, 0.02f, 0.045f) < 1.0f) return V::kLens;
    if (InSphere(au, v, w, 0.26f, 0.63f, 0.0f, 0.11f)) return V::kEye;
    return V::kFat;
}

uint16_t Neck(float u, float v, float w) {
    const float su = u;
    const float sv = v - kSpineCy;
    if (w < kSpineTop && su * su + sv * sv < kSpineR * kSpineR) {
        return su * su + sv * sv < kCordR * kCordR ? V::kWhiteMatter : Cortical(u, v, w);
    }
    return V::kScalp;
}

inline bool InNeck(float u, float v, float w) {
    if (w < kNeckBottom || w > 0.0f) return false;
    const float a = u / kNeckRx;
    const float b = (v - kNeckCy) / kNeckRy;
    return a * a + b * b < 1.0f;
}

// 32-bit integer hash (good avalanche, cheap).
inline uint32_t Hash(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

inline float Normalised(int index, int count) {
    // Voxel centre: u = (2 i + 1) / count - 1, in (-1, 1).
    return float(2 * index + 1) / float(count) - 1.0f;
}

// Pass 1: the noise-free value at every voxel centre of slices [kBegin, kEnd).
void FillSlices(uint16_t* voxels, const int dims[3], int kBegin, int kEnd) {
    const int nx = dims[0];
    const int ny = dims[1];
    for (int k = kBegin; k < kEnd; ++k) {
        const float v = Normalised(k, dims[2]);  // z: back of the head to the face
        for (int j = 0; j < ny; ++j) {
            const float w = Normalised(j, ny);  // y: neck to crown
            uint16_t* row = voxels + size_t(nx) * (size_t(j) + size_t(ny) * size_t(k));
            // The row meets the head ellipsoid where u^2 < rx^2 (1 - b^2 - c^2) and the neck
            // where u^2 < neck rx^2 (1 - b'^2); outside both it is air.
            const float b = v / kHeadRy;
            const float c = (w - kHeadCz) / kHeadRz;
            float reach = 1.0f - b * b - c * c;
            float half = reach > 0.0f ? kHeadRx * std::sqrt(reach) : -1.0f;
            if (w >= kNeckBottom && w <= 0.0f) {
                const float bn = (v - kNeckCy) / kNeckRy;
                const float neckReach = 1.0f - bn * bn;
                if (neckReach > 0.0f) half = std::max(half, kNeckRx * std::sqrt(neckReach));
            }
            std::fill(row, row + nx, V::kAir);
            if (half <= 0.0f) continue;
            // Voxels with |u| < half, widened by one voxel; the exact test is per voxel.
            const int iBegin = std::max(0, int(std::floor((1.0f - half) * float(nx) * 0.5f)) - 1);
            const int iEnd = std::min(nx, int(std::ceil((1.0f + half) * float(nx) * 0.5f)) + 1);
            for (int i = iBegin; i < iEnd; ++i)
                row[i] = HeadPhantomValueAt(Normalised(i, nx), v, w);
        }
    }
}

// Pass 2 over slices [kBegin, kEnd): a voxel whose six neighbours (inside the grid) are of its
// tissue keeps its centre value; any other voxel straddles a boundary and takes the partial-volume
// mix. Then the noise of the stored value's class is added.
void FinishSlices(const uint16_t* centres, uint16_t* voxels, const int dims[3], int kBegin,
                  int kEnd) {
    const int nx = dims[0], ny = dims[1], nz = dims[2];
    const size_t sliceSize = size_t(nx) * size_t(ny);
    for (int k = kBegin; k < kEnd; ++k) {
        for (int j = 0; j < ny; ++j) {
            const size_t rowStart = size_t(nx) * (size_t(j) + size_t(ny) * size_t(k));
            for (int i = 0; i < nx; ++i) {
                const size_t at = rowStart + size_t(i);
                const uint16_t centre = centres[at];
                const bool boundary =
                    (i > 0 && !HeadPhantomSameTissue(centres[at - 1], centre)) ||
                    (i + 1 < nx && !HeadPhantomSameTissue(centres[at + 1], centre)) ||
                    (j > 0 && !HeadPhantomSameTissue(centres[at - size_t(nx)], centre)) ||
                    (j + 1 < ny && !HeadPhantomSameTissue(centres[at + size_t(nx)], centre)) ||
                    (k > 0 && !HeadPhantomSameTissue(centres[at - sliceSize], centre)) ||
                    (k + 1 < nz && !HeadPhantomSameTissue(centres[at + sliceSize], centre));
                const uint16_t value = boundary ? HeadPhantomPartialVolume(i, j, k, dims) : centre;
                voxels[at] = uint16_t(int(value) + HeadPhantomNoise(i, j, k, value));
            }
        }
    }
}

// Runs work(kBegin, kEnd) over contiguous slabs of the nz slices on all processors.
template <class Work>
void ForSlabs(int nz, Work work) {
    const int threads = std::max(1, std::min<int>(std::thread::hardware_concurrency(), nz));
    std::vector<std::thread> workers;
    workers.reserve(size_t(threads - 1));
    for (int t = 1; t < threads; ++t)
        workers.emplace_back(work, nz * t / threads, nz * (t + 1) / threads);
    work(0, nz / threads);
    for (std::thread& worker : workers)
        worker.join();
}

}  // namespace

uint16_t HeadPhantomValueAt(float u, float v, float w) {
    const float q = Ellipsoid(u, v, w, 0.0f, 0.0f, kHeadCz, kHeadRx, kHeadRy, kHeadRz);
    if (q >= 1.0f) return InNeck(u, v, w) ? Neck(u, v, w) : V::kAir;

    const float rho = std::sqrt(q);
    // The eyes reach forward into the scalp; the rest of the orbit stays inside the skin layers.
    bool inOrbit = false;
    const uint16_t orbit = Orbit(u, v, w, &inOrbit);
    if (orbit == V::kEye || orbit == V::kLens) return orbit;
    if (rho > kFatOuter) return V::kScalp;
    if (rho > kSkullOuter) return V::kFat;
    if (inOrbit) return orbit;

    if (w < kSkullBaseBottom) {
        // Below the cranial floor: jaw and teeth, muscle, and the vertebral column.
        const uint16_t jaw = Jaw(u, v, w);
        if (jaw != 0) return jaw;
        return InNeck(u, v, w) ? Neck(u, v, w) : V::kScalp;
    }
    if (rho > kSkullInner) {
        // Frontal sinus: an air cell inside the frontal bone.
        if (Ellipsoid(u, v, w, 0.0f, 0.70f, 0.32f, 0.14f, 0.035f, 0.06f) < 1.0f) return V::kAir;
        return (rho < kInnerTable || rho > kOuterTable) ? Cortical(u, v, w) : V::kDiploe;
    }
    if (w < kSkullBaseTop) {
        // Cranial floor, pierced by the foramen where the brain stem leaves.
        const float fv = v + 0.20f;
        if (u * u + fv * fv < 0.12f * 0.12f) return V::kWhiteMatter;
        return Cortical(u, v, w);
    }
    return Brain(u, v, w);
}

int HeadPhantomNoise(int i, int j, int k, uint16_t value) {
    int amplitude = 0;
    if (value >= V::kSoftTissueMin && value <= V::kSoftTissueMax) {
        amplitude = V::kSoftNoise;
    } else if (value >= V::kBoneMin && value <= V::kBoneMax) {
        amplitude = V::kBoneNoise;
    }
    if (amplitude == 0) return 0;
    const uint32_t h = Hash(uint32_t(i) ^ Hash(uint32_t(j) ^ Hash(uint32_t(k) + 0x9e3779b9U)));
    return int(h % uint32_t(2 * amplitude + 1)) - amplitude;
}

bool HeadPhantomSameTissue(uint16_t a, uint16_t b) {
    const int low = int(V::kCorticalBone) - V::kCorticalVariation;
    const int high = int(V::kCorticalBone) + V::kCorticalVariation;
    return a == b || (a >= low && a <= high && b >= low && b <= high);
}

uint16_t HeadPhantomPartialVolume(int i, int j, int k, const int dims[3]) {
    // Sub-samples at the voxel centre +- a quarter voxel per axis (a quarter voxel is 0.5 / n in
    // normalised units); the rounded mean.
    const float u = Normalised(i, dims[0]), w = Normalised(j, dims[1]), v = Normalised(k, dims[2]);
    const float du = 0.5f / float(dims[0]), dw = 0.5f / float(dims[1]), dv = 0.5f / float(dims[2]);
    int sum = 0;
    for (int s = 0; s < 8; ++s) {
        const float su = u + ((s & 1) ? du : -du);
        const float sw = w + ((s & 2) ? dw : -dw);
        const float sv = v + ((s & 4) ? dv : -dv);
        sum += HeadPhantomValueAt(su, sv, sw);
    }
    return uint16_t((sum + 4) / 8);
}

void FillHeadPhantom(uint16_t* voxels, const int dims[3]) {
    if (voxels == nullptr || dims[0] <= 0 || dims[1] <= 0 || dims[2] <= 0) return;
    // Each voxel is written by exactly one thread in each pass; pass 2 reads pass 1's centres
    // across slab borders only after all of pass 1 has joined.
    std::vector<uint16_t> centres(size_t(dims[0]) * size_t(dims[1]) * size_t(dims[2]));
    ForSlabs(dims[2], [&](int begin, int end) { FillSlices(centres.data(), dims, begin, end); });
    ForSlabs(dims[2],
             [&](int begin, int end) { FinishSlices(centres.data(), voxels, dims, begin, end); });
}

VolumeData* CreateHeadPhantom(int dimX, int dimY, int dimZ) {
    if (dimX <= 0 || dimY <= 0 || dimZ <= 0) return nullptr;
    if (2.0 * double(dimX) * double(dimY) * double(dimZ) >= 2147483648.0) return nullptr;
    const int dims[3] = {dimX, dimY, dimZ};
    const float spacings[3] = {kHeadPhantomExtentMm / float(dimX),
                               kHeadPhantomExtentMm / float(dimY),
                               kHeadPhantomExtentMm / float(dimZ)};
    std::unique_ptr<VolumeData> volume(new VolumeData());
    volume->SetDataType(VolumeData::dtUint16);
    volume->SetDimensions(dims);
    volume->SetSpacings(spacings);
    volume->Allocate();  // throws std::bad_alloc when memory runs out
    FillHeadPhantom(static_cast<uint16_t*>(volume->GetData()), dims);
    return volume.release();
}

VolumeData* CreateHeadPhantom(int size) {
    return CreateHeadPhantom(size, size, size);
}
