// Reading and running circuit text, without the interpreter: for the 1D
// cluster of n qubits (H on all, the CZ chain, MX on all), each line is
// read alone (read_circuit) and run alone (run_program, on the register
// the lines before it left), and the time is given in ns per target (per
// pair for CZ).  Medians of --reps repetitions, in the thread's CPU time
// where the system offers it (the machine may be shared), else wall time.
//
// Build from the repository root, for example:
//   g++ -std=c++20 -O2 -Isrc bench/reader_bench.cpp src/register/*.cpp
//     src/measure/*.cpp src/circuit/*.cpp -o build/reader_bench
//   build/reader_bench [--sizes 10000,1000000] [--reps 11]
// Prints a Markdown table on standard output.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "circuit/reader.hpp"
#include "circuit/runner.hpp"
#include "random/seeded_stream.hpp"
#include "register/register.hpp"

namespace {

using namespace ordavine;

// Nanoseconds of this thread's CPU time (or of wall time).
double now_ns() {
#ifdef CLOCK_THREAD_CPUTIME_ID
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
#else
  return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
#endif
}
using namespace ordavine::circuit;

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

struct Line {
  const char* label;
  std::string text;
  std::size_t count;  // targets, or pairs for CZ
};

std::vector<Line> cluster_lines(std::size_t n) {
  std::string everything, chain;
  for (std::size_t q = 0; q < n; ++q) everything += (q ? " " : "") + std::to_string(q);
  for (std::size_t q = 0; q + 1 < n; ++q) {
    chain += (q ? " " : "") + std::to_string(q) + " " + std::to_string(q + 1);
  }
  return {{"H", "H " + everything + "\n", n},
          {"CZ (per pair)", "CZ " + chain + "\n", n - 1},
          {"MX", "MX " + everything + "\n", n}};
}

void bench_size(std::size_t n, int reps) {
  const std::vector<Line> lines = cluster_lines(n);
  const ChaChaKey key = key_from_seed(std::vector<std::uint8_t>{1});
  std::vector<std::vector<double>> read(lines.size()), run(lines.size());
  for (int r = 0; r < reps; ++r) {
    Register reg(n);
    SeededStream stream(key, 0);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const double t0 = now_ns();
      const Program program = read_circuit(lines[i].text);
      const double t1 = now_ns();
      std::vector<std::uint8_t> record(program.measurement_count);
      check_fits(program, reg);
      const double t2 = now_ns();
      run_program(program, reg, stream, {record});
      const double t3 = now_ns();
      read[i].push_back((t1 - t0) / static_cast<double>(lines[i].count));
      run[i].push_back((t3 - t2) / static_cast<double>(lines[i].count));
    }
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::printf("| %zu | %s | %.2f | %.2f | %.1f |\n", n, lines[i].label, median(read[i]), median(run[i]),
                lines[i].text.size() / (median(read[i]) * lines[i].count) * 1e3);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::size_t> sizes = {10000, 1000000};
  int reps = 11;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--reps") == 0) {
      reps = std::atoi(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--sizes") == 0) {
      sizes.clear();
      for (const char* s = argv[i + 1]; *s;) {
        char* next = nullptr;
        sizes.push_back(std::strtoull(s, &next, 10));
        s = *next == ',' ? next + 1 : next;
      }
    } else {
      std::fprintf(stderr, "usage: %s [--sizes N,N,...] [--reps R]\n", argv[0]);
      return 2;
    }
  }
  std::printf("| n | line | read ns/target | run ns/target | read MB/s |\n|---|---|---|---|---|\n");
  for (const std::size_t n : sizes) bench_size(n, std::max(reps, 1));
}
