// Umbrella header of KestrelCUDA, the GPU kernel library of the GPU scenes: start-up and back end,
// volume texture, min/max grid, output image, the full view's tables and the kernels.
#ifndef KESTREL_CUDA_H
#define KESTREL_CUDA_H

#include "KestrelExport.h"

#include "CUDAInit.h"
#include "CUDAVolumeTexture.h"
#include "CUDAGridPartition.h"
#include "CUDAVRImage.h"
#include "CUDAMIPVR.h"
#include "CUDAIsosurfaceVR.h"
#include "CUDALut1D.h"
#include "CUDATFEmptySpace.h"
#include "CUDAPreintegratedLut.h"
#include "CUDAFullVR.h"

#endif  // KESTREL_CUDA_H
