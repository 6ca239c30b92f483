// The rest-pose data of the one model the program is set up for.
#pragma once

#include <array>

#include "math/quat.h"

namespace torsel {

/// Rest-pose quaternions of left arm, left elbow, right arm, right elbow.
/// Only X, Y, Z are read: the direction of the bone's twist axis.
extern const std::array<Quat, 4> setupRestQuats;

/// Copies the table into the four pairs' working restQuat.
void copySetupRestQuats();

/// Prints the model-setup line in the user's language.
void printModelSetupLine();

/// The name of the model whose axes are in use, ready for the console:
/// the one given to setModelInUse, else the built-in one's.
const char* modelInUse();
/// `name`: ready for the console; null for the built-in model.
void setModelInUse(const char* name);

}  // namespace torsel
