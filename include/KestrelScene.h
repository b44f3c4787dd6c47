// Umbrella header of KestrelScene: the scenes a host drives, their
// interaction, and (through KestrelStandard.h and KestrelCUDA.h) every class they use.
#ifndef KESTREL_SCENE_H
#define KESTREL_SCENE_H

#include "KestrelStandard.h"
#include "KestrelCUDA.h"

#include "RetStatus.h"
#include "AbstractScene.h"
#include "Scene.h"
#include "LitVolumeScene.h"
#include "MIPVRScene.h"
#include "IsosurfaceVRScene.h"
#include "EndoscopySliceScene.h"
#include "RGBATransferFunction1D.h"
#include "FullVRScene.h"
#include "CUDAMIPVRScene.h"
#include "CUDAIsosurfaceVRScene.h"
#include "CUDAFullVRScene.h"

#endif  // KESTREL_SCENE_H
