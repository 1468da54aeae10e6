// NeighbourList against std::vector as the model: the same entries in the
// same order after every operation, whether the list is inside the node or
// on the heap with room in front.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "register/neighbour_list.hpp"
#include "register/register.hpp"

namespace ordavine {
namespace {

void expect_matches(const NeighbourList& list, const std::vector<Qubit>& model, int step) {
  ASSERT_EQ(list.size(), model.size()) << "step " << step;
  ASSERT_EQ(list.empty(), model.empty()) << "step " << step;
  for (std::size_t i = 0; i < model.size(); ++i) ASSERT_EQ(list[i], model[i]) << "step " << step;
  ASSERT_TRUE(list == model);
  ASSERT_LE(list.size(), list.capacity());
}

TEST(NeighbourList, RandomEditsMatchAVector) {
  std::mt19937 rng(5);
  for (int round = 0; round < 20; ++round) {
    NeighbourList list;
    std::vector<Qubit> model;
    // Rounds alternate between lists that stay short (inside the node) and
    // lists that grow long, where erasing near the front leaves room there.
    const int grow_bias = round % 2 == 0 ? 45 : 70;
    std::uniform_int_distribution<int> kind(0, 99);
    for (int step = 0; step < 3000; ++step) {
      const int k = kind(rng);
      if (k < grow_bias || model.empty()) {
        const auto value = static_cast<Qubit>(rng() % 100000);
        list.push_back(static_cast<NeighbourList::value_type>(value));
        model.push_back(value);
      } else if (k < 90) {
        const std::size_t at = rng() % model.size();
        const auto next = list.erase(list.begin() + at);
        model.erase(model.begin() + static_cast<std::ptrdiff_t>(at));
        ASSERT_EQ(next - list.begin(), static_cast<std::ptrdiff_t>(at));
      } else if (k < 94) {
        const std::size_t count = rng() % (model.size() + 1);
        list.drop_front(count);
        model.erase(model.begin(), model.begin() + static_cast<std::ptrdiff_t>(count));
      } else if (k < 97) {
        // Room reserved is room had: the pushes it covers never move the list.
        const std::size_t needed = model.size() + rng() % 40;
        reserve_room(list, needed);
        const auto* before = list.data();
        while (model.size() < needed) {
          list.push_back(7);
          model.push_back(7);
        }
        ASSERT_EQ(list.data(), before) << "step " << step;
      } else {
        const NeighbourList copy = list;
        expect_matches(copy, model, step);
        NeighbourList moved(std::move(list));
        list = moved;
      }
      expect_matches(list, model, step);
    }
    clear_list(list);
    EXPECT_TRUE(list.empty());
  }
}

TEST(NeighbourList, ShortListsStayInsideTheNode) {
  NeighbourList list{3, 1, 2, 9};
  const auto* inside = list.data();
  EXPECT_GE(inside, reinterpret_cast<const NeighbourList::value_type*>(&list));
  EXPECT_LT(inside, reinterpret_cast<const NeighbourList::value_type*>(&list + 1));
  list.push_back(4);  // the fifth entry moves the list to the heap
  EXPECT_TRUE(list == (std::vector<Qubit>{3, 1, 2, 9, 4}));
  EXPECT_NE(list.data(), inside);
  list.erase(list.begin() + 1);
  list.settle();  // four again: back inside, in order
  EXPECT_EQ(list.data(), inside);
  EXPECT_TRUE(list == (std::vector<Qubit>{3, 2, 9, 4}));
  EXPECT_EQ(sizeof(Node), 32u);
}

}  // namespace
}  // namespace ordavine
