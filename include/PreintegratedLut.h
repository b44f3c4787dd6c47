// The pre-integrated segment table of a transfer-function table, built on the host; the CPU full
// kernel reads it directly, KestrelCUDA copies it to its back end (CUDAPreintegratedLut).
#pragma once

#include "KestrelExport.h"
#include "Vector.h"

class Lut1D;

// The pre-integrated table of a Lut1D: for a segment of the ray `baseSampleDistance` long
// (physical units: the step the kernel samples with, the base of every segment) along which the
// value runs linearly from a front value sf to a back value sb, the premultiplied colour and the
// opacity the segment adds by emission and absorption.
//
// The table's opacities are read as opacities of a step `sampleDistance` long (the standard
// sample distance of the full kernels), so an entry a has the extinction
// tau = -ln(1 - a) / sampleDistance per unit length (a clamped below 1 - 1e-30), and a segment
// of constant value has the opacity 1 - (1 - a)^(baseSampleDistance / sampleDistance), exactly
// the corrected opacity of a post-classified sample. A full scene therefore calls
// Generate(lut, its sample distance, its standard sample distance).
//
// Method: the extinction tau(v) and the extinction-weighted colour c(v) tau(v) of the linearly
// interpolated table are integrated over the value (trapezoids, eight per table interval, double
// precision); a segment is cut into eight equal sub-segments, each of which takes its opacity
// exactly from the extinction integral, 1 - exp(-length x mean extinction), and its colour as
// the extinction-weighted mean colour over it (the self-attenuation within a sub-segment is
// neglected); the sub-segments are composited front to back. The error of the colour is of the
// order of (tau length / 8)^2 / 12 of the colour change across the segment.
//
// Layout: resolution x resolution RGBA entries (16 bytes each, premultiplied) spread over the
// table's value range minPos .. maxPos in both directions, resolution = (N - 1) k + 1 for a table
// of N entries, with the largest k that keeps it at most 256, so that the table's own entries fall
// on positions of this one (256 for N above 256, 2 for N = 1); entry (f, b) is
// table[f * resolution + b]: front value at position f, back value at position b. Between entries
// the kernels interpolate bilinearly (Lookup). A value outside the range counts as the nearest
// edge value, so a segment that leaves the range is looked up as the segment between the clamped
// values (exact only when the table is constant beyond its edges).
//
// Generate keeps the table when the Lut1D's entries and range and the two distances are those of
// the last call, so calling it on every frame costs a comparison.
//
// Ownership: owns `table` and a copy of the source entries. Copying is forbidden. Not
// thread-safe while Generate runs; afterwards any number of threads may read the table.
class KESTREL_STANDARD_API PreintegratedLut {
public:
    PreintegratedLut();
    ~PreintegratedLut();
    PreintegratedLut(PreintegratedLut const&) = delete;
    PreintegratedLut& operator=(PreintegratedLut const&) = delete;

    /// Builds the table of `lut` for segments baseSampleDistance long and opacities given per
    /// step of sampleDistance (both positive). Returns true when it built a new table; false
    /// when the inputs are those of the current table, or when `lut` is null or empty or a
    /// distance is not above 0 (then the call is ignored).
    bool Generate(const Lut1D* lut, float baseSampleDistance, float sampleDistance);

    /// The premultiplied RGBA of a segment from value `front` to value `back` (the kernels'
    /// bilinear lookup); (0, 0, 0, 0) before the first table.
    Vector4 Lookup(float front, float back) const;

    int resolution;            ///< 0; entries per side
    float minPos;              ///< 0; value of position 0
    float maxPos;              ///< 1; value of position resolution - 1
    float baseSampleDistance;  ///< 0; segment length of the current table, physical units
    float sampleDistance;      ///< 0; the step its opacities are given for, physical units
    Vector4* table;            ///< null; resolution^2 entries, owned
    int generateCount;         ///< 0; tables built so far (calls of Generate that rebuilt)

private:
    Lut1D* source;  // the table the current one was built from, for the comparison; owned
};
