// Umbrella header of KestrelScene: scenes, interaction and the transfer function.
#ifndef KESTREL_SCENE_H
#define KESTREL_SCENE_H

#include "KestrelStandard.h"

#endif  // KESTREL_SCENE_H
