// libFuzzer target for malformed DICOM bytes through the public entry point. Each input becomes
// one file, loaded alone or in a folder beside two well-formed slices of the series the seeds
// (seeds-dicom) belong to. GDCM aborts, crashes or asks for gigabytes on such bytes; the loader
// runs it in a child process, so every input must end as a volume or as one ScanError line
// naming a file of the folder (ScanFuzzCheck.h), and nothing may reach this process.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "DicomSliceWriter.h"
#include "ScanFuzzCheck.h"

namespace {

// Two 6 x 5 int16 slices of series 1.2.3 at z = 2 and 4 mm (the seeds lie at z = 0).
bool WriteCompanions(const std::string& folder) {
    const std::vector<std::int16_t> pixels(30, 7);
    scantest::DicomSlice slice;
    slice.columns = 6;
    slice.rows = 5;
    slice.pixels = pixels.data();
    for (int k = 1; k <= 2; ++k) {
        slice.origin[2] = 2.0 * k;
        slice.instance = k + 1;
        if (!scantest::WriteDicomSlice(folder + "/companion" + std::to_string(k) + ".dcm", slice)) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string root = "/tmp/kestrel_dicom_file_fuzz_" + std::to_string(getpid());
    static const std::string alone = root + "/alone";
    static const std::string series = root + "/series";
    static const bool made = (mkdir(root.c_str(), 0755) == 0 || errno == EEXIST) &&
                             (mkdir(alone.c_str(), 0755) == 0 || errno == EEXIST) &&
                             (mkdir(series.c_str(), 0755) == 0 || errno == EEXIST) &&
                             WriteCompanions(series);
    if (!made || size == 0) return 0;
    // The last byte chooses: odd, beside the companions.
    const std::string folder = data[size - 1] % 2 ? series : alone;
    const std::string file = folder + "/input.dcm";
    FILE* out = std::fopen(file.c_str(), "wb");
    if (out == nullptr) return 0;
    std::fwrite(data, 1, size, out);
    std::fclose(out);
    scanfuzz::LoadAndCheck(folder == series ? folder : file, folder + "/");
    unlink(file.c_str());
    return 0;
}
