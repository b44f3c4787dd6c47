// A procedural CT-like head phantom, generated at run time for the applications, tests and
// benchmarks: no stored data, the same voxels on every run and every machine.
#ifndef KESTREL_HEAD_PHANTOM_H
#define KESTREL_HEAD_PHANTOM_H

#include <cstdint>

class VolumeData;

// Sample values of the phantom (unsigned 16 bit, CT numbers shifted by +1024 so that
// water is 1024 and air is 0). Soft tissue and bone carry a small deterministic noise of at
// most +-kSoftNoise and +-kBoneNoise; air and the dense structures are noise-free.
//
//   air (outside the head, sinus)  : exactly 0
//   soft tissue                    : 900 .. 1100   (fat 940, CSF 1030, white matter 1052,
//                                                   grey matter 1064, scalp/muscle 1080,
//                                                   eye 1034, lens 1090)
//   bone                           : 1500 .. 2600  (diploe 1750; cortical bone of the skull
//                                                   tables, jaw and spine 2400, varying
//                                                   smoothly by up to +-150 over the head)
//   dense structures               : 3000 .. 3500  (calcifications 3000 / 3100, teeth 3200,
//                                                   clips 3500)
//
// These are the values inside the tissues. Voxels on a boundary between two values hold a
// partial-volume mix instead (see FillHeadPhantom), which may lie between the classes (a scalp
// voxel half in air holds about 540, a skull voxel half in fat about 1700). The whole volume
// therefore spans 0 .. 3500 (on coarse grids, where the small clips keep no voxel of their own,
// it ends lower), and a grey window set from its value range maps air to black, soft tissue to
// about 0.3, bone to 0.5 .. 0.74, teeth to 0.91 and the clips to white.
struct HeadPhantomValues {
    static constexpr uint16_t kAir = 0;
    static constexpr uint16_t kFat = 940;
    static constexpr uint16_t kCsf = 1030;
    static constexpr uint16_t kEye = 1034;
    static constexpr uint16_t kWhiteMatter = 1052;
    static constexpr uint16_t kGreyMatter = 1064;
    static constexpr uint16_t kScalp = 1080;
    static constexpr uint16_t kLens = 1090;
    static constexpr uint16_t kDiploe = 1750;
    static constexpr uint16_t kCorticalBone = 2400;  // nominal, see kCorticalVariation
    static constexpr int kCorticalVariation = 150;   // +- smooth variation of cortical bone
    static constexpr uint16_t kCalcification = 3000;
    static constexpr uint16_t kPinealCalcification = 3100;
    static constexpr uint16_t kTooth = 3200;
    static constexpr uint16_t kClip = 3500;

    static constexpr int kSoftNoise = 6;   // +- amplitude inside soft tissue
    static constexpr int kBoneNoise = 20;  // +- amplitude inside bone

    // Class ranges, inclusive, noise included.
    static constexpr uint16_t kSoftTissueMin = 900;
    static constexpr uint16_t kSoftTissueMax = 1100;
    static constexpr uint16_t kBoneMin = 1500;
    static constexpr uint16_t kBoneMax = 2600;
    static constexpr uint16_t kDenseMin = 3000;
    static constexpr uint16_t kDenseMax = 3500;
};

// Physical extent of the phantom along every axis, in millimetres, whatever the grid size:
// the spacing of axis a is kHeadPhantomExtentMm / dims[a].
constexpr float kHeadPhantomExtentMm = 256.0f;

// Anatomical frame. The phantom is described in normalised anatomical coordinates
// (u, v, w) in [-1, 1]^3: u from the head's right (-1) to its left (+1), v from the back of the
// head (-1) to the face (+1), w from the neck (-1) to the crown (+1). The voxel grid maps them as
//   x (dims[0]) -> u,   y (dims[1]) -> w (up),   z (dims[2]) -> v (towards the face),
// voxel (i, j, k) being sampled at its centre u = (2 i + 1) / dims[0] - 1,
// w = (2 j + 1) / dims[1] - 1, v = (2 k + 1) / dims[2] - 1. A scene's initial camera (looking
// down -z with y up) therefore shows the head from the front, crown up; turning about the
// vertical axis shows its sides and back.
//
// The noise-free value of the phantom at a normalised point.
uint16_t HeadPhantomValueAt(float u, float v, float w);

// Whether two noise-free values are of one tissue: equal, or both cortical bone (whose value
// varies smoothly within kCorticalBone +- kCorticalVariation, a range no other tissue uses).
bool HeadPhantomSameTissue(uint16_t a, uint16_t b);

// The partial-volume value of voxel (i, j, k) of a grid of `dims`: the rounded mean of
// HeadPhantomValueAt at the eight points a quarter voxel from its centre along each axis
// (centre +- 0.5 / dims[a] in normalised units), the voxel's share of each tissue it straddles.
uint16_t HeadPhantomPartialVolume(int i, int j, int k, const int dims[3]);

// The deterministic noise added to voxel (i, j, k) whose noise-free value is `value`:
// 0 for air and dense structures, in [-kSoftNoise, kSoftNoise] for soft tissue and in
// [-kBoneNoise, kBoneNoise] for bone.
int HeadPhantomNoise(int i, int j, int k, uint16_t value);

// Fills `voxels` (dims[0] * dims[1] * dims[2] samples, x fastest) with the phantom sampled on
// that grid. A voxel whose six neighbours' centre values (HeadPhantomValueAt) are of its own
// tissue (HeadPhantomSameTissue) stores its centre value; a voxel next to another tissue
// straddles a boundary and stores its
// partial-volume value (HeadPhantomPartialVolume), so that boundaries blur over about one voxel
// as in a scan and shading finds smooth gradients there. The noise of the stored value's class
// is then added. Any positive dimensions work; non-cubic grids keep the head's physical shape and
// get anisotropic spacings. Deterministic: the noise is a hash of the voxel index, so the
// result does not depend on the thread count. Uses all processors.
void FillHeadPhantom(uint16_t* voxels, const int dims[3]);

// Builds a new dtUint16 VolumeData of dims size^3 (spacing 256 / size mm), or of the given
// dims, holding the phantom. The caller owns (deletes) the volume. Returns null for
// non-positive dimensions and for grids of 2^31 bytes or more, which a VolumeData cannot hold;
// throws std::bad_alloc when there is not enough memory.
VolumeData* CreateHeadPhantom(int size = 256);
VolumeData* CreateHeadPhantom(int dimX, int dimY, int dimZ);

#endif  // KESTREL_HEAD_PHANTOM_H
