// A host that links the installed Kestrel package: it builds a small volume,
// round-trips it through the structured file format (read back by the scan
// loader, KestrelIO), bricks it and prints what it sees. It needs no window,
// so it runs anywhere.
#include <KestrelScene.h>
#include <KestrelStandard.h>
#include <ScanLoader.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

int main() {
    VolumeData volume;
    const int dims[3] = {100, 64, 3};
    const float spacings[3] = {0.5f, 0.5f, 2.0f};
    volume.SetDataType(VolumeData::dtUint16);
    volume.SetDimensions(dims);
    volume.SetSpacings(spacings);
    volume.Allocate();
    auto* samples = static_cast<uint16_t*>(volume.GetData());
    for (int i = 0; i < dims[0] * dims[1] * dims[2]; ++i)
        samples[i] = static_cast<uint16_t>(i % 1000);

    const std::string path = "kestrel-example-host.vol";
    volume.WriteStructuredFile(path.c_str());
    ScanInfo info;
    const std::unique_ptr<VolumeData> loaded = LoadScan(path, ScanLoadOptions(), &info);
    std::remove(path.c_str());
    VolumeData& readBack = *loaded;

    double minValue = -1, maxValue = -1;
    readBack.GetMinMaxValue(minValue, maxValue);

    CoherentVolume bricked;
    bricked.SetData(&readBack);
    int blockNum[3] = {0, 0, 0};
    bricked.GetBlockNum(blockNum);

    SceneParam camera;
    MIPRayCasterParam mip;

    std::printf(
        "volume %d x %d x %d, value range [%g, %g], blocks %d x %d x %d, voxel (5,1,2) = %g\n",
        dims[0], dims[1], dims[2], minValue, maxValue, blockNum[0], blockNum[1], blockNum[2],
        bricked.GetValue(5, 1, 2));
    const bool ok = info.format == ScanFormat::Structured && minValue == 0 && maxValue == 999 &&
                    blockNum[0] == 2 && blockNum[1] == 1 && blockNum[2] == 1 &&
                    bricked.GetValue(5, 1, 2) == (5 + 100 * (1 + 64 * 2)) % 1000;
    // The GPU kernel library answers without a GL context: which back end would cast here.
    CUDAInit(true);
    std::printf("KestrelCUDA back end: %s\n", CUDAActiveBackEnd());
    std::printf(ok ? "example host: OK\n" : "example host: unexpected result\n");
    return ok ? 0 : 1;
}
