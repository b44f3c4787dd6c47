// Start-up of KestrelCUDA: which back end the calls run on.
#include "CUDAInit.h"

#include "DeviceBackEnd.h"

namespace {

bool deviceActive = false;  // CUDAInit found a device
int initCount = 0;          // CUDAInit calls so far

}  // namespace

namespace kestrel_cuda {

bool DeviceActive() {
    return deviceActive;
}

}  // namespace kestrel_cuda

void CUDAInit(bool useDevice) {
    ++initCount;
    deviceActive = useDevice && kestrel_cuda::DeviceBackEndBuilt() && kestrel_cuda::FindDevice();
}

const char* CUDAActiveBackEnd() {
    return deviceActive ? "cuda" : "host";
}

bool CUDABackEndBuilt() {
    return kestrel_cuda::DeviceBackEndBuilt();
}

int CUDAInitCount() {
    return initCount;
}
