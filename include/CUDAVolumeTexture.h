// The volume of the GPU kernels: a host VolumeData copied to the active back end.
#pragma once

#include "KestrelExport.h"

class CoherentVolume;
class VolumeData;
struct CUDADeviceVolume;

// A copy of a host volume in the form the active back end samples: on the CUDA back end a dense
// float array in device memory (x fastest, one float per voxel, 4 x dimX x dimY x dimZ bytes),
// read with indices clamped to the volume as the CPU kernels read theirs; on the host back end a
// CoherentVolume, the CPU kernels' bricked copy.
//
// Ownership: owns the copy it made; the VolumeData stays the caller's and is not kept. Copying is
// forbidden (the copy is owned through raw pointers). GL thread only.
class KESTREL_CUDA_API CUDAVolumeTexture {
public:
    CUDAVolumeTexture();
    virtual ~CUDAVolumeTexture();
    CUDAVolumeTexture(CUDAVolumeTexture const&) = delete;
    CUDAVolumeTexture& operator=(CUDAVolumeTexture const&) = delete;

    /// Copies the volume's samples (any of the seven sample types) to the active back end,
    /// replacing an earlier copy. A null volume, or one without samples or of an unsupported
    /// sample type, is ignored.
    void CopyToTexture(VolumeData* volume);
    /// True once a volume has been copied.
    bool HoldsVolume() const { return uploadCount > 0; }

    int dimensions[3];               ///< 0, 0, 0; voxel counts of the copied volume
    float spacings[3];               ///< 1, 1, 1; voxel size, physical units
    int uploadCount;                 ///< 0; volumes copied so far
    bool onDevice;                   ///< false; the copy lives on the CUDA back end
    CoherentVolume* hostVolume;      ///< null; host back end's bricked copy, owned
    CUDADeviceVolume* deviceVolume;  ///< null; CUDA back end's float array, owned
};
