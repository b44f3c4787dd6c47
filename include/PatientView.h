// The six standard views of a patient volume, as camera rotations: for volumes whose voxel axes
// run along the patient's left (x), posterior (y) and superior (z), as the scan readers place them.
#pragma once

#include "KestrelExport.h"
#include "Quaternion.h"

// Where the viewer stands. Anterior: facing the patient's face, superior up, the patient's left
// on the right of the screen; posterior: behind, superior up; left and right: beside the patient,
// superior up; superior: above the head, anterior up, the patient's right on the right; inferior:
// below the feet, anterior up, the patient's left on the right (as axial images are read).
enum PatientView { pvAnterior, pvPosterior, pvLeft, pvRight, pvSuperior, pvInferior };

/// The SceneParam rotation (model to eye) that shows `view` of a volume in the patient frame.
/// Unknown values give the identity (the volume's -z direction of view, +y up).
KESTREL_STANDARD_API Quaternion CalculatePatientViewRotation(PatientView view);

/// The view named "anterior", "posterior", "left", "right", "superior" or "inferior"; false (and
/// `view` untouched) for any other name or a null pointer.
KESTREL_STANDARD_API bool ParsePatientView(const char* name, PatientView* view);
