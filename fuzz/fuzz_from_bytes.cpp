// Coverage-guided fuzzing of loading a saved register from untrusted bytes.
//
// Every input is either refused with InvalidInput (and a message that says
// it is about a saved state), or loaded into a register that keeps every
// graph invariant (symmetric adjacency, no self-loops, no repeated entries,
// indices in range, VOPs below 24) and saves back to exactly the input
// bytes, since the saved form of a register is unique.  Anything else (a
// Failure, another exception, a sanitizer report) aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>
#include <vector>

#include "register/register.hpp"
#include "register/serialise.hpp"

namespace {

[[noreturn]] void check_failed(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

void check_register(const ordavine::Register& reg, std::span<const std::uint8_t> input) {
  std::vector<std::size_t> stamp(reg.size(), reg.size());
  for (ordavine::Qubit a = 0; a < reg.size(); ++a) {
    if (reg[a].vop >= 24) check_failed("VOP out of range");
    for (const ordavine::Qubit b : reg[a].neighbors) {
      if (b >= reg.size()) check_failed("neighbour index out of range");
      if (b == a) check_failed("self loop");
      if (stamp[b] == a) check_failed("repeated neighbour");
      stamp[b] = a;
      if (!ordavine::has_edge(reg, b, a)) check_failed("one-sided edge");
    }
  }
  std::vector<std::uint8_t> saved(ordavine::saved_size(reg));
  ordavine::save_register(reg, saved);
  if (saved.size() != input.size() || !std::equal(saved.begin(), saved.end(), input.begin())) {
    check_failed("an accepted input does not save back to itself");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  try {
    const ordavine::Register reg = ordavine::load_register(input);
    check_register(reg, input);
  } catch (const ordavine::InvalidInput& invalid) {
    if (std::string_view(invalid.what()).rfind("invalid saved state: ", 0) != 0) {
      check_failed("refusal without the saved-state prefix");
    }
  } catch (...) {
    check_failed("loading threw something other than InvalidInput");
  }
  return 0;
}
