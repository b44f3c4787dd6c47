// vtkKestrelVolumeRepresentation: the image volume representation over Kestrel's mapper.
#include "vtkKestrelVolumeRepresentation.h"

#include <vtkObjectFactory.h>
#include <vtkPVLODVolume.h>

#include "vtkKestrelVolumeMapper.h"

vtkStandardNewMacro(vtkKestrelVolumeRepresentation);

vtkKestrelVolumeRepresentation::vtkKestrelVolumeRepresentation() {
    vtkNew<vtkKestrelVolumeMapper> mapper;
    mapper->SetSampleDistance(0.0);  // the smallest voxel spacing
    this->VolumeMapper = mapper.Get();
    this->Actor->SetMapper(this->VolumeMapper);
}

vtkKestrelVolumeRepresentation::~vtkKestrelVolumeRepresentation() = default;

void vtkKestrelVolumeRepresentation::PrintSelf(ostream& os, vtkIndent indent) {
    this->Superclass::PrintSelf(os, indent);
}
