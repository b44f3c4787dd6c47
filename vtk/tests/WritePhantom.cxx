// Writes Kestrel's head phantom as a structured volume file, for the ParaView scripts:
//   kestrel_write_phantom OUT [SIZE]   (SIZE voxels per axis, default 128)
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "HeadPhantom.h"
#include "VolumeData.h"

int main(int argc, char** argv) {
    // An option in place of OUT (--help included) is not taken for a file name.
    if (argc < 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: %s OUT [SIZE]\n", argv[0]);
        return argc < 2 || std::string(argv[1]) != "--help" ? 2 : 0;
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
