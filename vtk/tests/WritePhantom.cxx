// Writes Kestrel's head phantom as a structured volume file, for the ParaView scripts:
//   kestrel_write_phantom OUT [SIZE]   (SIZE voxels per axis, default 128)
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "HeadPhantom.h"
#include "VolumeData.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT [SIZE]\n", argv[0]);
        return 2;
    }
    const int size = argc > 2 ? std::atoi(argv[2]) : 128;
    std::unique_ptr<VolumeData> phantom(CreateHeadPhantom(size));
    if (!phantom) {
        std::fprintf(stderr, "%s: size %d gives no phantom\n", argv[0], size);
        return 1;
    }
    phantom->WriteStructuredFile(argv[1]);
    return 0;
}
