// A curve's four bytes fitted to what a stretch must show: at each frame
// between its two keyframes a window its progress must lie in, the frame
// then playing within the bound. A curve is judged as both players read it:
// solved precisely (MMD, and Torsel's own player) and by halving
// (babylon-mmd), and holds only where both readings keep every window.
#pragma once

#include <vector>

#include "format/key_block.h"

namespace torsel::thin {

/// At time x (0 < x < 1) of the stretch the progress lies within [lo, hi].
struct Window {
  double x, lo, hi;
};

/// The curves MMD's editor writes for a straight progress.
inline constexpr Curve kStraight = {20, 20, 107, 107};

/// How far babylon-mmd's reading of a curve can stray from the precise
/// one, in progress (infinity where time is flat somewhere on the curve).
double halvingSlack(Curve c);

/// Whether the straight curve keeps every window, in both readings (with
/// room for the halving's reading: a window narrower than that takes none).
bool holdsStraight(const std::vector<Window>& w);

/// What a fit found: a curve that keeps every window, or the first window
/// its best try left (the stretch cannot end later than the frame there).
struct Fitted {
  bool ok = false;
  Curve curve = kStraight;
  size_t firstStray = 0;
};

/// Fits bytes 0 to 127: least squares over a few windows' middles (each
/// weighed by its width), then nearby bytes until both readings keep those
/// windows; then all of them are judged, and any the curve leaves joins
/// the few, and so on. Time is kept off flat at its ends, where the
/// readings part most. Holds its working room from call to call.
class ProgressFitter {
 public:
  Fitted fit(const std::vector<Window>& w);

 private:
  size_t seed(const std::vector<Window>& w);
  void descend(double* p, int rounds);
  Curve nearestBytes(const double* p, double* worst);
  struct Sample {
    size_t window;
    double x, s, weight, t;
    double width;        // 1 / sqrt(weight), worked out once
    bool close = false;  // near enough an edge that the halving's reading may leave the window
  };
  static Sample sampleOf(size_t k, const Window& w, double t);
  double solve(const double* p, double* h, double* g);
  // How far c strays from the sampled windows, in widths (0: it keeps them);
  // once it is no better than cap, that much.
  double strayOf(Curve c, double cap);
  // Whether c keeps every window; else the first it leaves (and a few more joined).
  bool keepsAll(Curve c, const std::vector<Window>& w, size_t* first);
  size_t firstLeft(Curve c, double worst, size_t none) const;

  std::vector<Sample> samples_;
  std::vector<double> t_;
  double inside_ = 0;  // the largest (residual / width)^2 of the samples at the last solve
};

}  // namespace torsel::thin
