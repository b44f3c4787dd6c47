// CoherentVolume: bricking a dense grid into typed blocks, uniform-block
// compression, and the value range over all blocks.
#include "CoherentVolume.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <vector>

#include "VolumeData.h"
#include "volume/SampleTypes.h"
#include "volume/TripleCopy.h"

using kestrel_volume::SampleVolumeBytes;
using kestrel_volume::VisitSampleType;

namespace {

// Blocks per axis: ceil(dimension / blockSize) for positive sizes,
// written (dimension - 1) / blockSize + 1; none for a block size below 1.
int BlocksAlong(int dimension, int blockSize) {
    return blockSize >= 1 ? (dimension - 1) / blockSize + 1 : 0;
}

bool IsPowerOfTwo(int value) {
    return value >= 1 && (value & (value - 1)) == 0;
}

int Log2(int powerOfTwo) {
    int shift = 0;
    while ((1 << shift) < powerOfTwo)
        ++shift;
    return shift;
}

template <typename T>
bool IsNaN(T value) {
    if constexpr (std::is_floating_point_v<T>) {
        return std::isnan(value);
    } else {
        (void)value;
        return false;
    }
}

template <typename T>
bool ContainsNaN(const T* values, std::int64_t n) {
    if constexpr (std::is_floating_point_v<T>) {
        for (std::int64_t i = 0; i < n; ++i) {
            if (std::isnan(values[i])) return true;
        }
    } else {
        (void)values;
        (void)n;
    }
    return false;
}

// The row copy is compiled twice on x86-64 with GCC, for AVX2 and for the
// baseline, and the loader picks one by CPU (ifunc): the vector min/max of
// 16-bit samples is several times faster with AVX2. noinline keeps the
// __restrict promises visible to the vectorizer. ThreadSanitizer builds take the
// plain copy: its runtime is not yet set up when the loader resolves the ifunc,
// and the library crashes on load.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) && \
    !defined(__SANITIZE_THREAD__)
#define KESTREL_ROW_COPY_ATTRIBUTES __attribute__((noinline, target_clones("avx2", "default")))
#else
#define KESTREL_ROW_COPY_ATTRIBUTES __attribute__((noinline))
#endif

// Copies n elements and widens the running range [lo, hi] over them.
// Integers compare in T's own signedness; floats follow "lo = v unless
// v > lo, hi = v unless hi > v", so a NaN is taken into both.
template <typename T>
KESTREL_ROW_COPY_ATTRIBUTES void CopyRow(const T* __restrict source, T* __restrict target, int n,
                                         T& lo, T& hi) {
    if constexpr (std::is_floating_point_v<T>) {
        std::memcpy(target, source, sizeof(T) * static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) {
            const T v = target[i];
            if (!(v > lo)) lo = v;
            if (!(hi > v)) hi = v;
        }
    } else {
        T l = lo;
        T h = hi;
        // a trip count that is a multiple of 32 lets the compiler vectorize
        // the copy and the min/max without a scalar epilogue
        const int vectorPart = n & ~31;
        for (int i = 0; i < vectorPart; ++i) {
            const T v = source[i];
            target[i] = v;
            l = v < l ? v : l;
            h = v > h ? v : h;
        }
        for (int i = vectorPart; i < n; ++i) {
            const T v = source[i];
            target[i] = v;
            l = v < l ? v : l;
            h = v > h ? v : h;
        }
        lo = l;
        hi = h;
    }
}

// True if every element of the box is bitwise equal to the first and that
// value compares equal to itself. Rows after the first are compared with
// memcmp against the first row. A false answer is always safe: the caller
// then copies the box and finds uniformity from the range.
template <typename T>
bool IsBitwiseUniform(const T* source, int sizeX, int sizeY, int sizeZ, std::int64_t rowStride,
                      std::int64_t sliceStride) {
    const T first = source[0];
    if (IsNaN(first)) return false;
    for (int x = 1; x < sizeX; ++x) {
        if (std::memcmp(&source[x], &first, sizeof(T)) != 0) return false;
    }
    const std::size_t rowBytes = sizeof(T) * static_cast<std::size_t>(sizeX);
    for (int z = 0; z < sizeZ; ++z) {
        for (int y = (z == 0 ? 1 : 0); y < sizeY; ++y) {
            if (std::memcmp(source + y * rowStride + z * sliceStride, source, rowBytes) != 0) {
                return false;
            }
        }
    }
    return true;
}

template <typename T>
CoherentVolume::BlockArray* CloneBlockArray(CoherentVolume::BlockArray* array,
                                            const void** blocks) {
    TBlockArray<T>* copy = new TBlockArray<T>(*static_cast<TBlockArray<T>*>(array));
    *blocks = copy->blocks;
    return copy;
}

}  // namespace

// ---------------------------------------------------------------------------
// Block, TBlock<T>

Block::~Block() = default;

template <typename T>
TBlock<T>::TBlock()
    : rowPitch(0),
      slicePitch(0),
      data(nullptr),
      minValue(0),
      maxValue(0),
      depth_(0),
      spare_(nullptr),
      spareCount_(0) {}

template <typename T>
TBlock<T>::TBlock(const TBlock& other)
    : Block(other),
      rowPitch(other.rowPitch),
      slicePitch(other.slicePitch),
      data(nullptr),
      minValue(other.minValue),
      maxValue(other.maxValue),
      depth_(other.depth_),
      spare_(nullptr),
      spareCount_(0) {
    if (other.data != nullptr) {
        const std::int64_t count = static_cast<std::int64_t>(other.slicePitch) * other.depth_;
        data = new T[count];
        std::memcpy(data, other.data, sizeof(T) * static_cast<std::size_t>(count));
    }
}

template <typename T>
TBlock<T>& TBlock<T>::operator=(const TBlock& other) {
    if (this == &other) return *this;
    T* copy = nullptr;
    if (other.data != nullptr) {
        const std::int64_t count = static_cast<std::int64_t>(other.slicePitch) * other.depth_;
        copy = new T[count];
        std::memcpy(copy, other.data, sizeof(T) * static_cast<std::size_t>(count));
    }
    delete[] data;
    data = copy;
    rowPitch = other.rowPitch;
    slicePitch = other.slicePitch;
    minValue = other.minValue;
    maxValue = other.maxValue;
    depth_ = other.depth_;
    return *this;
}

template <typename T>
TBlock<T>::~TBlock() {
    delete[] data;
    delete[] spare_;
}

template <typename T>
T* TBlock<T>::TakeBuffer(std::int64_t count) {
    T* buffer = nullptr;
    if (count < 1) {
        // no buffer wanted: release both
    } else if (data != nullptr && static_cast<std::int64_t>(slicePitch) * depth_ == count) {
        buffer = data;
        data = nullptr;
    } else if (spare_ != nullptr && spareCount_ == count) {
        buffer = spare_;
        spare_ = nullptr;
    } else {
        buffer = new T[count];  // may throw: nothing released yet
    }
    delete[] data;
    data = nullptr;
    delete[] spare_;
    spare_ = nullptr;
    spareCount_ = 0;
    return buffer;
}

template <typename T>
void TBlock<T>::GetMinMax(float& min, float& max) {
    min = static_cast<float>(minValue);
    max = static_cast<float>(maxValue);
}

template <typename T>
void TBlock<T>::SetData(const void* source, int sizeX, int sizeY, int sizeZ, int rowStride,
                        int sliceStride) {
    if (source == nullptr || sizeX < 1 || sizeY < 1 || sizeZ < 1) return;
    const T* src = static_cast<const T*>(source);
    const std::int64_t srcRow = rowStride;
    const std::int64_t srcSlice = sliceStride;

    const std::int64_t pitchRow = sizeX;
    const std::int64_t pitchSlice = pitchRow * sizeY;
    // A uniform block keeps no buffer: detect the common bitwise-uniform case
    // without copying anything.
    const bool uniform = IsBitwiseUniform(src, sizeX, sizeY, sizeZ, srcRow, srcSlice);
    T* target = TakeBuffer(uniform ? 0 : pitchSlice * sizeZ);
    rowPitch = sizeX;
    slicePitch = sizeX * sizeY;
    depth_ = sizeZ;
    minValue = maxValue = src[0];
    if (uniform) return;

    T lo = src[0];
    T hi = src[0];
    for (int z = 0; z < sizeZ; ++z) {
        for (int y = 0; y < sizeY; ++y) {
            // one row: copy and widen the range in the same pass
            CopyRow(src + y * srcRow + z * srcSlice, target + y * pitchRow + z * pitchSlice, sizeX,
                    lo, hi);
        }
    }
    data = target;
    minValue = lo;
    maxValue = hi;
    // All voxels equal: keep minValue only. For float the range alone cannot
    // tell: after a NaN the rule above restarts from the next value, so
    // {0, NaN, 5} ends with lo == hi == 5. A block holding a NaN is never uniform.
    if (lo == hi && !ContainsNaN(data, pitchSlice * sizeZ)) {
        delete[] data;
        data = nullptr;
    }
}

// ---------------------------------------------------------------------------
// BlockArray, TBlockArray<T>

CoherentVolume::BlockArray::~BlockArray() = default;

template <typename T>
TBlockArray<T>::TBlockArray(int count) : blocks(nullptr), count_(count > 0 ? count : 0) {
    if (count_ > 0) blocks = new TBlock<T>[count_];
}

template <typename T>
TBlockArray<T>::TBlockArray(const TBlockArray& other)
    : CoherentVolume::BlockArray(other), blocks(nullptr), count_(other.count_) {
    if (count_ > 0) {
        blocks = new TBlock<T>[count_];
        std::copy(other.blocks, other.blocks + count_, blocks);
    }
}

template <typename T>
TBlockArray<T>& TBlockArray<T>::operator=(const TBlockArray& other) {
    if (this == &other) return *this;
    TBlock<T>* copy = nullptr;
    if (other.count_ > 0) {
        copy = new TBlock<T>[other.count_];
        std::copy(other.blocks, other.blocks + other.count_, copy);
    }
    delete[] blocks;
    blocks = copy;
    count_ = other.count_;
    return *this;
}

template <typename T>
TBlockArray<T>::~TBlockArray() {
    delete[] blocks;
}

template class TBlock<float>;
template class TBlock<signed char>;
template class TBlock<short>;
template class TBlock<int>;
template class TBlock<unsigned char>;
template class TBlock<unsigned short>;
template class TBlock<unsigned int>;
template class TBlockArray<float>;
template class TBlockArray<signed char>;
template class TBlockArray<short>;
template class TBlockArray<int>;
template class TBlockArray<unsigned char>;
template class TBlockArray<unsigned short>;
template class TBlockArray<unsigned int>;

// ---------------------------------------------------------------------------
// CoherentVolume

CoherentVolume::CoherentVolume()
    : blockArray(nullptr),
      blockSize{64, 64, 64},
      dimensions{0, 0, 0},
      spacings{1.0f, 1.0f, 1.0f},
      blockNum{0, 0, 0},
      dataType{false, false, 0} {
    ForgetFastPath();
}

CoherentVolume::CoherentVolume(const CoherentVolume& other)
    : blockArray(nullptr),
      blockSize{other.blockSize[0], other.blockSize[1], other.blockSize[2]},
      dimensions{other.dimensions[0], other.dimensions[1], other.dimensions[2]},
      spacings{other.spacings[0], other.spacings[1], other.spacings[2]},
      blockNum{other.blockNum[0], other.blockNum[1], other.blockNum[2]},
      dataType(other.dataType) {
    ForgetFastPath();
    CopyBlocksFrom(other);
}

CoherentVolume& CoherentVolume::operator=(const CoherentVolume& other) {
    if (this == &other) return *this;
    CopyBlocksFrom(other);
    for (int i = 0; i < 3; ++i) {
        blockSize[i] = other.blockSize[i];
        dimensions[i] = other.dimensions[i];
        spacings[i] = other.spacings[i];
        blockNum[i] = other.blockNum[i];
    }
    dataType = other.dataType;
    return *this;
}

CoherentVolume::~CoherentVolume() {
    delete blockArray;
}

void CoherentVolume::CopyBlocksFrom(const CoherentVolume& other) {
    // Duplicate first, so that a failed allocation leaves this volume intact.
    BlockArray* copy = nullptr;
    const void* blocks = nullptr;
    const bool owned = other.blockArray != nullptr && other.blockArray == other.fastArray_;
    if (owned) {
        switch (other.fastKind_) {
            case SampleKind::Float32:
                copy = CloneBlockArray<float>(other.blockArray, &blocks);
                break;
            case SampleKind::Int8:
                copy = CloneBlockArray<signed char>(other.blockArray, &blocks);
                break;
            case SampleKind::Int16:
                copy = CloneBlockArray<short>(other.blockArray, &blocks);
                break;
            case SampleKind::Int32:
                copy = CloneBlockArray<int>(other.blockArray, &blocks);
                break;
            case SampleKind::Uint8:
                copy = CloneBlockArray<unsigned char>(other.blockArray, &blocks);
                break;
            case SampleKind::Uint16:
                copy = CloneBlockArray<unsigned short>(other.blockArray, &blocks);
                break;
            case SampleKind::Uint32:
                copy = CloneBlockArray<unsigned int>(other.blockArray, &blocks);
                break;
            case SampleKind::None:
                break;
        }
    }
    delete blockArray;
    blockArray = copy;
    ForgetFastPath();
    if (copy == nullptr) return;
    // the copy keeps the geometry its source was allocated with
    fastArray_ = copy;
    fastBlocks_ = blocks;
    fastKind_ = other.fastKind_;
    fastReads_ = other.fastReads_;
    fastPowerOfTwo_ = other.fastPowerOfTwo_;
    for (int i = 0; i < 3; ++i) {
        fastShift_[i] = other.fastShift_[i];
        fastMask_[i] = other.fastMask_[i];
        fastSize_[i] = other.fastSize_[i];
        fastNum_[i] = other.fastNum_[i];
    }
    fastCount_ = other.fastCount_;
}

void CoherentVolume::ForgetFastPath() {
    fastArray_ = nullptr;
    fastBlocks_ = nullptr;
    fastKind_ = SampleKind::None;
    fastReads_ = false;
    fastPowerOfTwo_ = false;
    for (int i = 0; i < 3; ++i) {
        fastShift_[i] = 0;
        fastMask_[i] = 0;
        fastSize_[i] = 1;
        fastNum_[i] = 0;
    }
    fastCount_ = 0;
}

void CoherentVolume::RememberFastPath(BlockArray* array, const void* blocks, SampleKind kind,
                                      int count) {
    ForgetFastPath();
    for (int i = 0; i < 3; ++i) {
        if (blockSize[i] < 1) return;  // no valid read exists; keep the guarded path
    }
    fastArray_ = array;
    fastBlocks_ = blocks;
    fastKind_ = kind;
    fastCount_ = count;
    RefreshFastGeometry();
}

void CoherentVolume::RefreshFastGeometry() {
    fastReads_ = false;
    if (fastArray_ == nullptr) return;
    std::int64_t blocks = 1;
    for (int i = 0; i < 3; ++i) {
        if (blockSize[i] < 1 || blockNum[i] < 1) return;
        blocks *= blockNum[i];
    }
    // reads could leave the array: keep the range-checked general path
    if (blocks > fastCount_) return;
    fastPowerOfTwo_ = true;
    for (int i = 0; i < 3; ++i) {
        fastSize_[i] = blockSize[i];
        fastNum_[i] = blockNum[i];
        if (IsPowerOfTwo(blockSize[i])) {
            fastShift_[i] = Log2(blockSize[i]);
            fastMask_[i] = blockSize[i] - 1;
        } else {
            fastShift_[i] = 0;
            fastMask_[i] = 0;
            fastPowerOfTwo_ = false;
        }
    }
    fastReads_ = true;
}

std::int64_t CoherentVolume::BlockCount() const {
    if (blockArray == nullptr) return 0;
    if (blockNum[0] < 1 || blockNum[1] < 1 || blockNum[2] < 1) return 0;
    const std::int64_t counted = static_cast<std::int64_t>(blockNum[0]) * blockNum[1] * blockNum[2];
    // never beyond the array this volume made
    return blockArray == fastArray_ ? std::min<std::int64_t>(counted, fastCount_) : counted;
}

void CoherentVolume::Initialize() {
    delete blockArray;
    blockArray = nullptr;
    ForgetFastPath();
}

void CoherentVolume::AllocateBlocks() {
    std::int64_t count = 1;
    for (int i = 0; i < 3; ++i)
        count *= std::max(blockNum[i], 0);
    // The new array is made before the old one is released, so that the old
    // blocks' voxel buffers can pass to the new blocks of the same index as
    // spares: rebricking a volume of the same type and shape then reuses its
    // memory instead of faulting in fresh pages.
    BlockArray* old = blockArray != nullptr && blockArray == fastArray_ ? blockArray : nullptr;
    const SampleKind oldKind = fastKind_;
    const std::int64_t oldCount = fastCount_;
    BlockArray* made = nullptr;
    const void* madeBlocks = nullptr;
    SampleKind kind = SampleKind::None;
    if (count <= INT_MAX) {  // else not addressable with int block indices: no blocks
        VisitSampleType(dataType, [&](auto tag) {
            using T = typename decltype(tag)::type;
            if constexpr (std::is_same_v<T, float>) kind = SampleKind::Float32;
            if constexpr (std::is_same_v<T, signed char>) kind = SampleKind::Int8;
            if constexpr (std::is_same_v<T, short>) kind = SampleKind::Int16;
            if constexpr (std::is_same_v<T, int>) kind = SampleKind::Int32;
            if constexpr (std::is_same_v<T, unsigned char>) kind = SampleKind::Uint8;
            if constexpr (std::is_same_v<T, unsigned short>) kind = SampleKind::Uint16;
            if constexpr (std::is_same_v<T, unsigned int>) kind = SampleKind::Uint32;
            TBlockArray<T>* array = new TBlockArray<T>(static_cast<int>(count));
            if (old != nullptr && oldKind == kind) {
                TBlock<T>* from = static_cast<TBlockArray<T>*>(old)->blocks;
                for (std::int64_t i = 0; i < std::min(oldCount, count); ++i) {
                    if (from[i].data == nullptr) continue;
                    array->blocks[i].spare_ = from[i].data;
                    array->blocks[i].spareCount_ =
                        static_cast<std::int64_t>(from[i].slicePitch) * from[i].depth_;
                    from[i].data = nullptr;
                }
            }
            made = array;
            madeBlocks = array->blocks;
        });
    }
    Initialize();  // releases the old blocks
    if (made == nullptr) return;
    blockArray = made;
    RememberFastPath(made, madeBlocks, kind, static_cast<int>(count));
}

void CoherentVolume::SetData(VolumeData* volume) {
    if (volume == nullptr || volume->GetData() == nullptr) return;
    // Never read past the volume's buffer.
    std::size_t bytes = 0;
    if (SampleVolumeBytes(volume->dataType, volume->dimensions, bytes) &&
        bytes > volume->HeldBytes()) {
        return;
    }
    volume->GetDimensions(dimensions);
    volume->GetSpacings(spacings);
    for (int i = 0; i < 3; ++i)
        blockNum[i] = BlocksAlong(dimensions[i], blockSize[i]);
    dataType = volume->GetDataType();
    AllocateBlocks();
    SetData(volume->GetData());
}

void CoherentVolume::SetData(void* samples) {
    if (blockArray == nullptr || samples == nullptr || blockNum[2] <= 0) return;
    // p points at voxel (0, 0, k * blockSize[2]) of slab k
    const std::int64_t slabBytes = static_cast<std::int64_t>(dataType.bitCount >> 3) *
                                   dimensions[1] * dimensions[0] * blockSize[2];
    for (int k = 0; k < blockNum[2]; ++k) {
        const int depth = std::min(blockSize[2], dimensions[2] - k * blockSize[2]);
        if (depth < 1) continue;
        SetBlockSlice(static_cast<char*>(samples) + k * slabBytes, k, depth);
    }
}

template <typename T>
void CoherentVolume::FillSlab(const T* samples, int blockZ, int depth) {
    const int sz = std::min(blockSize[2], depth);
    const int columns = blockNum[0];
    const int rows = blockNum[1];
    if (sz < 1 || columns < 1 || rows < 1) return;
    const std::int64_t rowStride = dimensions[0];
    const std::int64_t sliceStride = rowStride * dimensions[1];
    TBlock<T>* const blocks = static_cast<TBlockArray<T>*>(blockArray)->blocks;

    // Each block of the slab being filled: its running range and its buffer.
    struct Fill {
        TBlock<T>* block;  // null: nothing to fill (empty extent or beyond the array)
        T* target;         // null: uniform, no copy
        int sx, sy;
        T lo, hi;
    };
    std::vector<Fill> fills(static_cast<std::size_t>(columns) * rows);

    // 1. per block: uniform test, buffer, pitches
    for (int by = 0; by < rows; ++by) {
        for (int bx = 0; bx < columns; ++bx) {
            Fill& f = fills[by * columns + bx];
            f.block = nullptr;
            f.target = nullptr;
            f.sx = std::min(blockSize[0], dimensions[0] - bx * blockSize[0]);
            f.sy = std::min(blockSize[1], dimensions[1] - by * blockSize[1]);
            const std::int64_t index = bx + static_cast<std::int64_t>(columns) *
                                                (by + static_cast<std::int64_t>(blockZ) * rows);
            if (f.sx < 1 || f.sy < 1 || index >= fastCount_) continue;
            const T* q = samples + by * blockSize[1] * rowStride + bx * blockSize[0];
            TBlock<T>& block = blocks[index];
            const bool uniform = IsBitwiseUniform(q, f.sx, f.sy, sz, rowStride, sliceStride);
            f.target = block.TakeBuffer(uniform ? 0 : std::int64_t(f.sx) * f.sy * sz);
            block.rowPitch = f.sx;
            block.slicePitch = f.sx * f.sy;
            block.depth_ = sz;
            block.minValue = block.maxValue = q[0];
            f.block = &block;
            f.lo = f.hi = q[0];
        }
    }

    // 2. the slab in source order: every source row is cut into its blocks' rows
    const int slabRows = static_cast<int>(
        std::min<std::int64_t>(dimensions[1], static_cast<std::int64_t>(rows) * blockSize[1]));
    for (int z = 0; z < sz; ++z) {
        for (int y = 0; y < slabRows; ++y) {
            const int by = y / blockSize[1];
            const int localY = y - by * blockSize[1];
            const T* sourceRow = samples + z * sliceStride + y * rowStride;
            Fill* f = &fills[by * columns];
            for (int bx = 0; bx < columns; ++bx, ++f) {
                if (f->target == nullptr) continue;
                CopyRow(sourceRow + bx * blockSize[0],
                        f->target + (std::int64_t(z) * f->sy + localY) * f->sx, f->sx, f->lo,
                        f->hi);
            }
        }
    }

    // 3. ranges, and uniform blocks found only from their range
    for (Fill& f : fills) {
        if (f.target == nullptr) continue;
        TBlock<T>& block = *f.block;
        block.data = f.target;
        block.minValue = f.lo;
        block.maxValue = f.hi;
        if (f.lo == f.hi && !ContainsNaN(f.target, std::int64_t(f.sx) * f.sy * sz)) {
            delete[] block.data;
            block.data = nullptr;
        }
    }
}

void CoherentVolume::SetBlockSlice(void* samples, int blockZ, int depth) {
    if (blockArray == nullptr || samples == nullptr) return;
    if (depth < 0) depth = blockSize[2];
    if (blockNum[1] < 1 || blockZ < 0 || blockZ >= blockNum[2]) return;
    const std::int64_t sampleBytes = dataType.bitCount >> 3;
    const std::int64_t sliceStride = static_cast<std::int64_t>(dimensions[0]) * dimensions[1];
    if (sampleBytes < 1 || sliceStride > INT_MAX) return;
    const std::int64_t count = BlockCount();
    const bool owned = blockArray == fastArray_;
    if (owned) {
        bool filled = true;
        switch (fastKind_) {
#define KESTREL_FILL_SLAB(kind, T)                               \
    case SampleKind::kind:                                       \
        if (sampleBytes != sizeof(T)) {                          \
            filled = false;                                      \
            break;                                               \
        }                                                        \
        FillSlab(static_cast<const T*>(samples), blockZ, depth); \
        break;
            KESTREL_FILL_SLAB(Float32, float)
            KESTREL_FILL_SLAB(Int8, signed char)
            KESTREL_FILL_SLAB(Int16, short)
            KESTREL_FILL_SLAB(Int32, int)
            KESTREL_FILL_SLAB(Uint8, unsigned char)
            KESTREL_FILL_SLAB(Uint16, unsigned short)
            KESTREL_FILL_SLAB(Uint32, unsigned int)
#undef KESTREL_FILL_SLAB
            case SampleKind::None:
                filled = false;
                break;
        }
        if (filled) return;
    }
    // block by block through the virtual interface
    char* rowStart = static_cast<char*>(samples);
    for (int by = 0; by < blockNum[1]; ++by) {
        char* blockStart = rowStart;
        for (int bx = 0; bx < blockNum[0]; ++bx) {
            const int sx = std::min(blockSize[0], dimensions[0] - bx * blockSize[0]);
            const int sy = std::min(blockSize[1], dimensions[1] - by * blockSize[1]);
            const int sz = std::min(blockSize[2], depth);
            const std::int64_t index =
                bx + static_cast<std::int64_t>(blockNum[0]) *
                         (by + static_cast<std::int64_t>(blockZ) * blockNum[1]);
            if (!owned || index < count) {
                blockArray->GetBlock(static_cast<int>(index))
                    ->SetData(blockStart, sx, sy, sz, dimensions[0], static_cast<int>(sliceStride));
            }
            blockStart += sampleBytes * blockSize[0];
        }
        rowStart += sampleBytes * dimensions[0] * blockSize[1];
    }
}

float CoherentVolume::GetValueThroughBlocks(int x, int y, int z) {
    if (blockArray == nullptr) return 0.0f;
    if (blockSize[0] < 1 || blockSize[1] < 1 || blockSize[2] < 1) return 0.0f;
    const std::int64_t index =
        x / blockSize[0] +
        static_cast<std::int64_t>(blockNum[0]) *
            (y / blockSize[1] + static_cast<std::int64_t>(blockNum[1]) * (z / blockSize[2]));
    if (blockArray == fastArray_ && (index < 0 || index >= fastCount_)) return 0.0f;
    return blockArray->GetBlock(static_cast<int>(index))
        ->GetValue(x % blockSize[0], y % blockSize[1], z % blockSize[2]);
}

void CoherentVolume::GetMinMaxValue(double& min, double& max) {
    const std::int64_t count = BlockCount();
    if (count < 1) return;
    if (dataType.isFloat) {
        FiniteMinMax(count, min, max);
        return;
    }
    float lo, hi;
    blockArray->GetBlock(0)->GetMinMax(lo, hi);
    // every block in index order (bz outer, bx inner), block 0 included
    for (std::int64_t b = 0; b < count; ++b) {
        float blockLo, blockHi;
        blockArray->GetBlock(static_cast<int>(b))->GetMinMax(blockLo, blockHi);
        if (!(blockLo > lo)) lo = blockLo;
        if (!(hi > blockHi)) hi = blockHi;
    }
    min = static_cast<double>(lo);
    max = static_cast<double>(hi);
}

void CoherentVolume::FiniteMinMax(std::int64_t count, double& min, double& max) {
    // The voxels themselves are read: a block's own range cannot leave NaN out (its running
    // range restarts after one). Uniform blocks hold their one value in minValue.
    bool found = false;
    float lo = 0.0f;
    float hi = 0.0f;
    auto take = [&](float v) {
        if (!std::isfinite(v)) return;
        if (!found || lo > v) lo = v;
        if (!found || hi < v) hi = v;
        found = true;
    };
    for (std::int64_t b = 0; b < count; ++b) {
        Block* block = blockArray->GetBlock(static_cast<int>(b));
        auto* typed = dynamic_cast<TBlock<float>*>(block);
        if (typed == nullptr) {  // a block array of another kind: its ranges are all there is
            float blockLo, blockHi;
            block->GetMinMax(blockLo, blockHi);
            take(blockLo);
            take(blockHi);
        } else if (typed->data == nullptr) {
            take(typed->minValue);
        } else {
            const std::int64_t n = static_cast<std::int64_t>(typed->slicePitch) * typed->depth_;
            for (std::int64_t i = 0; i < n; ++i)
                take(typed->data[i]);
        }
    }
    min = static_cast<double>(lo);
    max = static_cast<double>(hi);
}

void CoherentVolume::GetBlcokSize(int* out) {
    CopyTriple(blockSize, out);
}

void CoherentVolume::SetBlockSize(const int* in) {
    if (in == nullptr || in[0] < 1 || in[1] < 1 || in[2] < 1) return;
    for (int i = 0; i < 3; ++i)
        blockSize[i] = in[i];
    RefreshFastGeometry();
}

void CoherentVolume::GetDimensions(int* out) const {
    CopyTriple(dimensions, out);
}

void CoherentVolume::SetDimensions(const int* in) {
    if (in == nullptr) return;
    for (int i = 0; i < 3; ++i) {
        dimensions[i] = in[i];
        blockNum[i] = BlocksAlong(dimensions[i], blockSize[i]);
    }
    RefreshFastGeometry();
}

void CoherentVolume::GetSpacings(float* out) const {
    CopyTriple(spacings, out);
}

void CoherentVolume::SetSpacings(const float* in) {
    CopyTriple(in, spacings);
}

void CoherentVolume::GetBlockNum(int* out) {
    CopyTriple(blockNum, out);
}
