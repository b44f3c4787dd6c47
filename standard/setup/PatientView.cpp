// Camera rotations of the standard patient views.
#include "PatientView.h"

#include <cstring>

namespace {

constexpr float kHalfTurn = 3.14159265f;
constexpr float kQuarterTurn = 0.5f * kHalfTurn;

// The anterior view: a quarter turn about eye x takes superior (+z) to eye +y (up) and posterior
// (+y) to eye -z (away from the eye); left (+x) stays on the right.
Quaternion Anterior() {
    return Quaternion(1.0f, 0.0f, 0.0f, -kQuarterTurn);
}

}  // namespace

Quaternion CalculatePatientViewRotation(PatientView view) {
    // The side views turn the anterior view about the screen's vertical (eye y); the views from
    // above and below are single turns of the volume.
    switch (view) {
        case pvAnterior:
            return Anterior();
        case pvPosterior:
            return Quaternion(0.0f, 1.0f, 0.0f, kHalfTurn) * Anterior();
        case pvLeft:
            return Quaternion(0.0f, 1.0f, 0.0f, -kQuarterTurn) * Anterior();
        case pvRight:
            return Quaternion(0.0f, 1.0f, 0.0f, kQuarterTurn) * Anterior();
        case pvSuperior:
            // superior towards the eye, anterior (-y) up: a half turn about the view direction
            return Quaternion(0.0f, 0.0f, 1.0f, kHalfTurn);
        case pvInferior:
            // inferior towards the eye, anterior up: a half turn about x
            return Quaternion(1.0f, 0.0f, 0.0f, kHalfTurn);
    }
    return Quaternion();
}

bool ParsePatientView(const char* name, PatientView* view) {
    static const char* const kNames[] = {"anterior", "posterior", "left",
                                         "right",    "superior",  "inferior"};
    if (name == nullptr || view == nullptr) return false;
    for (int v = 0; v < 6; ++v) {
        if (std::strcmp(name, kNames[v]) == 0) {
            *view = PatientView(v);
            return true;
        }
    }
    return false;
}
