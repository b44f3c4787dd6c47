// libFuzzer target for one file-based scan reader, chosen at build time by the file name
// suffix KESTREL_FUZZ_SUFFIX (".nii" or ".nrrd"). Each input is written to a file of that name
// and loaded; ScanFuzzCheck.h says what is checked. DICOM has its own target
// (DicomSeriesFuzz.cpp).
#include <unistd.h>

#include "ScanFuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path =
        "/tmp/kestrel_scan_fuzz_" + std::to_string(getpid()) + KESTREL_FUZZ_SUFFIX;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    scanfuzz::LoadAndCheck(path, path + ": ");
    return 0;
}
