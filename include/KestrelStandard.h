// Umbrella header of KestrelStandard: math types, volumes and their files,
// camera, ray set-up, output image, technique parameters, min/max grid and
// the CPU kernels.
#ifndef KESTREL_STANDARD_H
#define KESTREL_STANDARD_H

#include "KestrelExport.h"

// Math types
#include "Vector.h"
#include "Quaternion.h"
#include "Matrix4x4.h"

// Volumes, their files and bricked storage
#include "DataType.h"
#include "VolumeData.h"
#include "CoherentVolume.h"
#include "VolumeHistogram.h"

// Rendering set-up
#include "SceneParam.h"
#include "PatientView.h"
#include "VRSceneParam.h"
#include "VRImage.h"
#include "BasicLightParam.h"
#include "IsosurfaceRayCasterParam.h"
#include "MIPRayCasterParam.h"
#include "GridPartition.h"
#include "Lut1D.h"
#include "TFEmptySpace.h"

// CPU kernels
#include "IsosurfaceVR.h"
#include "MIPVR.h"
#include "EndoscopySliceRendering.h"
#include "FullVR.h"

#endif  // KESTREL_STANDARD_H
