// vtkKestrelVolumeReader: Kestrel's volume loaders behind a VTK image source with sub-extents.
#include "vtkKestrelVolumeReader.h"

#include <vtkDataArray.h>
#include <vtkImageData.h>
#include <vtkInformation.h>
#include <vtkInformationVector.h>
#include <vtkObjectFactory.h>
#include <vtkPointData.h>
#include <vtkStreamingDemandDrivenPipeline.h>

#include <cstring>
#include <memory>
#include <string>

#include "VolumeData.h"
#ifdef KESTREL_HAVE_IO
#include "ScanLoader.h"
#endif

class vtkKestrelVolumeReader::vtkInternals {
public:
    std::unique_ptr<VolumeData> volume;
    std::string loadedName;  // the file `volume` came from
};

vtkStandardNewMacro(vtkKestrelVolumeReader);

namespace {

// The VTK type of a Kestrel sample type.
int VtkTypeOf(const DataType& type) {
    if (type.isFloat) return VTK_FLOAT;
    switch (type.bitCount) {
        case 8:
            return type.isSigned ? VTK_SIGNED_CHAR : VTK_UNSIGNED_CHAR;
        case 16:
            return type.isSigned ? VTK_SHORT : VTK_UNSIGNED_SHORT;
        default:
            return type.isSigned ? VTK_INT : VTK_UNSIGNED_INT;
    }
}

}  // namespace

vtkKestrelVolumeReader::vtkKestrelVolumeReader() : Internals(new vtkInternals()) {
    this->SetNumberOfInputPorts(0);
}

vtkKestrelVolumeReader::~vtkKestrelVolumeReader() {
    this->SetFileName(nullptr);
    delete this->Internals;
}

bool vtkKestrelVolumeReader::Load() {
    if (!this->FileName) return false;
    if (this->Internals->volume && this->Internals->loadedName == this->FileName) return true;
    this->Internals->volume.reset();
#ifdef KESTREL_HAVE_IO
    try {
        this->Internals->volume = LoadScan(this->FileName, ScanLoadOptions(), nullptr);
    } catch (const ScanError& error) {
        vtkErrorMacro(<< error.what());
        return false;
    }
#else
    auto volume = std::make_unique<VolumeData>();
    volume->ReadStructuredFile(this->FileName);
    if (!volume->GetData()) {
        vtkErrorMacro(<< this->FileName << ": not a readable structured volume file");
        return false;
    }
    this->Internals->volume = std::move(volume);
#endif
    this->Internals->loadedName = this->FileName;
    return true;
}

int vtkKestrelVolumeReader::RequestInformation(vtkInformation*, vtkInformationVector**,
                                               vtkInformationVector* outputVector) {
    if (!this->Load()) return 0;
    const VolumeData& volume = *this->Internals->volume;
    vtkInformation* outInfo = outputVector->GetInformationObject(0);
    const int* d = volume.dimensions;
    const int extent[6] = {0, d[0] - 1, 0, d[1] - 1, 0, d[2] - 1};
    const double spacing[3] = {volume.spacings[0], volume.spacings[1], volume.spacings[2]};
    const double origin[3] = {0.0, 0.0, 0.0};
    outInfo->Set(vtkStreamingDemandDrivenPipeline::WHOLE_EXTENT(), extent, 6);
    outInfo->Set(vtkDataObject::SPACING(), spacing, 3);
    outInfo->Set(vtkDataObject::ORIGIN(), origin, 3);
    outInfo->Set(vtkAlgorithm::CAN_PRODUCE_SUB_EXTENT(), 1);
    vtkDataObject::SetPointDataActiveScalarInfo(outInfo, VtkTypeOf(volume.dataType), 1);
    return 1;
}

int vtkKestrelVolumeReader::RequestData(vtkInformation*, vtkInformationVector**,
                                        vtkInformationVector* outputVector) {
    if (!this->Load()) return 0;
    const VolumeData& volume = *this->Internals->volume;
    vtkInformation* outInfo = outputVector->GetInformationObject(0);
    vtkImageData* output = vtkImageData::GetData(outInfo);
    int extent[6];
    outInfo->Get(vtkStreamingDemandDrivenPipeline::UPDATE_EXTENT(), extent);
    output->SetExtent(extent);
    output->SetSpacing(volume.spacings[0], volume.spacings[1], volume.spacings[2]);
    output->SetOrigin(0.0, 0.0, 0.0);
    output->AllocateScalars(VtkTypeOf(volume.dataType), 1);
    output->GetPointData()->GetScalars()->SetName("Scalars");
    if (extent[1] < extent[0] || extent[3] < extent[2] || extent[5] < extent[4]) return 1;

    // Row by row out of the whole volume (x fastest, then y, then z).
    const std::size_t bytes = std::size_t(volume.dataType.bitCount / 8);
    const int* d = volume.dimensions;
    const std::size_t rowBytes = std::size_t(extent[1] - extent[0] + 1) * bytes;
    const char* source = static_cast<const char*>(volume.data);
    for (int k = extent[4]; k <= extent[5]; ++k)
        for (int j = extent[2]; j <= extent[3]; ++j) {
            const std::size_t first =
                (std::size_t(k) * std::size_t(d[1]) + std::size_t(j)) * std::size_t(d[0]) +
                std::size_t(extent[0]);
            std::memcpy(output->GetScalarPointer(extent[0], j, k), source + first * bytes,
                        rowBytes);
        }
    return 1;
}

void vtkKestrelVolumeReader::PrintSelf(ostream& os, vtkIndent indent) {
    this->Superclass::PrintSelf(os, indent);
    os << indent << "FileName: " << (this->FileName ? this->FileName : "(none)") << "\n";
}
