// One DICOM CT image file written with GDCM, shared by the loader tests and the DICOM fuzz
// target (so free of the test framework).
#pragma once

#include <gdcmAttribute.h>
#include <gdcmImageChangeTransferSyntax.h>
#include <gdcmImageWriter.h>
#include <gdcmTrace.h>

#include <cstdlib>
#include <string>

namespace scantest {

struct DicomSlice {
    unsigned columns = 1;
    unsigned rows = 1;
    unsigned frames = 1;        // above 1: one multi-frame (enhanced CT) file of the frames
    double frameSpacing = 1.0;  // mm between frames along the normal
    gdcm::PixelFormat format = gdcm::PixelFormat::INT16;
    double origin[3] = {0, 0, 0};            // Image Position (Patient), mm
    double cosines[6] = {1, 0, 0, 0, 1, 0};  // Image Orientation (Patient)
    double spacing[2] = {1, 1};              // along a row, down a column
    double slope = 1.0;
    double intercept = 0.0;
    std::string seriesUid = "1.2.3";
    int seriesNumber = 1;
    int instance = 1;
    bool rle = false;              // RLE Lossless instead of uncompressed
    bool monochrome1 = false;      // higher values darker
    const void* pixels = nullptr;  // columns * rows samples of `format`
};

inline bool WriteDicomSlice(const std::string& file, const DicomSlice& slice) {
    gdcm::Trace::WarningOff();
    gdcm::ImageWriter writer;
    gdcm::SmartPointer<gdcm::Image> owned = new gdcm::Image;
    gdcm::Image& image = *owned;
    image.SetNumberOfDimensions(slice.frames > 1 ? 3 : 2);
    image.SetDimension(0, slice.columns);
    image.SetDimension(1, slice.rows);
    if (slice.frames > 1) {
        image.SetDimension(2, slice.frames);
        image.SetSpacing(2, slice.frameSpacing);
    }
    image.SetPixelFormat(slice.format);
    image.SetPhotometricInterpretation(slice.monochrome1
                                           ? gdcm::PhotometricInterpretation::MONOCHROME1
                                           : gdcm::PhotometricInterpretation::MONOCHROME2);
    // SetOrigin(const double*) copies one coordinate per image dimension (two).
    for (unsigned w = 0; w < 3; ++w)
        image.SetOrigin(w, slice.origin[w]);
    image.SetDirectionCosines(slice.cosines);
    image.SetSpacing(0, slice.spacing[0]);
    image.SetSpacing(1, slice.spacing[1]);
    image.SetSlope(slice.slope);
    image.SetIntercept(slice.intercept);
    gdcm::DataElement pixels(gdcm::Tag(0x7fe0, 0x0010));
    pixels.SetByteValue(
        static_cast<const char*>(slice.pixels),
        uint32_t(slice.columns * slice.rows * slice.frames * slice.format.GetPixelSize()));
    image.SetDataElement(pixels);
    image.SetTransferSyntax(gdcm::TransferSyntax::ExplicitVRLittleEndian);
    if (slice.rle) {
        gdcm::ImageChangeTransferSyntax change;
        change.SetTransferSyntax(gdcm::TransferSyntax::RLELossless);
        change.SetInput(image);
        if (!change.Change()) return false;
        writer.SetImage(change.GetOutput());
    } else {
        writer.SetImage(image);
    }
    gdcm::DataSet& header = writer.GetFile().GetDataSet();
    // CT image, or enhanced CT image for a multi-frame file
    gdcm::Attribute<0x0008, 0x0016> sopClass = {slice.frames > 1 ? "1.2.840.10008.5.1.4.1.1.2.1"
                                                                 : "1.2.840.10008.5.1.4.1.1.2"};
    gdcm::Attribute<0x0008, 0x0018> sopInstance = {slice.seriesUid + "." +
                                                   std::to_string(slice.instance)};
    gdcm::Attribute<0x0008, 0x0060> modality = {"CT"};
    gdcm::Attribute<0x0020, 0x000d> studyUid = {"1.2.826.0.1.3680043.2.1125.9"};
    gdcm::Attribute<0x0020, 0x000e> seriesUid = {slice.seriesUid};
    gdcm::Attribute<0x0020, 0x0011> seriesNumber = {slice.seriesNumber};
    gdcm::Attribute<0x0020, 0x0013> instance = {slice.instance};
    for (const gdcm::DataElement& e :
         {sopClass.GetAsDataElement(), sopInstance.GetAsDataElement(), modality.GetAsDataElement(),
          studyUid.GetAsDataElement(), seriesUid.GetAsDataElement(),
          seriesNumber.GetAsDataElement(), instance.GetAsDataElement()}) {
        header.Replace(e);
    }
    writer.SetFileName(file.c_str());
    return writer.Write();
}

}  // namespace scantest
