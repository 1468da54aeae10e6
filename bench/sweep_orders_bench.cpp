// The measurement orders of bench/sweeps.py on the core, without the
// interpreter, for profiling and for before/after comparisons: an L x L
// cluster (h on all, cz along rows and columns), then measure_x on every
// qubit in one order (tailored, rows, columns, diagonal, interleaved).
//
// Usage: sweep_orders_bench ORDER SIDE [REPETITIONS]
// Prints the median time of the whole run and of its measurements alone;
// the pairs the measurements toggle as the plain updates do, one by one
// (an effective X measurement every pair of its two neighbourhoods and b
// with the rest of A, a Y one every pair of its neighbourhood and each
// edge to the qubit) and the edges the effective Z measurements cut; the
// measurements' nanoseconds per toggled pair (all of their time over the
// toggled pairs, cuts not counted: they are the cheap part); and three
// fingerprints of what the run left: the outcomes, the whole register
// halfway through, and the register at the end.  The words come from a
// fixed xorshift stream, so two builds that agree on every list, VOP and
// draw print the same fingerprints.  Pairs and cuts are counted in one
// more run, untimed.
//
// Build with the other benchmark (bench/CMakeLists.txt), or for perf, from
// the repository root, as one line:
//   g++ -std=c++20 -O2 -g -fno-omit-frame-pointer -Isrc bench/sweep_orders_bench.cpp
//       src/register/*.cpp src/measure/*.cpp -o sweep_orders_bench
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "clifford/tables.hpp"
#include "measure/measure.hpp"
#include "register/register.hpp"
#include "register/single_qubit.hpp"
#include "register/two_qubit.hpp"

namespace {

using namespace ordavine;

class XorShift final : public RandomSource {
 public:
  std::uint32_t next_word() override {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<std::uint32_t>(state_ >> 32);
  }

 private:
  std::uint64_t state_ = 0x9E3779B97F4A7C15ull;
};

std::uint64_t mix(std::uint64_t h, std::uint64_t v) {
  return h ^ (v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2));
}

std::uint64_t fingerprint(const Register& reg) {
  std::uint64_t h = 1;
  for (Qubit q = 0; q < reg.size(); ++q) {
    h = mix(h, reg[q].vop);
    for (const Qubit e : reg[q].neighbors) h = mix(h, e);
    h = mix(h, ~std::uint64_t{0});
  }
  return h;
}

struct Work {
  std::uint64_t toggled_pairs = 0;
  std::uint64_t cut_edges = 0;
};

// What the plain update of measuring q on X does, read from the register
// before the measurement.
Work work_of_x_measurement(const Register& reg, Qubit q, std::vector<char>& in_b) {
  const NeighbourList& a = reg[q].neighbors;
  const std::uint64_t d = a.size();
  switch (conj_axis(ADJOINT_TABLE[reg[q].vop], Axis::x)) {
    case Axis::z: return {0, d};
    case Axis::y: return {d * (d - 1) / 2 + d, 0};
    default: {
      if (d == 0) return {};
      const NeighbourList& b = reg[a.front()].neighbors;
      for (const Qubit w : b) in_b[w] = 1;
      std::uint64_t common = 0;
      for (const Qubit v : a) common += in_b[v];
      for (const Qubit w : b) in_b[w] = 0;
      // Pairs of A and B (a pair inside both once), the pairs of the common
      // part, and b with the rest of A.
      const std::uint64_t cross = d * b.size() - common - common * (common - 1) / 2;
      return {cross + common * (common - 1) / 2 + (d - 1), 0};
    }
  }
}

struct Run {
  double seconds;
  double measuring;  // the measurements alone
  Work work;
  std::uint64_t outcomes, halfway, end;
};

Run sweep(const std::string& order, std::size_t side, bool count_work) {
  using Clock = std::chrono::steady_clock;
  const std::size_t n = side * side;
  Register reg(n);
  XorShift words;
  Run run{0, 0, {}, 1, 0, 0};
  std::vector<char> in_b(count_work ? n : 0);
  std::size_t done = 0;
  // The measurements come in runs (a row of the interleaved order, the
  // whole sweep otherwise), each timed as one.
  Clock::time_point run_start;
  const auto start_measuring = [&] { run_start = Clock::now(); };
  const auto stop_measuring = [&] {
    run.measuring += std::chrono::duration<double>(Clock::now() - run_start).count();
  };
  const auto mx = [&](Qubit q) {
    if (count_work) {
      const Work work = work_of_x_measurement(reg, q, in_b);
      run.work.toggled_pairs += work.toggled_pairs;
      run.work.cut_edges += work.cut_edges;
    }
    const Measurement m = measure(reg, q, Axis::x, words);
    run.outcomes = mix(run.outcomes, m.result * 2u + (m.determined ? 1u : 0u));
    if (++done == n / 2) run.halfway = fingerprint(reg);
  };
  const auto build_row = [&](std::size_t r) {
    const std::size_t base = r * side;
    for (Qubit q = base; q < base + side; ++q) h(reg, q);
    for (Qubit q = base; q + 1 < base + side; ++q) cz(reg, q, q + 1);
    if (r > 0) {
      for (Qubit q = base - side; q < base; ++q) cz(reg, q, q + side);
    }
  };
  const auto start = Clock::now();
  if (order == "interleaved") {
    build_row(0);
    for (std::size_t r = 0; r < side; ++r) {
      if (r + 1 < side) build_row(r + 1);
      start_measuring();
      for (Qubit q = r * side; q < (r + 1) * side; ++q) mx(q);
      stop_measuring();
    }
  } else {
    for (Qubit q = 0; q < n; ++q) h(reg, q);
    for (std::size_t base = 0; base < n; base += side) {
      for (Qubit q = base; q + 1 < base + side; ++q) cz(reg, q, q + 1);
    }
    for (Qubit q = 0; q + side < n; ++q) cz(reg, q, q + side);
    std::vector<Qubit> qubits;
    if (order == "rows") {
      for (Qubit q = 0; q < n; ++q) qubits.push_back(q);
    } else if (order == "columns") {
      for (std::size_t c = 0; c < side; ++c) {
        for (std::size_t r = 0; r < side; ++r) qubits.push_back(r * side + c);
      }
    } else {  // anti-diagonals, the base of the tailored order too
      for (std::size_t d = 0; d + 1 < 2 * side; ++d) {
        for (std::size_t r = d < side ? 0 : d - side + 1; r <= std::min(d, side - 1); ++r) {
          qubits.push_back(r * side + d - r);
        }
      }
    }
    start_measuring();
    if (order == "tailored") {  // each qubit followed by its first neighbour
      std::vector<char> measured(n);
      for (const Qubit q : qubits) {
        if (measured[q]) continue;
        const bool joined = !reg[q].neighbors.empty();
        const Qubit b = joined ? reg[q].neighbors.front() : 0;
        mx(q);
        measured[q] = 1;
        if (joined) {
          mx(b);
          measured[b] = 1;
        }
      }
    } else {
      for (const Qubit q : qubits) mx(q);
    }
    stop_measuring();
  }
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.end = fingerprint(reg);
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  static const std::vector<std::string> kOrders{"tailored", "rows", "columns", "diagonal", "interleaved"};
  if (argc < 3 || std::find(kOrders.begin(), kOrders.end(), argv[1]) == kOrders.end()) {
    std::fprintf(stderr, "usage: %s tailored|rows|columns|diagonal|interleaved SIDE [REPS]\n", argv[0]);
    return 2;
  }
  const std::string order = argv[1];
  const std::size_t side = std::strtoull(argv[2], nullptr, 10);
  const int repetitions = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1;
  std::vector<double> times, measuring;
  Run run{};
  for (int i = 0; i < repetitions; ++i) {
    run = sweep(order, side, false);
    times.push_back(run.seconds);
    measuring.push_back(run.measuring);
  }
  const Work work = sweep(order, side, true).work;
  std::sort(times.begin(), times.end());
  std::sort(measuring.begin(), measuring.end());
  const double measuring_median = measuring[measuring.size() / 2];
  std::printf(
      "%s L=%zu median %.3f s of %d, measuring %.3f s, toggled pairs %llu, cut edges %llu,"
      " %.1f ns per toggled pair  outcomes %016llx  halfway %016llx  end %016llx\n",
      order.c_str(), side, times[times.size() / 2], repetitions, measuring_median,
      static_cast<unsigned long long>(work.toggled_pairs), static_cast<unsigned long long>(work.cut_edges),
      work.toggled_pairs == 0 ? 0.0 : 1e9 * measuring_median / static_cast<double>(work.toggled_pairs),
      static_cast<unsigned long long>(run.outcomes), static_cast<unsigned long long>(run.halfway),
      static_cast<unsigned long long>(run.end));
  return 0;
}
