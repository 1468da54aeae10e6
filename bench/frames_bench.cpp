// The frame sampler on the core, without the interpreter: where the time of
// `sample` / `sample_detectors` goes, and what each vector width and batch
// width costs.  For a circuit file it times, as medians of --reps runs:
//   - reading the text (read_circuit);
//   - the reference run on a register (run_reference), which `sample` needs;
//   - the frames: run_shots over all shots at every vector width this
//     machine has, the reference already made (rows written as `sample`
//     or `sample_detectors` would, unpacked or --packed).
//
// Build from the repository root:
//   cmake -S bench -B build/bench -DCMAKE_BUILD_TYPE=Release && cmake --build build/bench
//   build/bench/frames_bench circuit.stim --shots 10000 [--detectors] [--packed]
//                            [--batch BLOCKS] [--reps 5] [--width portable|avx2|avx512]
// Prints one line per measurement.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "circuit/reader.hpp"
#include "circuit/runner.hpp"
#include "frames/frame_sampler.hpp"
#include "register/register.hpp"

namespace {

using namespace ordavine;

template <class F>
double median_seconds(int reps, F&& f) {
  std::vector<double> times;
  for (int r = 0; r < reps; ++r) {
    const auto start = std::chrono::steady_clock::now();
    f();
    times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

const char* width_name(frames::VectorWidth w) {
  switch (w) {
    case frames::VectorWidth::portable: return "portable";
    case frames::VectorWidth::avx2: return "avx2";
    case frames::VectorWidth::avx512: return "avx512";
  }
  return "?";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: %s circuit-file [--shots N] [--detectors] [--packed] [--batch B] [--reps R] [--width NAME]\n",
                 argv[0]);
    return 2;
  }
  std::uint64_t shots = 10000;
  bool detectors = false, packed = false;
  std::size_t batch = 0;
  int reps = 5;
  std::string only_width;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--shots" && i + 1 < argc)
      shots = std::strtoull(argv[++i], nullptr, 10);
    else if (a == "--detectors")
      detectors = true;
    else if (a == "--packed")
      packed = true;
    else if (a == "--batch" && i + 1 < argc)
      batch = std::strtoull(argv[++i], nullptr, 10);
    else if (a == "--reps" && i + 1 < argc)
      reps = std::atoi(argv[++i]);
    else if (a == "--width" && i + 1 < argc)
      only_width = argv[++i];
  }
  std::ifstream file(argv[1]);
  std::stringstream buffer;
  buffer << file.rdbuf();
  const std::string text = buffer.str();

  circuit::Program program;
  const double read = median_seconds(reps, [&] { program = circuit::read_circuit(text); });
  std::printf("circuit: %llu qubits, %llu measurements, %llu detectors; read %.6f s\n",
              static_cast<unsigned long long>(program.qubit_count),
              static_cast<unsigned long long>(program.measurement_count),
              static_cast<unsigned long long>(program.detector_count), read);
  if (!detectors) {
    const double reference = median_seconds(reps, [&] {
      Register reg(program.qubit_count);
      std::vector<std::uint8_t> record(program.measurement_count);
      circuit::run_reference(program, reg, {record});
    });
    std::printf("reference run: %.6f s\n", reference);
  }
  for (const auto width :
       {frames::VectorWidth::portable, frames::VectorWidth::avx2, frames::VectorWidth::avx512}) {
    if (!frames::width_supported(width)) continue;
    if (!only_width.empty() && only_width != width_name(width)) continue;
    frames::FrameSampler sampler(program, detectors, packed, {width, batch});
    std::vector<std::uint8_t> m(shots * sampler.measurement_row_bytes()),
        d(shots * sampler.detector_row_bytes()), o(shots * sampler.observable_row_bytes());
    sampler.run_shots(ChaChaKey{1}, 0, 1,
                      {std::span(m).first(sampler.measurement_row_bytes()),
                       std::span(d).first(sampler.detector_row_bytes()),
                       std::span(o).first(sampler.observable_row_bytes())});  // makes the reference
    const double seconds = median_seconds(reps, [&] {
      sampler.run_shots(ChaChaKey{1}, 0, shots, {m, d, o});
    });
    std::printf("frames (%s): %.6f s for %llu shots, %.0f shots/s\n", width_name(width), seconds,
                static_cast<unsigned long long>(shots), static_cast<double>(shots) / seconds);
  }
  return 0;
}
