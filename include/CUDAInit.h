// Start-up of KestrelCUDA, the GPU kernel library of the GPU scenes, and the choice of its back
// end.
#pragma once

#include "KestrelExport.h"

// KestrelCUDA runs its calls on one of two back ends behind the same classes:
//   "cuda": the volume, the min/max grid and the image live on the first CUDA device, one GPU
//           thread casts each pixel, and the image is copied back to the host for drawing;
//   "host": the CPU kernels of KestrelStandard on all processors (MIPVR, IsosurfaceVR over a
//           CoherentVolume and a GridPartition built from the volume).
// The host back end is active until CUDAInit finds a device, and for good when the library was
// built without the CUDA toolkit or the machine has no usable device.
//
// CUDAInit(true) picks the back end: the CUDA one when it was built and a device answers, else
// the host one. CUDAInit(false) keeps the host back end. Call it before the first upload (the
// GPU scenes call it on their first frame); objects filled before a switch keep the back end
// they were filled on and must be filled again. Calling it again is harmless. GL thread only.
KESTREL_CUDA_API void CUDAInit(bool useDevice);

// "cuda" or "host": the back end that the next calls use.
KESTREL_CUDA_API const char* CUDAActiveBackEnd();

// True when this build of the library contains the CUDA back end (whether or not a device is
// present).
KESTREL_CUDA_API bool CUDABackEndBuilt();

// How many times CUDAInit has been called in this process (for hosts and tests that check
// start-up).
KESTREL_CUDA_API int CUDAInitCount();
