// Texts the program prints in many runs, spelled out for the end-to-end
// tests.
#pragma once

#include <string>

namespace testsupport {

inline const std::string kBanner = "Torsel V1.04a\n";
inline const std::string kModelLine = "Converting setup: Model [Oru-type Miku Append Ver1.00] \n";
inline const std::string kStart = kBanner + kModelLine;

std::string usageText(long from = 0, long to = 9999999, int mode = 12);

/// The English summary as -ND prints it.
std::string summaryText(int files, int leftArm, int leftElbow, int rightArm, int rightElbow, bool elbows = true,
                        const std::string& name = "");

}  // namespace testsupport
