// What the benchmarks share: a scratch directory that is removed at the end,
// the random generator of the data they write, and the files they write and
// read. Needs none of wren's headers, so the comparison with hand-written
// samplers can use it too.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>
#include <string>
#include <system_error>
#include <unistd.h>

namespace bench {

// ---------------------------------------------------------------------------
// The random generator of the hand-written samplers and of the data: a 64-bit
// counter passed through a mixing function, which is small, fast and good
// enough for simulation.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}

  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  // Uniform on the open interval (0, 1): 53 random bits and a half-step offset.
  double Uniform() { return (static_cast<double>(Next() >> 11) + 0.5) * (1.0 / 9007199254740992.0); }

  // Standard normal by the polar rejection method; the second value of each
  // pair is kept for the next call.
  double Normal() {
    if (haveSpare_) {
      haveSpare_ = false;
      return spare_;
    }
    double u, v, s;
    do {
      u = 2.0 * Uniform() - 1.0;
      v = 2.0 * Uniform() - 1.0;
      s = u * u + v * v;
    } while (s >= 1.0 || s == 0.0);
    const double f = std::sqrt(-2.0 * std::log(s) / s);
    spare_ = v * f;
    haveSpare_ = true;
    return u * f;
  }

  // Gamma with the given shape and rate. Shape at least 1: a cubed-normal
  // proposal with a squeeze; below 1 the draw for shape + 1 is scaled by a
  // uniform power.
  double Gamma(double shape, double rate) {
    if (shape < 1.0) return Gamma(shape + 1.0, rate) * std::pow(Uniform(), 1.0 / shape);
    const double d = shape - 1.0 / 3.0, c = 1.0 / std::sqrt(9.0 * d);
    for (;;) {
      double x, v;
      do {
        x = Normal();
        v = 1.0 + c * x;
      } while (v <= 0.0);
      v = v * v * v;
      const double u = Uniform(), x2 = x * x;
      if (u < 1.0 - 0.0331 * x2 * x2) return d * v / rate;
      if (std::log(u) < 0.5 * x2 + d * (1.0 - v + std::log(v))) return d * v / rate;
    }
  }

  double Bernoulli(double p) { return Uniform() < p ? 1.0 : 0.0; }

  // Poisson count: products of uniforms for small means, a normal
  // approximation rounded to a count for large ones (data only).
  double Poisson(double mean) {
    if (mean > 50.0) return std::max(0.0, std::round(mean + std::sqrt(mean) * Normal()));
    const double limit = std::exp(-mean);
    double p = Uniform();
    int k = 0;
    while (p > limit) {
      p *= Uniform();
      ++k;
    }
    return k;
  }

 private:
  uint64_t state_;
  double spare_ = 0.0;
  bool haveSpare_ = false;
};

inline void WriteText(const std::string& name, const std::string& text) {
  std::ofstream out(name, std::ios::binary);
  out << text;
}

inline std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", v);
  return text;
}

inline std::string Vector(const std::vector<double>& v) {
  std::string s = "c(";
  for (size_t i = 0; i < v.size(); ++i) {
    if (i > 0) s += (i % 10 == 0) ? ",\n" : ", ";
    s += Number(v[i]);
  }
  return s + ")";
}

// A row-major rows x cols array in the file's structure form.
inline std::string Matrix(const std::vector<double>& v, int rows, int cols) {
  return "structure(.Data = " + Vector(v) + ", .Dim = c(" + std::to_string(rows) + ", " + std::to_string(cols) + "))";
}

inline std::string ReadText(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A fresh directory under the system's temporary directory; the working
// directory moves into it while the object lives when enter is true.
class ScratchDirectory {
 public:
  explicit ScratchDirectory(bool enter) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "wren-bench-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) return;
    path_ = tmpl;
    if (enter) {
      old_ = std::filesystem::current_path();
      std::filesystem::current_path(path_);
    }
  }
  ~ScratchDirectory() {
    std::error_code ec;
    if (!old_.empty()) std::filesystem::current_path(old_, ec);
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_, old_;
};

}  // namespace bench
