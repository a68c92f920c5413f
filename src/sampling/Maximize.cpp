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
    if (c - b < b - a) {  // the left part is the longer
      const double x = b - (b - a) * section;
      const double fx = f(x);
      if (fx < fb) {
        a = x, fa = fx;
      } else {
        c = b, fc = fb;
        b = x, fb = fx;
      }
    } else {
      const double x = b + (c - b) * section;
      const double fx = f(x);
      if (fx < fb) {
        c = x, fc = fx;
      } else {
        a = b, fa = fb;
        b = x, fb = fx;
      }
    }
    --count;
  }
}
