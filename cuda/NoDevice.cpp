// The CUDA back end's entry points in a library built without the CUDA toolkit: no device is
// ever found, so the classes stay on the host back end and never reach the other calls.
#include "DeviceBackEnd.h"

namespace kestrel_cuda {

bool DeviceBackEndBuilt() {
    return false;
}

bool FindDevice() {
    return false;
}

CUDADeviceVolume* UploadVolume(const float*, const int[3], const float[3], CUDADeviceVolume*) {
    return nullptr;
}

void ReleaseVolume(CUDADeviceVolume*) {}

CUDADeviceGrid* BuildGrid(const CUDADeviceVolume*, const int[3], const int[3], CUDADeviceGrid*) {
    return nullptr;
}

void ReleaseGrid(CUDADeviceGrid*) {}

CUDADeviceImage* PrepareImage(CUDADeviceImage*, int, int) {
    return nullptr;
}

void CopyImageBack(const CUDADeviceImage*, float*, int, int) {}

void ReleaseImage(CUDADeviceImage*) {}

void CastMIP(const CUDADeviceVolume*, const CUDADeviceGrid*, const DeviceRays&, float, float,
             const DeviceRegion&, CUDADeviceImage*) {}

void CastIsosurface(const CUDADeviceVolume*, const CUDADeviceGrid*, const DeviceRays&, float,
                    const float[3], const BoundLight&, const DeviceRegion&, CUDADeviceImage*) {}

CUDADeviceBuffer* UploadBuffer(const float*, std::size_t, CUDADeviceBuffer*) {
    return nullptr;
}

void ReleaseBuffer(CUDADeviceBuffer*) {}

void CastFull(const CUDADeviceVolume*, const CUDADeviceGrid*, const DeviceRays&,
              const FullSettings&, const CUDADeviceBuffer*, const CUDADeviceBuffer*,
              const DeviceRegion&, CUDADeviceImage*) {}

void CastPreintegrated(const CUDADeviceVolume*, const DeviceRays&, const FullSettings&,
                       const CUDADeviceBuffer*, const DeviceRegion&, CUDADeviceImage*) {}

}  // namespace kestrel_cuda
