// The pre-integrated segment table of the GPU full view, built on the host and copied to the
// active back end.
#pragma once

#include "KestrelExport.h"
#include "PreintegratedLut.h"

class Lut1D;
struct CUDADeviceBuffer;

// The pre-integrated table of a Lut1D (PreintegratedLut: method, layout and members) with a copy
// on the active back end. The full scene calls GenerateTextures(lut, its sample distance, its
// standard sample distance) before each pre-integrated frame.
//
// Ownership: owns the host table (through PreintegratedLut) and its device copy. Copying is
// forbidden. GL thread only.
class KESTREL_CUDA_API CUDAPreintegratedLut : public PreintegratedLut {
public:
    CUDAPreintegratedLut();
    ~CUDAPreintegratedLut();
    CUDAPreintegratedLut(CUDAPreintegratedLut const&) = delete;
    CUDAPreintegratedLut& operator=(CUDAPreintegratedLut const&) = delete;

    /// Generate, then copies the table to the active back end when it is new there. A null or
    /// empty table, or a distance not above 0, builds nothing.
    void GenerateTextures(const Lut1D* lut, float baseSampleDistance, float sampleDistance);

    CUDADeviceBuffer* deviceTable;  ///< null; CUDA back end's entries, owned
};
