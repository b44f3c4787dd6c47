// Scalar conversion and bricking of a vtkImageData for Kestrel's kernels.
#include "KestrelBricks.h"

#include <vtkDataArray.h>
#include <vtkImageData.h>

#include <algorithm>
#include <cstring>

#include "CoherentVolume.h"
#include "GridPartition.h"
#include "VolumeData.h"

namespace {

// Grid cells of dimension^0.4 voxels per axis, as the scenes use.
constexpr float kGridExponent = 0.4f;

// The Kestrel sample type that holds a VTK type without change; false for the types converted.
bool SameSampleType(int vtkType, DataType& type) {
    switch (vtkType) {
        case VTK_CHAR:
        case VTK_SIGNED_CHAR:
            type = VolumeData::dtInt8;
            return true;
        case VTK_UNSIGNED_CHAR:
            type = VolumeData::dtUint8;
            return true;
        case VTK_SHORT:
            type = VolumeData::dtInt16;
            return true;
        case VTK_UNSIGNED_SHORT:
            type = VolumeData::dtUint16;
            return true;
        case VTK_INT:
            type = VolumeData::dtInt32;
            return true;
        case VTK_UNSIGNED_INT:
            type = VolumeData::dtUint32;
            return true;
        case VTK_FLOAT:
            type = VolumeData::dtFloat32;
            return true;
        default:
            return false;
    }
}

}  // namespace

KestrelBricks::KestrelBricks()
    : dense(new VolumeData()), bricks(new CoherentVolume()), grid(new GridPartition()) {}

KestrelBricks::~KestrelBricks() {
    delete grid;
    delete bricks;
    delete dense;
}

bool KestrelBricks::Update(vtkImageData* image, vtkDataArray* scalars) {
    if (!image || !scalars || scalars->GetNumberOfTuples() < 1) return false;
    int dims[3];
    image->GetDimensions(dims);
    if (dims[0] < 1 || dims[1] < 1 || dims[2] < 1) return false;
    if (vtkIdType(dims[0]) * dims[1] * dims[2] != scalars->GetNumberOfTuples()) return false;
    const vtkMTimeType time = std::max(image->GetMTime(), scalars->GetMTime());
    if (image == lastImage && scalars == lastScalars && time == lastTime) return true;

    std::copy(dims, dims + 3, dimensions);
    dense->SetDimensions(dims);
    // Kestrel's voxel coordinates are physical / spacing; the mapper places the grid in the world.
    const double* spacing = image->GetSpacing();
    const float spacings[3] = {float(std::abs(spacing[0])), float(std::abs(spacing[1])),
                               float(std::abs(spacing[2]))};
    dense->SetSpacings(spacings);
    Convert(scalars);
    dense->GetMinMaxValue(range[0], range[1]);
    bricks->SetData(dense);
    grid->Init(bricks, kGridExponent);
    lastImage = image;
    lastScalars = scalars;
    lastTime = time;
    return true;
}

void KestrelBricks::Convert(vtkDataArray* scalars) {
    const vtkIdType count = scalars->GetNumberOfTuples();
    DataType type;
    if (scalars->GetNumberOfComponents() == 1 && scalars->HasStandardMemoryLayout() &&
        SameSampleType(scalars->GetDataType(), type)) {
        // Same layout and type: one copy of the samples.
        dense->SetDataType(type);
        dense->Allocate();
        std::memcpy(dense->GetData(), scalars->GetVoidPointer(0),
                    std::size_t(count) * std::size_t(scalars->GetDataTypeSize()));
        return;
    }
    // Every other type (float64, 64-bit integers, several components): component 0 as float32.
    dense->SetDataType(VolumeData::dtFloat32);
    dense->Allocate();
    float* const out = static_cast<float*>(dense->GetData());
    for (vtkIdType i = 0; i < count; ++i)
        out[i] = float(scalars->GetComponent(i, 0));
}
