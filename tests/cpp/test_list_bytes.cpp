// The count of list-block bytes against a walk of the register: whatever
// gates, measurements, copies and removals do to the lists, the change a
// window sees is the change in the blocks the lists hold.
#include <gtest/gtest.h>

#include <optional>
#include <random>

#include "measure/measure.hpp"
#include "register/list_bytes.hpp"
#include "register/local_complement.hpp"
#include "support/random_gates.hpp"

namespace ordavine {
namespace {

std::ptrdiff_t list_bytes(const Register& reg) {
  return static_cast<std::ptrdiff_t>(heap_bytes(reg) - reg.nodes().capacity() * sizeof(Node));
}

TEST(ListBytes, AWindowSeesWhatTheListsHoldChange) {
  std::mt19937 gen(8080);
  for (int trial = 0; trial < 40; ++trial) {
    const std::size_t n = 2 + gen() % 60;
    std::ptrdiff_t counted = 0;
    std::optional<Register> reg;
    {
      const ListBytesWindow window;
      reg.emplace(n);
      counted = window.change();
    }
    for (int step = 0; step < 400; ++step) {
      const ListBytesWindow window;
      const std::uint32_t pick = gen() % 16;
      const Qubit q = gen() % n;
      if (pick < 10) {
        test_gates::random_gate(*reg, gen);
      } else if (pick < 14) {
        measure_with_outcome(*reg, q, static_cast<Axis>(gen() % 3), gen() % 2);
      } else if (pick == 14) {
        local_complement(*reg, q);
      } else {
        reg->add_qubits(1);  // more room for the nodes, not for the lists
        measure_with_outcome(*reg, q, Axis::y, 0);
      }
      counted += window.change();
      ASSERT_EQ(counted, list_bytes(*reg)) << "trial " << trial << " step " << step;
    }
    // A copy's lists are its own; dropping the register gives all back.
    const ListBytesWindow window;
    {
      const Register copy(*reg);
      EXPECT_EQ(window.change(), list_bytes(copy));
    }
    reg.reset();
    EXPECT_EQ(window.change(), -counted);
  }
  // A window sets the count back when it closes: nested windows see only
  // their own changes.
  const ListBytesWindow outer;
  Register big(10);
  for (Qubit q = 0; q < 10; ++q) h(big, q);
  for (Qubit leaf = 1; leaf < 10; ++leaf) cz(big, 0, leaf);  // a star: the centre's list on the heap
  {
    const ListBytesWindow inner;
    Register other(big);
    EXPECT_GT(inner.change(), 0);
  }
  EXPECT_EQ(outer.change(), list_bytes(big));
}

}  // namespace
}  // namespace ordavine
