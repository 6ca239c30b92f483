#include "support/expected_text.h"

#include <cstdio>

namespace testsupport {

std::string usageText(long from, long to, int mode) {
  char buf[4096];
  std::snprintf(buf, sizeof buf,
                "Usage \n"
                "   Torsel [Options] <vmdFileName> (<vmdFileName> ...) \n"
                " Options \n"
                "   -Fxxx   convert start frame time  (From)(default %ld) \n"
                "   -Txxx   convert end   frame time  (To  )(default %ld) \n"
                "   -C      VMD file check mode                           \n"
                "   -ND     cancel displaying dialogue (no dialogue) (non-stop)  \n"
                "   -Mxxx   conversion mode (0 to 12)(default %d) \n"
                "           -M0   min orbit YZ  rotation of arm-twist conv. \n"
                "           -M1   Y-and-Z axis  rotation of arm-twist conv. \n"
                "           -M2   pure X cancel rotation of arm-twist conv. \n"
                "           -M3   axis-dependent X cancel rotation of arm-twist conv. (past) \n"
                "           -M4   axis-dependent X cancel rotation of arm-twist conv. (inv order)\n"
                "           -M5   axis-dependent X cancel rotation of arm-twist conv. \n"
                "           -M8   min orbit YZ  rotation of arm- and hand-twist conv. \n"
                "           -M9   Y-and-Z axis  rotation of arm- and hand-twist conv. \n"
                "           -M10  pure X cancel rotation of arm- and hand-twist conv. \n"
                "           -M11  axis-dependent X cancel rotation of arm- and hand-twist conv.  \n"
                "                                                                         (past) \n"
                "           -M12  axis-dependent X cancel rotation of arm- and hand-twist conv.  \n"
                "                                                                    (inv order) \n"
                "           -M13  axis-dependent X cancel rotation of arm- and hand-twist conv.  \n",
                from, to, mode);
  return buf;
}

std::string summaryText(int files, int leftArm, int leftElbow, int rightArm, int rightElbow, bool elbows,
                        const std::string& name) {
  std::string s;
  char line[512];
  if (files == 1) s += name + " \n";
  if (files >= 2) s += "All files total \n";
  std::snprintf(line, sizeof line, " Left  arm    %d  frame(s) \n", leftArm);
  s += line;
  if (elbows) {
    std::snprintf(line, sizeof line, " Left  elbow  %d  frame(s) \n", leftElbow);
    s += line;
  }
  std::snprintf(line, sizeof line, " Right arm    %d  frame(s) \n", rightArm);
  s += line;
  if (elbows) {
    std::snprintf(line, sizeof line, " Right elbow  %d  frame(s) \n", rightElbow);
    s += line;
  }
  if (files == 1) {
    std::string stem = name.substr(0, name.rfind('.') == std::string::npos ? name.size() : name.rfind('.'));
    s += stem + "-cnv.vmd \n";
  }
  std::snprintf(line, sizeof line, "=> %d file(s), total %d frame(s) converted. \n", files,
                leftArm + leftElbow + rightArm + rightElbow);
  s += line;
  return s;
}

}  // namespace testsupport
