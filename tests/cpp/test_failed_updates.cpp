// Updates that run out of memory: each one must leave the graph as it was
// and give back the room it had reserved in the lists, so that the
// register holds no more memory than before.  Allocation failure is
// injected: while armed, the k-th allocation through operator new fails,
// for every k until the update goes through.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>
#include <optional>
#include <span>
#include <vector>

#include "measure/measure.hpp"
#include "register/graph_import.hpp"
#include "register/single_qubit.hpp"
#include "register/two_qubit.hpp"
#include "support/failing_allocator.hpp"

namespace ordavine {
namespace {

struct Picture {
  std::vector<std::vector<Qubit>> lists;
  std::vector<Vop> vops;
  bool operator==(const Picture&) const = default;
};

Picture picture(const Register& reg) {
  Picture p;
  for (const Node& node : reg.nodes()) {
    p.lists.push_back(node.neighbors);
    p.vops.push_back(node.vop);
  }
  return p;
}

Register graph(std::size_t n, const std::vector<std::int64_t>& ends) {
  return graph_register<std::int64_t>(n, ends, std::nullopt);
}

// Runs `update` on copies of `reg` with the k-th allocation failing, for
// k = 0, 1, ... until it succeeds; returns how many attempts failed.
int fail_at_every_allocation(const Register& reg, const std::function<void(Register&)>& update) {
  const Picture before = picture(reg);
  for (long k = 0;; ++k) {
    Register copy(reg);
    const std::size_t held = heap_bytes(copy);
    allocations_until_failure = k;
    try {
      update(copy);
    } catch (const std::bad_alloc&) {
      allocations_until_failure = -1;
      EXPECT_EQ(picture(copy), before) << "allocation " << k;
      EXPECT_LE(heap_bytes(copy), held) << "room kept after allocation " << k << " failed";
      continue;
    }
    allocations_until_failure = -1;
    return static_cast<int>(k);
  }
}

// A star: centre 0 and `leaves` leaves, every VOP the identity.
std::vector<std::int64_t> star(std::int64_t leaves) {
  std::vector<std::int64_t> ends;
  for (std::int64_t leaf = 1; leaf <= leaves; ++leaf) ends.insert(ends.end(), {0, leaf});
  return ends;
}

TEST(FailedUpdates, YMeasurementGivesBackTheRoomOfEveryLeaf) {
  // The leaves end as a complete graph: each list is reserved in turn.
  const Register reg = graph(301, star(300));
  EXPECT_GT(fail_at_every_allocation(reg, [](Register& r) { measure_with_outcome(r, 0, Axis::y, 0); }), 100);
  // S on the centre turns an X measurement into the same update.
  Register turned(reg);
  s(turned, 0);
  EXPECT_GT(fail_at_every_allocation(turned, [](Register& r) { measure_with_outcome(r, 0, Axis::x, 0); }),
            100);
}

TEST(FailedUpdates, XMeasurementsGiveBackTheirRoom) {
  // Disjoint neighbourhoods: q = 0 with A = {1, 2..40}, b = 1 with
  // B = {0, 41..80}; every member of B gains all of A.
  std::vector<std::int64_t> disjoint;
  for (std::int64_t a = 1; a <= 40; ++a) disjoint.insert(disjoint.end(), {0, a});
  for (std::int64_t w = 41; w <= 80; ++w) disjoint.insert(disjoint.end(), {1, w});
  EXPECT_GT(fail_at_every_allocation(graph(81, disjoint),
                                     [](Register& r) { measure_with_outcome(r, 0, Axis::x, 1); }),
            10);
  // Shared members: 2..30 are in both, so the toggles are batched.
  std::vector<std::int64_t> shared{0, 1};
  for (std::int64_t a = 2; a <= 30; ++a) shared.insert(shared.end(), {0, a, 1, a});
  for (std::int64_t w = 31; w <= 60; ++w) shared.insert(shared.end(), {1, w});
  EXPECT_GT(fail_at_every_allocation(graph(61, shared),
                                     [](Register& r) { measure_with_outcome(r, 0, Axis::x, 0); }),
            10);
}

TEST(FailedUpdates, AnEdgeBetweenTwoFullListsGivesBackTheFirstRoom) {
  // Qubits 0 and 1 each hold four entries inside their nodes: the edge
  // moves both lists to the heap, and the second move may fail.
  const Register reg = graph(10, {0, 2, 0, 3, 0, 4, 0, 5, 1, 6, 1, 7, 1, 8, 1, 9});
  EXPECT_GE(fail_at_every_allocation(reg, [](Register& r) { cz(r, 0, 1); }), 2);
}

}  // namespace
}  // namespace ordavine
