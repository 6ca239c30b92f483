// The rest-pose data of the one model the program is set up for.
#pragma once

#include <array>

#include "twist/quat.h"

namespace torsel {

/// Rest-pose quaternions of left arm, left elbow, right arm, right elbow.
/// Only X, Y, Z are read: the direction of the bone's twist axis.
extern const std::array<Quat, 4> setupRestQuats;

/// Copies the table into the four pairs' working restQuat.
void copySetupRestQuats();

/// Prints the model-setup line in the user's language.
void printModelSetupLine();

}  // namespace torsel
