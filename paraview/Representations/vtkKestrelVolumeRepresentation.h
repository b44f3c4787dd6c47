// ParaView's uniform-grid volume representation with Kestrel's CPU ray caster as its mapper.
#pragma once

#include "KestrelParaViewRepresentationsModule.h"  // export macro
#include "vtkImageVolumeRepresentation.h"

// "Kestrel Volume": everything of vtkImageVolumeRepresentation (the transfer functions, blend
// mode, shading, cropping, and the ordered compositing that sorts the ranks' pieces by their
// bounds), with vtkKestrelVolumeMapper in place of the smart volume mapper. The sample distance
// follows the data: the smallest voxel spacing.
class KESTRELPARAVIEWREPRESENTATIONS_EXPORT vtkKestrelVolumeRepresentation
    : public vtkImageVolumeRepresentation {
public:
    static vtkKestrelVolumeRepresentation* New();
    vtkTypeMacro(vtkKestrelVolumeRepresentation, vtkImageVolumeRepresentation);
    void PrintSelf(ostream& os, vtkIndent indent) override;

protected:
    vtkKestrelVolumeRepresentation();
    ~vtkKestrelVolumeRepresentation() override;

private:
    vtkKestrelVolumeRepresentation(const vtkKestrelVolumeRepresentation&) = delete;
    void operator=(const vtkKestrelVolumeRepresentation&) = delete;
};
