// Umbrella header of KestrelStandard: math types, volumes and their files,
// camera, ray set-up, tables and CPU kernels.
#ifndef KESTREL_STANDARD_H
#define KESTREL_STANDARD_H

#include "KestrelExport.h"

#endif  // KESTREL_STANDARD_H
