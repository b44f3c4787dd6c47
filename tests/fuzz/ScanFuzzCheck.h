// The check every scan fuzz target makes after a load: either a ScanError of one line that
// starts with a path under `prefix`, or a volume whose fields describe a valid, filled buffer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "ScanLoader.h"
#include "volume/SampleTypes.h"

namespace scanfuzz {

[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "scan fuzz: %s\n", what);
    std::abort();
}

using Loader = std::unique_ptr<VolumeData> (*)(const std::string& path,
                                               const ScanLoadOptions& options, ScanInfo& info);

inline std::unique_ptr<VolumeData> PublicLoad(const std::string& path,
                                              const ScanLoadOptions& options, ScanInfo& info) {
    return LoadScan(path, options, &info);
}

// `load` is LoadScan, or a reader behind it.
inline void LoadAndCheck(const std::string& path, const std::string& prefix,
                         Loader load = PublicLoad) {
    try {
        ScanInfo info;
        std::unique_ptr<VolumeData> volume = load(path, ScanLoadOptions(), info);
        std::size_t bytes = 0;
        if (volume == nullptr || volume->GetData() == nullptr ||
            !kestrel_volume::SampleVolumeBytes(volume->dataType, volume->dimensions, bytes)) {
            Fail("accepted a load without a valid volume");
        }
        // Touch every byte: a buffer shorter than the fields describe shows under ASan.
        const volatile std::uint8_t* samples = static_cast<const std::uint8_t*>(volume->GetData());
        std::uint8_t sum = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            sum = std::uint8_t(sum + samples[i]);
        (void)sum;
    } catch (const ScanError& error) {
        const std::string message = error.what();
        if (message.rfind(prefix, 0) != 0 || message.find('\n') != std::string::npos ||
            message.find(": ") == std::string::npos) {
            Fail("error message does not start with the file's name or is not one line");
        }
    } catch (const std::bad_alloc&) {
        // a header that asks for more memory than there is: refused, nothing built
    }
}

}  // namespace scanfuzz
