// Bricked volume storage: the dense grid cut into blocks of its own scalar
// type, read voxel by voxel as float by the CPU kernels.
#ifndef KESTREL_COHERENT_VOLUME_H
#define KESTREL_COHERENT_VOLUME_H

#include <cstdint>

#include "DataType.h"
#include "KestrelExport.h"

class VolumeData;

// One block of a CoherentVolume, seen without its scalar type.
class KESTREL_STANDARD_API Block {
public:
    virtual ~Block();
    /// The block's smallest and largest voxel, converted to float.
    virtual void GetMinMax(float& min, float& max) = 0;
    /// Copies a sizeX x sizeY x sizeZ box out of a dense grid whose rows are
    /// rowStride and whose slices are sliceStride elements apart.
    virtual void SetData(const void* source, int sizeX, int sizeY, int sizeZ, int rowStride,
                         int sliceStride) = 0;
    /// Local voxel (x, y, z) as float.
    virtual float GetValue(int x, int y, int z) = 0;
};

// A block of voxels of type T, without border voxels or padding.
//
// Layout: sx*sy*sz elements, x fastest; local voxel (x, y, z) is
// data[x + y*rowPitch + z*slicePitch] (64-bit index), rowPitch = sx and
// slicePitch = sx*sy. A block whose voxels are all equal is uniform: it keeps
// no buffer (data null) and answers every read with minValue.
//
// Owns `data` (new[]/delete[]). Copies are deep. A fill with a non-positive
// size or a null source is ignored.
template <typename T>
class KESTREL_STANDARD_API TBlock : public Block {
public:
    int rowPitch;    ///< elements per block row (sx); 0 before the first fill
    int slicePitch;  ///< elements per block slice (sx*sy); 0 before the first fill
    T* data;         ///< owned voxels; null for a uniform block and before the first fill
    T minValue;      ///< smallest voxel; 0 before the first fill
    T maxValue;      ///< largest voxel; 0 before the first fill

    TBlock();
    TBlock(const TBlock& other);
    TBlock& operator=(const TBlock& other);
    ~TBlock() override;

    void GetMinMax(float& min, float& max) override;
    void SetData(const void* source, int sizeX, int sizeY, int sizeZ, int rowStride,
                 int sliceStride) override;
    float GetValue(int x, int y, int z) override { return Fetch(x, y, z); }

    /// Non-virtual read behind GetValue: the voxel, or minValue when uniform.
    float Fetch(int x, int y, int z) const {
        if (data == nullptr) return static_cast<float>(minValue);
        return static_cast<float>(data[x + static_cast<std::int64_t>(y) * rowPitch +
                                       static_cast<std::int64_t>(z) * slicePitch]);
    }

private:
    friend class CoherentVolume;

    // A buffer of exactly `count` elements: data or the spare when their size
    // matches, else a new one; the other buffers are released. A count below
    // 1 releases both and returns null.
    T* TakeBuffer(std::int64_t count);

    int depth_;  // slices held in data (sz), so that copies know the size
    // Voxel buffer of the block that held this index before the last
    // AllocateBlocks, kept for the next fill to reuse; released by it.
    T* spare_;
    std::int64_t spareCount_;  // elements of spare_
};

// The bricked volume. Blocks of blockSize voxels (64^3 by default) tile the
// grid; block (bx, by, bz) covers voxels bx*blockSize[0] .. min((bx+1)*
// blockSize[0], dimensions[0]) - 1 along x (likewise y, z), so the last block
// along an axis is smaller. Block index b = bx + blockNum[0]*(by + blockNum[1]*bz)
// is element b of blockArray. blockNum[i] = (dimensions[i] - 1) / blockSize[i] + 1.
//
// Coordinates are voxel indices 0 <= x < dimensions[0] (likewise y, z);
// GetValue does not check them, callers clamp. Reads are inline: with block
// sizes that are powers of two the block and local position come from shifts
// and masks, and the block is read without virtual calls. The inline read
// takes blockSize and blockNum as AllocateBlocks, SetBlockSize and
// SetDimensions leave them (change them through these, not by writing the
// members, once blocks exist).
//
// Memory: a uniform block (all voxels equal) keeps no voxel buffer.
// AllocateBlocks hands the old blocks' buffers to the new blocks of the same
// index and type; the first fill of a block reuses its buffer if the size
// matches and releases it otherwise, so rebricking a volume of the same shape
// allocates nothing, and after a complete fill no block holds more than its
// voxels.
//
// Owns blockArray (deleted through its virtual destructor). Copies are DEEP:
// copy construction and assignment duplicate every block made by
// AllocateBlocks (a block array the caller installed through the public
// member is not duplicated; the copy then has none). Self-assignment is safe.
//
// Building (setters, AllocateBlocks, SetData, SetBlockSlice, Initialize) is
// single-threaded; afterwards GetValue, GetMinMaxValue and the getters may be
// called from any number of threads. Null inputs, fills without blocks and
// out-of-range slabs are ignored.
class KESTREL_STANDARD_API CoherentVolume {
public:
    // The blocks of a volume, seen without their scalar type.
    class KESTREL_STANDARD_API BlockArray {
    public:
        virtual ~BlockArray();
        /// Element `index` of the array (no range check).
        virtual Block* GetBlock(int index) = 0;
    };

    BlockArray* blockArray;  ///< owned blocks; null until AllocateBlocks
    int blockSize[3];        ///< block edge in voxels x, y, z; default 64, 64, 64
    int dimensions[3];       ///< voxel counts x, y, z; 0 until set
    float spacings[3];       ///< physical voxel size x, y, z; 1 until set
    int blockNum[3];         ///< blocks per axis; 0 until set
    DataType dataType;       ///< voxel type; (0, 0, 0), no type, until set

    CoherentVolume();
    CoherentVolume(const CoherentVolume& other);
    CoherentVolume& operator=(const CoherentVolume& other);
    virtual ~CoherentVolume();

    /// Deletes the blocks (if any); blockArray becomes null.
    virtual void Initialize();
    /// Discards the old blocks and makes blockNum[0]*blockNum[1]*blockNum[2]
    /// empty blocks of the type of dataType (none for an unsupported type).
    void AllocateBlocks();
    /// Takes dimensions, spacings and type from `volume`, recomputes blockNum,
    /// allocates and fills the blocks. No-op for null, a volume without data,
    /// or one whose buffer is smaller than its fields describe.
    void SetData(VolumeData* volume);
    /// Fills every block from a dense grid of `dimensions` (x fastest).
    void SetData(void* samples);
    /// Fills the blocks of slab blockZ from a buffer starting at voxel
    /// (0, 0, blockZ*blockSize[2]); `depth` slices (blockSize[2] if negative).
    void SetBlockSlice(void* samples, int blockZ, int depth);

    /// Voxel (x, y, z) as float; 0 without blocks.
    inline float GetValue(int x, int y, int z);
    /// Range over all blocks as float, stored as double; outputs unchanged
    /// when there are no blocks. For float voxels NaN and infinities are left
    /// out, as VolumeData::GetMinMaxValue does (0 .. 0 when nothing is left).
    void GetMinMaxValue(double& min, double& max);

    /// The spelling "Blcok" is part of the interface.
    void GetBlcokSize(int* out);
    /// Does not recompute blockNum (SetDimensions does).
    void SetBlockSize(const int* in);
    void GetDimensions(int* out) const;
    /// Also recomputes blockNum from the current blockSize.
    void SetDimensions(const int* in);
    void GetSpacings(float* out) const;
    void SetSpacings(const float* in);
    void GetBlockNum(int* out);
    DataType GetDataType() const { return dataType; }
    void SetDataType(DataType type) { dataType = type; }

private:
    enum class SampleKind : unsigned char {
        None,
        Float32,
        Int8,
        Int16,
        Int32,
        Uint8,
        Uint16,
        Uint32
    };

    // Read through the virtual interface, with the live members.
    float GetValueThroughBlocks(int x, int y, int z);
    // GetMinMaxValue of float voxels over the first `count` blocks, non-finite ones left out.
    void FiniteMinMax(std::int64_t count, double& min, double& max);
    // Forgets the geometry of the inline read path.
    void ForgetFastPath();
    // Records the block array AllocateBlocks has just made and its geometry.
    void RememberFastPath(BlockArray* array, const void* blocks, SampleKind kind, int count);
    // Takes the inline read's geometry from blockSize and blockNum; inline
    // reads stay off while they describe more blocks than the array holds.
    void RefreshFastGeometry();
    // SetBlockSlice for the blocks of T that AllocateBlocks made: one pass
    // over the slab in source order, each row split among its blocks, with the
    // same results as filling block by block.
    template <typename T>
    void FillSlab(const T* samples, int blockZ, int depth);
    // Replaces the blocks by a duplicate of other's (deep copy).
    void CopyBlocksFrom(const CoherentVolume& other);
    // Number of blocks to visit: blockNum[0] * blockNum[1] * blockNum[2], at
    // most the allocated count for an array this volume made.
    std::int64_t BlockCount() const;

    // The array AllocateBlocks made and the geometry of the inline read, taken
    // from blockSize and blockNum by AllocateBlocks, SetBlockSize and
    // SetDimensions; used while blockArray == fastArray_ and fastReads_.
    BlockArray* fastArray_;   // the array AllocateBlocks made; null if none
    const void* fastBlocks_;  // its first TBlock<T>
    SampleKind fastKind_;     // T of that array
    bool fastReads_;          // the geometry below is valid and fits the array
    bool fastPowerOfTwo_;     // all three block sizes are powers of two
    int fastShift_[3];        // log2 of the block sizes (power-of-two case)
    int fastMask_[3];         // block sizes - 1 (power-of-two case)
    int fastSize_[3];         // block sizes
    int fastNum_[3];          // blocks per axis
    int fastCount_;           // blocks in the array
};

// The blocks of one scalar type: `blocks` is an array of `count` TBlock<T>
// made with new[] and released with delete[] (which frees every block
// buffer). Copies are deep.
template <typename T>
class KESTREL_STANDARD_API TBlockArray : public CoherentVolume::BlockArray {
public:
    TBlock<T>* blocks;  ///< owned array of blocks

    /// `count` fresh blocks (none for a count below 1).
    explicit TBlockArray(int count);
    TBlockArray(const TBlockArray& other);
    TBlockArray& operator=(const TBlockArray& other);
    ~TBlockArray() override;

    Block* GetBlock(int index) override { return blocks + index; }

private:
    int count_;  // elements of blocks
};

// The seven instantiations live in KestrelStandard.
extern template class TBlock<float>;
extern template class TBlock<signed char>;
extern template class TBlock<short>;
extern template class TBlock<int>;
extern template class TBlock<unsigned char>;
extern template class TBlock<unsigned short>;
extern template class TBlock<unsigned int>;
extern template class TBlockArray<float>;
extern template class TBlockArray<signed char>;
extern template class TBlockArray<short>;
extern template class TBlockArray<int>;
extern template class TBlockArray<unsigned char>;
extern template class TBlockArray<unsigned short>;
extern template class TBlockArray<unsigned int>;

inline float CoherentVolume::GetValue(int x, int y, int z) {
    // an array not made by AllocateBlocks (or none), or a geometry that does
    // not fit it, is read the general way
    if (blockArray != fastArray_ || !fastReads_) return GetValueThroughBlocks(x, y, z);
    // block coordinates and the position inside the block
    int bx, by, bz;
    if (fastPowerOfTwo_) {
        bx = x >> fastShift_[0];
        by = y >> fastShift_[1];
        bz = z >> fastShift_[2];
        x &= fastMask_[0];
        y &= fastMask_[1];
        z &= fastMask_[2];
    } else {
        bx = x / fastSize_[0];
        by = y / fastSize_[1];
        bz = z / fastSize_[2];
        x -= bx * fastSize_[0];
        y -= by * fastSize_[1];
        z -= bz * fastSize_[2];
    }
    // b = bx + blockNum[0] * (by + blockNum[1] * bz)
    const std::int64_t b = bx + static_cast<std::int64_t>(fastNum_[0]) *
                                    (by + static_cast<std::int64_t>(fastNum_[1]) * bz);
    switch (fastKind_) {
        case SampleKind::Float32:
            return static_cast<const TBlock<float>*>(fastBlocks_)[b].Fetch(x, y, z);
        case SampleKind::Int8:
            return static_cast<const TBlock<signed char>*>(fastBlocks_)[b].Fetch(x, y, z);
        case SampleKind::Int16:
            return static_cast<const TBlock<short>*>(fastBlocks_)[b].Fetch(x, y, z);
        case SampleKind::Int32:
            return static_cast<const TBlock<int>*>(fastBlocks_)[b].Fetch(x, y, z);
        case SampleKind::Uint8:
            return static_cast<const TBlock<unsigned char>*>(fastBlocks_)[b].Fetch(x, y, z);
        case SampleKind::Uint16:
            return static_cast<const TBlock<unsigned short>*>(fastBlocks_)[b].Fetch(x, y, z);
        case SampleKind::Uint32:
            return static_cast<const TBlock<unsigned int>*>(fastBlocks_)[b].Fetch(x, y, z);
        case SampleKind::None:
            break;
    }
    return 0.0f;
}

#endif  // KESTREL_COHERENT_VOLUME_H
