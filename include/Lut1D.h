// The sampled transfer function: RGBA entries spread evenly over a range of scalar values, and
// the mapping from a scalar value to its continuous table position.
#pragma once

#include <cstdint>

#include "KestrelExport.h"
#include "Vector.h"

// Table layout: `sampleCount` entries of one Vector4 (16 bytes: red, green, blue, opacity, each
// normally in [0, 1]); entry i holds the colour of the scalar value
// minPos + i (maxPos - minPos) / (sampleCount - 1). Between entries the kernels interpolate
// linearly in the continuous table position (TableMapping).
//
// Ownership: `data` is owned, allocated by Allocate with new[] and released with delete[]. A copy
// is deep: it gets its own table with the same entries, so two objects never share (and never
// both release) one array. A holder that lends another object's table to a Lut1D (the full
// volume-rendering scene does, every frame) writes `data` itself and sets it back to null before
// the Lut1D is destroyed or reallocated.
//
// Not thread-safe while written; once filled, any number of threads may read it. Setting
// sampleCount, minPos and maxPos is done by writing the members; Allocate must follow a change of
// sampleCount. A sampleCount below 1 allocates nothing (data null); minPos equal to maxPos is not
// supported (the mapping divides by zero).
class KESTREL_STANDARD_API Lut1D {
public:
    int32_t sampleCount;  ///< number of entries; default 0
    float minPos;         ///< scalar value of entry 0; default 0
    float maxPos;         ///< scalar value of entry sampleCount - 1; default 1
    Vector4* data;        ///< the entries (RGBA); owned; null until Allocate

    Lut1D();
    ~Lut1D();
    /// Deep copy: the three values and a table of its own with the same entries.
    Lut1D(const Lut1D& other);
    Lut1D& operator=(const Lut1D& other);

    /// Releases the current table, then allocates sampleCount entries of (0, 0, 0, 1) (none
    /// for a sampleCount below 1).
    void Allocate();
};

// Continuous table position of a scalar value v: x = scale v + offset, with
//   scale = (count - 1) / (maxPos - minPos),  offset = -minPos (count - 1) / (maxPos - minPos),
// so minPos maps to 0 and maxPos to count - 1. Classification and the empty-space test use this
// one mapping, so that they agree to the last bit on which entries a value touches.
struct TableMapping {
    float scale = 1.f;
    float offset = 0.f;

    TableMapping() = default;
    TableMapping(int32_t count, float minPos, float maxPos) {
        const float last = float(count - 1);
        scale = last / (maxPos - minPos);
        offset = -minPos * last / (maxPos - minPos);
    }
    KESTREL_HOST_DEVICE float Position(float v) const { return scale * v + offset; }
};
