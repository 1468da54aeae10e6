#include "random/threshold.hpp"

#include <cmath>

namespace ordavine {

Threshold threshold_of(double p) {
  const double scaled = std::nearbyint(p * 4294967296.0);
  if (!(scaled > 0.0)) return 0;
  return scaled >= 4294967296.0 ? kAlways : static_cast<Threshold>(scaled);
}

}  // namespace ordavine
