// CUDALut1D, CUDATFEmptySpace and CUDAPreintegratedLut: the full view's tables on the host and,
// on the CUDA back end, in device memory (the segment table itself is KestrelStandard's).
#include <algorithm>

#include "CUDALut1D.h"
#include "CUDAPreintegratedLut.h"
#include "CUDATFEmptySpace.h"
#include "DeviceBackEnd.h"
#include "Lut1D.h"
#include "TFEmptySpace.h"
#include "kernels/PreintegratedRay.h"

namespace {

// Copies `count` floats to the device when the CUDA back end is active, replacing `buffer`;
// releases it otherwise.
void Mirror(const float* values, std::size_t count, CUDADeviceBuffer*& buffer) {
    if (kestrel_cuda::DeviceActive()) {
        buffer = kestrel_cuda::UploadBuffer(values, count, buffer);
    } else {
        kestrel_cuda::ReleaseBuffer(buffer);
        buffer = nullptr;
    }
}

}  // namespace

CUDALut1D::CUDALut1D() : hostLut(new Lut1D()), deviceTable(nullptr) {}

CUDALut1D::~CUDALut1D() {
    delete hostLut;
    kestrel_cuda::ReleaseBuffer(deviceTable);
}

void CUDALut1D::CopyToTexture(const Lut1D* lut) {
    if (lut == nullptr) return;
    *hostLut = *lut;
    Mirror(reinterpret_cast<const float*>(hostLut->data),
           std::size_t(std::max(hostLut->sampleCount, 0)) * 4, deviceTable);
}

CUDATFEmptySpace::CUDATFEmptySpace() : hostSums(new TFEmptySpace()), deviceSums(nullptr) {}

CUDATFEmptySpace::~CUDATFEmptySpace() {
    delete hostSums;
    kestrel_cuda::ReleaseBuffer(deviceSums);
}

void CUDATFEmptySpace::CalculateTFEmptySpace(const Lut1D* lut) {
    if (lut == nullptr) return;
    hostSums->CalculateTFEmptySpace(lut);
    Mirror(hostSums->alphaSum, std::size_t(std::max(hostSums->sampleCount, 0)) + 1, deviceSums);
}

CUDAPreintegratedLut::CUDAPreintegratedLut() : PreintegratedLut(), deviceTable(nullptr) {}

CUDAPreintegratedLut::~CUDAPreintegratedLut() {
    kestrel_cuda::ReleaseBuffer(deviceTable);
}

void CUDAPreintegratedLut::GenerateTextures(const Lut1D* lut, float segmentLength,
                                            float opacityDistance) {
    const bool rebuilt = Generate(lut, segmentLength, opacityDistance);
    if (table == nullptr) return;  // ignored input and no earlier table
    // Mirror a new table, or the current one when the back end changed since.
    if (!rebuilt && (deviceTable != nullptr) == kestrel_cuda::DeviceActive()) return;
    Mirror(reinterpret_cast<const float*>(table), std::size_t(resolution) * resolution * 4,
           deviceTable);
}

namespace kestrel_cuda {

PreintegratedLookup SegmentLookup(const CUDAPreintegratedLut& segments) {
    return BindSegments(segments);
}

}  // namespace kestrel_cuda
