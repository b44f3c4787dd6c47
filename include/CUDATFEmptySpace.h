// The opacity sums of the GPU full view's table, for empty-space skipping on the active back end.
#pragma once

#include "KestrelExport.h"

class Lut1D;
class TFEmptySpace;
struct CUDADeviceBuffer;

// The opacity sums of a Lut1D (TFEmptySpace) for the empty-space skipping of the GPU kernels:
// computed on the host (hostSums) and copied to device memory on the CUDA back end.
//
// Ownership: owns both; borrows nothing. Copying is forbidden. GL thread only.
class KESTREL_CUDA_API CUDATFEmptySpace {
public:
    CUDATFEmptySpace();
    ~CUDATFEmptySpace();
    CUDATFEmptySpace(CUDATFEmptySpace const&) = delete;
    CUDATFEmptySpace& operator=(CUDATFEmptySpace const&) = delete;

    /// Rebuilds the sums from `lut` (TFEmptySpace::CalculateTFEmptySpace). Null is ignored.
    void CalculateTFEmptySpace(const Lut1D* lut);

    TFEmptySpace* hostSums;        ///< the sums (empty until the first calculation); owned
    CUDADeviceBuffer* deviceSums;  ///< null; CUDA back end's sums, owned
};
