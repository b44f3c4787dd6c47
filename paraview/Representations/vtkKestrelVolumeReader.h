// Reads a Kestrel structured volume file (and, where Kestrel's scan loader is built, DICOM
// folders, NIfTI and NRRD files) into vtkImageData, one piece's extent at a time.
#pragma once

#include "KestrelParaViewRepresentationsModule.h"  // export macro
#include "vtkImageAlgorithm.h"

// Output: point scalars "Scalars" in the file's sample type, origin 0, the file's spacing; voxel
// (i, j, k) is point (i, j, k). The whole volume is read once per file name and kept; each
// request copies the requested extent out of it, so that every rank of a parallel run produces
// its own piece. A file that cannot be read is reported as an error and gives no output.
class KESTRELPARAVIEWREPRESENTATIONS_EXPORT vtkKestrelVolumeReader : public vtkImageAlgorithm {
public:
    static vtkKestrelVolumeReader* New();
    vtkTypeMacro(vtkKestrelVolumeReader, vtkImageAlgorithm);
    void PrintSelf(ostream& os, vtkIndent indent) override;

    vtkSetStringMacro(FileName);
    vtkGetStringMacro(FileName);

protected:
    vtkKestrelVolumeReader();
    ~vtkKestrelVolumeReader() override;

    int RequestInformation(vtkInformation*, vtkInformationVector**, vtkInformationVector*) override;
    int RequestData(vtkInformation*, vtkInformationVector**, vtkInformationVector*) override;

    char* FileName = nullptr;

private:
    vtkKestrelVolumeReader(const vtkKestrelVolumeReader&) = delete;
    void operator=(const vtkKestrelVolumeReader&) = delete;

    bool Load();

    class vtkInternals;
    vtkInternals* Internals;
};
