// libFuzzer target for the DICOM reader's own logic. The input chooses a series that GDCM
// writes well-formed: 1 to 5 slices with their sizes, pixel formats, orientations, positions,
// spacings, rescale values, series membership and compression, so that the loader's checks
// (series choice, ordering, spacing, consistency checks, rescaling, axis turning) meet
// adversarial values. The reader runs in this process (ReadDicomInProcess), where the fuzzer
// sees which of its branches each input reaches; malformed bytes are DicomFileFuzz.cpp's.
// ScanFuzzCheck.h says what is checked after each load.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <vector>

#include "DicomSliceWriter.h"
#include "ScanFuzzCheck.h"
#include "ScanSamples.h"

namespace {

const gdcm::PixelFormat::ScalarType kFormats[] = {
    gdcm::PixelFormat::INT8,   gdcm::PixelFormat::UINT8, gdcm::PixelFormat::INT16,
    gdcm::PixelFormat::UINT16, gdcm::PixelFormat::INT32, gdcm::PixelFormat::UINT32};
const double kSlopes[] = {1.0, 2.0, 0.5, -1.0, 0.0, 1e-3};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = "/tmp/kestrel_dicom_fuzz_" + std::to_string(getpid());
    static const bool made = mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
    if (!made) return 0;
    FuzzedDataProvider input(data, size);

    const int slices = input.ConsumeIntegralInRange(1, 5);
    scantest::DicomSlice slice;
    slice.columns = input.ConsumeIntegralInRange(1u, 6u);
    slice.rows = input.ConsumeIntegralInRange(1u, 6u);
    slice.format = kFormats[input.ConsumeIntegralInRange<std::size_t>(0, 5)];
    for (double& c : slice.cosines)
        c = input.ConsumeIntegral<int8_t>() / 16.0;
    slice.spacing[0] = input.ConsumeIntegral<uint8_t>() / 8.0;
    slice.spacing[1] = input.ConsumeIntegral<uint8_t>() / 8.0;
    std::vector<std::string> files;
    for (int k = 0; k < slices; ++k) {
        if (input.ConsumeIntegralInRange(0, 15) == 0) {  // now and then one of another size
            slice.columns = input.ConsumeIntegralInRange(1u, 6u);
        }
        for (double& p : slice.origin)
            p = input.ConsumeIntegral<int8_t>() / 4.0;
        slice.slope = kSlopes[input.ConsumeIntegralInRange<std::size_t>(0, 5)];
        slice.intercept = input.ConsumeIntegral<int16_t>();
        slice.seriesUid = input.ConsumeBool() ? "1.2.826.0.1.3680043.2.1125.7.1"
                                              : "1.2.826.0.1.3680043.2.1125.7.2";
        slice.instance = k + 1;
        // GDCM's RLE encoder asserts on some image sizes; keep to even 16-bit images.
        slice.rle = input.ConsumeBool() && slice.format.GetPixelSize() == 2 &&
                    slice.columns % 2 == 0 && slice.rows % 2 == 0;
        std::vector<uint8_t> pixels(slice.columns * slice.rows * slice.format.GetPixelSize());
        for (uint8_t& b : pixels)
            b = input.ConsumeIntegral<uint8_t>();
        slice.pixels = pixels.data();
        files.push_back(folder + "/" + std::to_string(k) + ".dcm");
        if (!scantest::WriteDicomSlice(files.back(), slice)) files.pop_back();
    }
    if (!files.empty()) scanfuzz::LoadAndCheck(folder, folder, kestrel_io::ReadDicomInProcess);
    for (const std::string& file : files)
        unlink(file.c_str());
    return 0;
}
