// CUDAVolumeTexture and CUDAGridPartition: the volume and its min/max grid on the active back end.
#include "CUDAVolumeTexture.h"

#include <cmath>
#include <cstddef>
#include <vector>

#include "CUDAGridPartition.h"
#include "CoherentVolume.h"
#include "DeviceBackEnd.h"
#include "GridPartition.h"
#include "VolumeData.h"
#include "volume/SampleTypes.h"

namespace {

// The volume's samples as floats, x fastest, converted as CoherentVolume::GetValue converts them.
// False for a volume without samples or of an unsupported sample type.
bool SamplesAsFloats(const VolumeData& volume, std::vector<float>& samples) {
    int dims[3];
    volume.GetDimensions(dims);
    std::size_t bytes = 0;
    if (volume.GetData() == nullptr ||
        !kestrel_volume::SampleVolumeBytes(volume.GetDataType(), dims, bytes))
        return false;
    const std::size_t count = std::size_t(dims[0]) * std::size_t(dims[1]) * std::size_t(dims[2]);
    return kestrel_volume::VisitSampleType(volume.GetDataType(), [&](auto tag) {
        using Sample = typename decltype(tag)::type;
        const Sample* const source = static_cast<const Sample*>(volume.GetData());
        samples.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            samples[i] = static_cast<float>(source[i]);
    });
}

}  // namespace

CUDAVolumeTexture::CUDAVolumeTexture()
    : dimensions{0, 0, 0},
      spacings{1.0f, 1.0f, 1.0f},
      uploadCount(0),
      onDevice(false),
      hostVolume(nullptr),
      deviceVolume(nullptr) {}

CUDAVolumeTexture::~CUDAVolumeTexture() {
    delete hostVolume;
    kestrel_cuda::ReleaseVolume(deviceVolume);
}

void CUDAVolumeTexture::CopyToTexture(VolumeData* volume) {
    if (volume == nullptr) return;
    int dims[3];
    float volumeSpacings[3];
    volume->GetDimensions(dims);
    volume->GetSpacings(volumeSpacings);
    if (kestrel_cuda::DeviceActive()) {
        std::vector<float> samples;
        if (!SamplesAsFloats(*volume, samples)) return;
        deviceVolume =
            kestrel_cuda::UploadVolume(samples.data(), dims, volumeSpacings, deviceVolume);
        delete hostVolume;
        hostVolume = nullptr;
        onDevice = true;
    } else {
        std::size_t bytes = 0;
        if (volume->GetData() == nullptr ||
            !kestrel_volume::SampleVolumeBytes(volume->GetDataType(), dims, bytes))
            return;
        if (hostVolume == nullptr) hostVolume = new CoherentVolume();
        hostVolume->SetData(volume);
        kestrel_cuda::ReleaseVolume(deviceVolume);
        deviceVolume = nullptr;
        onDevice = false;
    }
    for (int axis = 0; axis < 3; ++axis) {
        dimensions[axis] = dims[axis];
        spacings[axis] = volumeSpacings[axis];
    }
    ++uploadCount;
}

CUDAGridPartition::CUDAGridPartition()
    : cellSize{0, 0, 0}, cellCount{0, 0, 0}, hostGrid(nullptr), deviceGrid(nullptr) {}

CUDAGridPartition::~CUDAGridPartition() {
    delete hostGrid;
    kestrel_cuda::ReleaseGrid(deviceGrid);
}

void CUDAGridPartition::Init(CUDAVolumeTexture* texture, float exponent) {
    if (texture == nullptr || !texture->HoldsVolume()) return;
    if (!texture->onDevice) {
        if (texture->hostVolume == nullptr) return;
        if (hostGrid == nullptr) hostGrid = new GridPartition();
        hostGrid->Init(texture->hostVolume, exponent);
        for (int axis = 0; axis < 3; ++axis) {
            cellSize[axis] = hostGrid->cellSize[axis];
            cellCount[axis] = hostGrid->cellCount[axis];
        }
        kestrel_cuda::ReleaseGrid(deviceGrid);
        deviceGrid = nullptr;
        return;
    }
    // The cell sizes of GridPartition::Init(volume, exponent): (int) dimension^exponent in single
    // precision, at least 1; cells share their boundary planes, so (dim - 1) / size + 1 of them.
    for (int axis = 0; axis < 3; ++axis) {
        const float size = powf(float(texture->dimensions[axis]), exponent);
        cellSize[axis] = size >= 1.0f ? int(size) : 1;
        cellCount[axis] = (texture->dimensions[axis] - 1) / cellSize[axis] + 1;
    }
    deviceGrid = kestrel_cuda::BuildGrid(texture->deviceVolume, cellSize, cellCount, deviceGrid);
    delete hostGrid;
    hostGrid = nullptr;
}
