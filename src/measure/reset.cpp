#include "measure/reset.hpp"

#include "measure/measure.hpp"

namespace ordavine {

void reset(Register& reg, Qubit q, Axis axis, RandomSource& random) {
  correct_to_plus(reg, q, axis, measure(reg, q, axis, random).result);
}

}  // namespace ordavine
