#include "sampling/Maximize.h"

#include <utility>

namespace {

constexpr double golden = 1.618034;       // expansion factor of the bracketing steps
constexpr double section = 0.61803399;    // golden-section fraction

}  // namespace

void Maximize_BraketMode(double& a, double& b, double& c, double& fa, double& fb, double& fc,
                         Maximize_Function f, int32_t& count) {
  while (count > 0 && !(fb >= fa && fb >= fc)) {
    if (fc > fb) {  // still rising to the right
      const double x = c + (c - b) * golden;
      const double fx = f(x);
      a = b, fa = fb;
      b = c, fb = fc;
      c = x, fc = fx;
    } else {  // rising to the left
      const double x = a - (b - a) * golden;
      const double fx = f(x);
      c = b, fc = fb;
      b = a, fb = fa;
      a = x, fa = fx;
    }
    --count;
  }
}

void Maximize_LocateMode(double& a, double& b, double& c, double& fa, double& fb, double& fc, double tol,
                         Maximize_Function f, int32_t& count) {
  if (c < a) {
    std::swap(a, c);
    std::swap(fa, fc);
  }
  while (count > 0) {
    if (fb - fa < tol && fb - fc < tol) return;
    // The new point goes into the longer part, between b and that part's
    // end (near); the end of the other part is far.
    const bool left = c - b < b - a;
    double &near = left ? a : c, &fNear = left ? fa : fc;
    double &far = left ? c : a, &fFar = left ? fc : fa;
    const double x = b + (near - b) * section;
    const double fx = f(x);
    if (fx < fb) {
      near = x, fNear = fx;
    } else {
      far = b, fFar = fb;
      b = x, fb = fx;
    }
    --count;
  }
}
