#include "pass/split_lines.h"

#include <cstdio>

#include "platform/platform.h"

namespace torsel {
namespace {

double d(float v) { return static_cast<double>(v); }

// Per step its line, printf'd with X, Y, Z, W; the axes' lines show X, Y, Z.
constexpr const char* kLines[] = {
    "  ex (X,Y,Z) = %g %g %g \n",
    "  ey (X,Y,Z) = %g %g %g \n",
    "  ez (X,Y,Z) = %g %g %g \n",
    "  (vecn)=> (X,Y,Z,W) = %g %g %g %g \n",
    "  (xc)=> (X,Y,Z,W) = %g %g %g %g \n",
    "  ex=>(min)=>(1,0,0) (X,Y,Z,W) = %g %g %g %g \n",
    "  ex => (X,Y,Z) = %g %g %g (%g) \n",
    "  ey => (X,Y,Z) = %g %g %g (%g) \n",
    "  ez => (X,Y,Z) = %g %g %g (%g) \n",
    "  ex =>Yaxis=>(1,0,0) (X,Y,Z,W) = %g %g %g %g \n",
    "  ex'=>Zaxis=>(1,0,0) (X,Y,Z,W) = %g %g %g %g \n",
    "  ey'=>Xaxis=>(0,1,0) (X,Y,Z,W) = %g %g %g %g \n",
    "  ez'=>Xaxis=>(0,0,1) (X,Y,Z,W) = %g %g %g %g \n",
    "  ex => (X,Y,Z) = %g %g %g (%g) \n",
    "  ey => (X,Y,Z) = %g %g %g (%g) \n",
    "  ez => (X,Y,Z) = %g %g %g (%g) \n",
    "  ** cip=%g  something fails ...\n",
    nullptr,  // the twist's line names its bone
    "  org (X,Y,Z,W) = %g %g %g %g \n",
    "  cnv (X,Y,Z,W) = %g %g %g %g \n",
};
static_assert(sizeof kLines / sizeof kLines[0] == static_cast<int>(SplitStep::Kept) + 1);

bool isHome(SplitStep s) { return s == SplitStep::HomeX || s == SplitStep::HomeY || s == SplitStep::HomeZ; }

}  // namespace

void printSplit(const SplitTrace& trace, const SplitLines& how) {
  for (int i = 0; i < trace.count; i++) {
    const SplitStep step = trace.entries[i].step;
    const Quat& v = trace.entries[i].v;
    const bool shown = step == SplitStep::Stray ? true : isHome(step) ? how.homeAxes : how.steps;
    if (!shown) continue;
    if (step == SplitStep::Twist) {
      std::printf("  => exporting to %s x-rot (X,Y,Z,W) = %g %g %g %g \n", plat::conText(how.twistBone), d(v.x),
                  d(v.y), d(v.z), d(v.w));
    } else {
      std::printf(kLines[static_cast<int>(step)], d(v.x), d(v.y), d(v.z), d(v.w));
    }
  }
}

void printTurnedAxes(const Quat& q) {
  const Quat axes[] = {quatAxisX(q), quatAxisY(q), quatAxisZ(q)};
  for (int i = 0; i < 3; i++) std::printf(kLines[i], d(axes[i].x), d(axes[i].y), d(axes[i].z));
}

}  // namespace torsel
