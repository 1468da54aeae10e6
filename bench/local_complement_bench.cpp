// Micro-benchmark of the core, without the interpreter:
//   1. local complementation about a vertex of degree d (1000 by default)
//      whose neighbours are joined among themselves at random with density p:
//      toggled pairs per second, d(d-1)/2 pairs per complementation;
//   2. a GHZ state built with h(0) and cx(0, i): time per size, doubling n.
// Both run on the core's functions and, when the tests' plain reference
// algorithms are available (tests/cpp/support/plain_algorithms.hpp), on
// those too, side by side.
//
// Usage: local_complement_bench [--degree D] [--densities p,p,...]
//                               [--min-time SECONDS] [--ghz-max N]
//                               [--budget SECONDS] [--seed S]
// Prints Markdown tables on standard output.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "register/local_complement.hpp"
#include "register/register.hpp"
#include "register/single_qubit.hpp"
#include "register/two_qubit.hpp"

#if __has_include("support/plain_algorithms.hpp")
#include "support/plain_algorithms.hpp"
#define ORDAVINE_BENCH_PLAIN 1
#else
#define ORDAVINE_BENCH_PLAIN 0
#endif

namespace {

using Clock = std::chrono::steady_clock;
using ordavine::Qubit;
using ordavine::Register;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Options {
  std::size_t degree = 1000;
  std::vector<double> densities = {0.0, 0.1, 0.5};
  double min_time = 1.0;
  std::size_t ghz_max = 128000;
  double budget = 20.0;
  unsigned seed = 12345;
};

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (value == nullptr) {
      std::fprintf(stderr, "missing value for %s\n", arg.c_str());
      std::exit(2);
    }
    if (arg == "--degree") {
      o.degree = std::strtoull(value, nullptr, 10);
    } else if (arg == "--densities") {
      o.densities.clear();
      std::string list = value;
      std::size_t pos = 0;
      while (pos <= list.size()) {
        const std::size_t comma = std::min(list.find(',', pos), list.size());
        o.densities.push_back(std::strtod(list.substr(pos, comma - pos).c_str(), nullptr));
        pos = comma + 1;
      }
    } else if (arg == "--min-time") {
      o.min_time = std::strtod(value, nullptr);
    } else if (arg == "--ghz-max") {
      o.ghz_max = std::strtoull(value, nullptr, 10);
    } else if (arg == "--budget") {
      o.budget = std::strtod(value, nullptr);
    } else if (arg == "--seed") {
      o.seed = static_cast<unsigned>(std::strtoul(value, nullptr, 10));
    } else {
      std::fprintf(stderr, "unknown option %s\n", arg.c_str());
      std::exit(2);
    }
    ++i;
  }
  return o;
}

// Vertex 0 joined to 1..d in a random list order; every pair of those joined
// with probability p, the edges added in a random order so that list orders
// are random too.
Register neighbourhood_graph(std::size_t d, double p, std::mt19937_64& rng) {
  Register reg(d + 1);
  std::vector<Qubit> around(d);
  for (std::size_t i = 0; i < d; ++i) around[i] = i + 1;
  std::shuffle(around.begin(), around.end(), rng);
  for (Qubit q : around) ordavine::add_edge(reg, 0, q);
  std::bernoulli_distribution coin(p);
  std::vector<std::pair<Qubit, Qubit>> edges;
  for (Qubit a = 1; a <= d; ++a) {
    for (Qubit b = a + 1; b <= d; ++b) {
      if (coin(rng)) edges.emplace_back(a, b);
    }
  }
  std::shuffle(edges.begin(), edges.end(), rng);
  for (auto [a, b] : edges) ordavine::add_edge(reg, a, b);
  return reg;
}

struct Rate {
  double seconds_per_call;  // median
  double pairs_per_second;
  std::size_t calls;
};

// Complementing twice about the same vertex restores the edge set (not the
// list order), so calls are timed in pairs and the density stays p and 1-p
// alternately; the median is taken over pairs.
Rate time_complementation(Register& reg, const std::function<void(Register&, Qubit)>& lc, double min_time) {
  const std::size_t d = reg[0].neighbors.size();
  const double pairs = static_cast<double>(d) * static_cast<double>(d - 1) / 2.0;
  std::vector<double> per_call;
  const auto start = Clock::now();
  while (per_call.size() < 3 || seconds_since(start) < min_time) {
    const auto t = Clock::now();
    lc(reg, 0);
    lc(reg, 0);
    per_call.push_back(seconds_since(t) / 2.0);
    if (per_call.size() >= 1000) break;
  }
  std::sort(per_call.begin(), per_call.end());
  const double median = per_call[per_call.size() / 2];
  return {median, pairs / median, 2 * per_call.size()};
}

void bench_local_complement(const Options& o) {
  std::printf("## Local complementation about a vertex of degree %zu\n\n", o.degree);
  std::printf(
      "Neighbours joined among themselves with density p (alternating with 1-p, "
      "since calls are timed in pairs); %zu toggled pairs per call. Median over "
      "pairs of calls, at least %.1f s per row.\n\n",
      o.degree * (o.degree - 1) / 2, o.min_time);
  std::printf("| algorithm | p | time per call | toggled pairs per second | calls |\n");
  std::printf("|---|---:|---:|---:|---:|\n");
  for (double p : o.densities) {
    struct Variant {
      const char* name;
      std::function<void(Register&, Qubit)> lc;
    };
    std::vector<Variant> variants = {
        {"core `local_complement`", [](Register& r, Qubit w) { ordavine::local_complement(r, w); }},
    };
#if ORDAVINE_BENCH_PLAIN
    variants.push_back(
        {"plain reference", [](Register& r, Qubit w) { ordavine::plain::local_complement(r, w); }});
#endif
    for (const auto& v : variants) {
      std::mt19937_64 rng(o.seed);
      Register reg = neighbourhood_graph(o.degree, p, rng);
      const Rate rate = time_complementation(reg, v.lc, o.min_time);
      std::printf("| %s | %.2f | %.3g ms | %.3g | %zu |\n", v.name, p, rate.seconds_per_call * 1e3,
                  rate.pairs_per_second, rate.calls);
      std::fflush(stdout);
    }
  }
  std::printf("\n");
}

// h(0), then cx(0, i) for i = 1..n-1.  Returns the seconds taken, or a
// negative number when the budget ran out (then `done` says how far).
template <typename Cx>
double ghz(std::size_t n, double budget, Cx cx, std::size_t& done) {
  Register reg(n);
  const auto start = Clock::now();
  ordavine::h(reg, 0);
  for (Qubit i = 1; i < n; ++i) {
    cx(reg, 0, i);
    if ((i & 15) == 0 && seconds_since(start) > budget) {
      done = i;
      return -1.0;
    }
  }
  done = n - 1;
  return seconds_since(start);
}

void bench_ghz(const Options& o) {
  std::printf("## GHZ state: h(0), then cx(0, i)\n\n");
  std::printf("One run per size; a run over %.0f s is stopped and larger sizes skipped.\n\n", o.budget);
  std::printf("| algorithm | qubits | time | time / previous (n doubled) |\n");
  std::printf("|---|---:|---:|---:|\n");
  struct Variant {
    const char* name;
    std::function<void(Register&, Qubit, Qubit)> cx;
  };
  std::vector<Variant> variants = {
      {"core `cx`", [](Register& r, Qubit c, Qubit t) { ordavine::cx(r, c, t); }},
  };
#if ORDAVINE_BENCH_PLAIN
  variants.push_back({"plain reference", [](Register& r, Qubit c, Qubit t) {
                        ordavine::apply_to_vop(r[t], ordavine::vop::hadamard);
                        ordavine::plain::cz(r, c, t);
                        ordavine::apply_to_vop(r[t], ordavine::vop::hadamard);
                      }});
#endif
  for (const auto& v : variants) {
    double previous = 0.0;
    for (std::size_t n = 125; n <= o.ghz_max; n *= 2) {
      std::size_t done = 0;
      const double t = ghz(n, o.budget, v.cx, done);
      if (t < 0) {
        std::printf("| %s | %zu | stopped at budget (> %.0f s, %zu of %zu cx) | |\n", v.name, n, o.budget,
                    done, n - 1);
        std::fflush(stdout);
        break;
      }
      if (previous > 0) {
        std::printf("| %s | %zu | %.3g s | %.2f× |\n", v.name, n, t, t / previous);
      } else {
        std::printf("| %s | %zu | %.3g s | |\n", v.name, n, t);
      }
      std::fflush(stdout);
      previous = t;
    }
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  bench_local_complement(o);
  bench_ghz(o);
  return 0;
}
