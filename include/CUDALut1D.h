// The transfer-function table of the GPU full view, copied to the active back end.
#pragma once

#include "KestrelExport.h"

class Lut1D;
struct CUDADeviceBuffer;

// A copy of a Lut1D for the GPU kernels: always on the host (hostLut, which the host back end's
// kernels read), and as an array of RGBA floats in device memory on the CUDA back end.
//
// Ownership: owns both copies; the Lut1D stays the caller's. Copying is forbidden. GL thread only.
class KESTREL_CUDA_API CUDALut1D {
public:
    CUDALut1D();
    ~CUDALut1D();
    CUDALut1D(CUDALut1D const&) = delete;
    CUDALut1D& operator=(CUDALut1D const&) = delete;

    /// Copies the table (entries, count and value range), replacing the earlier copy. A null
    /// table is ignored.
    void CopyToTexture(const Lut1D* lut);

    Lut1D* hostLut;                 ///< the host copy (empty until the first copy); owned
    CUDADeviceBuffer* deviceTable;  ///< null; CUDA back end's entries, owned
};
