#include "frames/kernels.hpp"

#include <utility>

#include "failure/failure.hpp"
#include "frames/byte_stores.hpp"
#include "frames/clifford_maps.hpp"

namespace ordavine::frames {
namespace {

using circuit::Target;
using circuit::value_of;

#define ORDAVINE_INLINE inline __attribute__((always_inline))

// Every helper below is always inlined into an entry point that carries the
// width's target attribute, so no vector ever crosses a call; clang warns
// about the ABI of the helpers' vector parameters all the same.
#ifdef __clang__
#pragma clang diagnostic ignored "-Wpsabi"
#endif

// Vectors of Bytes / 8 words.  Without the matching target attribute the
// compiler splits a wide vector into what the baseline has, so the same
// body serves every width; the attribute on the entry points below decides
// what it becomes.
template <std::size_t Bytes>
struct Lanes {
  typedef Word type __attribute__((vector_size(Bytes)));
};

// Loads through references, not return values: a wide vector returned
// from a function compiled without that width would be an ABI question.
template <class V>
ORDAVINE_INLINE void load(V& v, const Word* p) {
  __builtin_memcpy(&v, p, sizeof v);
}

template <class V>
ORDAVINE_INLINE void store(Word* p, V v) {
  __builtin_memcpy(p, &v, sizeof v);
}

template <class V>
constexpr std::size_t kStep = sizeof(V) / sizeof(Word);

ORDAVINE_INLINE Word* x_row(Word* frames, std::size_t row_words, Target t) {
  return frames + 2 * row_words * value_of(t);
}

// out_k = XOR over the inputs j whose image has bit k; with the map a
// constant, the loops unroll to the XORs it needs.  Rows the map leaves as
// they were (out_k = in_k) are not stored.
constexpr bool keeps(unsigned map, unsigned n, unsigned k) {
  for (unsigned j = 0; j < n; ++j) {
    if ((((column(map, j) >> k) & 1) != 0) != (j == k)) return false;
  }
  return true;
}

template <class V, unsigned Map, unsigned N>
ORDAVINE_INLINE void apply_map(V (&rows)[N]) {
  V out[N];
  for (unsigned k = 0; k < N; ++k) {
    V acc{};
    for (unsigned j = 0; j < N; ++j) {
      if ((column(Map, j) >> k) & 1) acc ^= rows[j];
    }
    out[k] = acc;
  }
  for (unsigned k = 0; k < N; ++k) rows[k] = out[k];
}

template <class V, Map1 M>
ORDAVINE_INLINE void single_body(Word* frames, std::size_t row_words, const Target* targets,
                                 std::size_t count) {
  constexpr bool kx = keeps(M, 2, 0), kz = keeps(M, 2, 1);
  if constexpr (kx && kz) return;
  for (std::size_t i = 0; i < count; ++i) {
    Word* x = x_row(frames, row_words, targets[i]);
    Word* z = x + row_words;
    for (std::size_t k = 0; k < row_words; k += kStep<V>) {
      V rows[2];
      load(rows[0], x + k);
      load(rows[1], z + k);
      apply_map<V, M, 2>(rows);
      if constexpr (!kx) store<V>(x + k, rows[0]);
      if constexpr (!kz) store<V>(z + k, rows[1]);
    }
  }
}

template <class V, Map2 M>
ORDAVINE_INLINE void pair_body(Word* frames, std::size_t row_words, const Target* targets,
                               std::size_t count) {
  constexpr bool k0 = keeps(M, 4, 0), k1 = keeps(M, 4, 1), k2 = keeps(M, 4, 2), k3 = keeps(M, 4, 3);
  for (std::size_t i = 0; i + 1 < count; i += 2) {
    Word* xa = x_row(frames, row_words, targets[i]);
    Word* za = xa + row_words;
    Word* xb = x_row(frames, row_words, targets[i + 1]);
    Word* zb = xb + row_words;
    for (std::size_t k = 0; k < row_words; k += kStep<V>) {
      V rows[4];
      load(rows[0], xa + k);
      load(rows[1], za + k);
      load(rows[2], xb + k);
      load(rows[3], zb + k);
      apply_map<V, M, 4>(rows);
      if constexpr (!k0) store<V>(xa + k, rows[0]);
      if constexpr (!k1) store<V>(za + k, rows[1]);
      if constexpr (!k2) store<V>(xb + k, rows[2]);
      if constexpr (!k3) store<V>(zb + k, rows[3]);
    }
  }
}

// Which of X and Z a measurement in an axis reads (the components that
// anticommute with it) and multiplies by the gauge.
constexpr bool reads_x(Axis a) { return a != Axis::x; }  // Z and Y anticommute with X
constexpr bool reads_z(Axis a) { return a != Axis::z; }
constexpr bool has_x(Axis a) { return a != Axis::z; }  // X and Y have an X part
constexpr bool has_z(Axis a) { return a != Axis::x; }

enum class Kind { measure, reset, measure_reset };

template <class V, Axis A, Kind K>
ORDAVINE_INLINE void measure_body(Word* frames, std::size_t row_words, const Target* targets,
                                  std::size_t count, const Word* gauge, Word* const* records) {
  for (std::size_t i = 0; i < count; ++i) {
    Word* x = x_row(frames, row_words, targets[i]);
    Word* z = x + row_words;
    const Word* g = gauge + i * row_words;
    Word* record = K == Kind::reset ? nullptr : records[i];
    for (std::size_t k = 0; k < row_words; k += kStep<V>) {
      V xv, zv, gv;
      load(xv, x + k);
      load(zv, z + k);
      load(gv, g + k);
      if constexpr (K != Kind::reset) {
        V flip{};
        if constexpr (reads_x(A)) flip ^= xv;
        if constexpr (reads_z(A)) flip ^= zv;
        store<V>(record + k, flip);
      }
      if constexpr (K == Kind::measure) {
        if constexpr (has_x(A)) store<V>(x + k, xv ^ gv);
        if constexpr (has_z(A)) store<V>(z + k, zv ^ gv);
      } else {
        if constexpr (has_x(A)) {
          store<V>(x + k, gv);
        } else {
          store<V>(x + k, V{});
        }
        if constexpr (has_z(A)) {
          store<V>(z + k, gv);
        } else {
          store<V>(z + k, V{});
        }
      }
    }
  }
}

template <class V>
ORDAVINE_INLINE void parity_body(Word* dst, const Word* const* sources, std::size_t count,
                                 std::size_t row_words) {
  for (std::size_t k = 0; k < row_words; k += kStep<V>) {
    V acc{};
    for (std::size_t i = 0; i < count; ++i) {
      V row;
      load(row, sources[i] + k);
      acc ^= row;
    }
    store<V>(dst + k, acc);
  }
}

// The 64 x 64 transposition of each lane of the vectors: swap the
// off-diagonal blocks of every 2w x 2w block, w = 32, 16, ..., 1, for as
// many matrices at once as a vector has words.  The six rounds swap bit k
// of the row number with bit k of the column number for each k, so they
// commute; they run in two passes of eight rows held in registers: rows
// r, r + 8, ..., r + 56 for w = 32, 16, 8, then rows 8g .. 8g + 7 for
// w = 4, 2, 1 (all 64 rows at once would not fit in the registers).
template <class V>
ORDAVINE_INLINE void swap_blocks(V& a, V& b, unsigned w, Word low_halves) {
  const V t = ((a >> w) ^ b) & low_halves;
  a ^= t << w;
  b ^= t;
}

// The three rounds among the eight rows first + Spacing k, k < 8, of a
// column of tiles (Spacing 8 or 1), in registers: row k with rows k + 4,
// k + 2 and k + 1, which lie 4, 2 and 1 spacings apart.
template <class V, unsigned Spacing>
ORDAVINE_INLINE void three_rounds(Word* column, unsigned first) {
  constexpr Word kLowHalves[] = {0x5555555555555555ull, 0x3333333333333333ull, 0x0F0F0F0F0F0F0F0Full,
                                 0x00FF00FF00FF00FFull, 0x0000FFFF0000FFFFull, 0x00000000FFFFFFFFull};
  constexpr unsigned kLevel = Spacing == 8 ? 3 : 0;  // log2 of the closest pair's shift
  V m[8];
#pragma GCC unroll 8
  for (unsigned k = 0; k < 8; ++k) load(m[k], column + kTilesSideBySide * (first + Spacing * k));
#pragma GCC unroll 3
  for (unsigned j = 0; j < 3; ++j) {
    const unsigned apart = 1u << j;
#pragma GCC unroll 8
    for (unsigned k = 0; k < 8; ++k) {
      if (!(k & apart)) swap_blocks(m[k], m[k + apart], 1u << (kLevel + j), kLowHalves[kLevel + j]);
    }
  }
#pragma GCC unroll 8
  for (unsigned k = 0; k < 8; ++k) store<V>(column + kTilesSideBySide * (first + Spacing * k), m[k]);
}

template <class V>
ORDAVINE_INLINE void transpose_body(Word* tiles) {
  for (std::size_t c = 0; c < kTilesSideBySide; c += kStep<V>) {
    for (unsigned r = 0; r < 8; ++r) three_rounds<V, 8>(tiles + c, r);
    for (unsigned g = 0; g < 64; g += 8) three_rounds<V, 1>(tiles + c, g);
  }
}

typedef std::uint8_t Bytes32 __attribute__((vector_size(32)));
typedef std::uint32_t Words32 __attribute__((vector_size(32)));

// 32 bits to 32 bytes: each byte of the word copied to eight bytes (a
// shuffle within 16-byte halves, where the word is repeated), then byte k
// kept where its bit k % 8 is set.
ORDAVINE_INLINE void spread32(std::uint8_t* out, std::uint32_t bits) {
  Bytes32 word;
  const Words32 repeated = Words32{} + bits;
  __builtin_memcpy(&word, &repeated, sizeof word);
  const Bytes32 copies =
      __builtin_shufflevector(word, word, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 18, 18, 18, 18, 18,
                              18, 18, 18, 19, 19, 19, 19, 19, 19, 19, 19);
  const Bytes32 bit = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128,
                       1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
  const Bytes32 ones = reinterpret_cast<Bytes32>((copies & bit) == bit) & 1;
  __builtin_memcpy(out, &ones, sizeof ones);
}

// Shuffles of bytes in one instruction come with AVX2; the portable width
// spreads eight bits at a time by the table instead.
template <bool ByteShuffles>
ORDAVINE_INLINE void unpack_body(const Word* words, std::uint8_t* out, std::size_t stride, std::size_t shots,
                                 std::size_t entries) {
  for (std::size_t s = 0; s < shots; ++s, out += stride) {
    const Word bits = words[s * kTilesSideBySide];
    std::size_t e = 0;
    if constexpr (ByteShuffles) {
      for (; e + 32 <= entries; e += 32) spread32(out + e, static_cast<std::uint32_t>(bits >> e));
    }
    for (; e + 8 <= entries; e += 8) {
      const std::uint64_t v = kSpread[(bits >> e) & 0xFF];
      __builtin_memcpy(out + e, &v, 8);
    }
    if (e < entries) store_low_bytes(out + e, kSpread[(bits >> e) & 0xFF], entries - e);
  }
}

// One set of entry points per width: the same bodies under another target
// attribute.  Each is a template instantiated into the width's table.
#define ORDAVINE_WIDTH(NAMESPACE, BYTES, ATTRIBUTE)                                                         \
  namespace NAMESPACE {                                                                                     \
  using V = Lanes<BYTES>::type;                                                                             \
  template <Map1 M>                                                                                         \
  ATTRIBUTE void single(Word* f, std::size_t w, const Target* t, std::size_t n) {                           \
    single_body<V, M>(f, w, t, n);                                                                          \
  }                                                                                                         \
  template <Map2 M>                                                                                         \
  ATTRIBUTE void pair(Word* f, std::size_t w, const Target* t, std::size_t n) {                             \
    pair_body<V, M>(f, w, t, n);                                                                            \
  }                                                                                                         \
  template <Axis A, Kind K>                                                                                 \
  ATTRIBUTE void measure(Word* f, std::size_t w, const Target* t, std::size_t n, const Word* g,             \
                         Word* const* r) {                                                                  \
    measure_body<V, A, K>(f, w, t, n, g, r);                                                                \
  }                                                                                                         \
  ATTRIBUTE void parity(Word* d, const Word* const* s, std::size_t n, std::size_t w) {                      \
    parity_body<V>(d, s, n, w);                                                                             \
  }                                                                                                         \
  ATTRIBUTE void transpose(Word* m) { transpose_body<V>(m); }                                               \
  ATTRIBUTE void unpack(const Word* w, std::uint8_t* o, std::size_t stride, std::size_t n, std::size_t e) { \
    unpack_body<(BYTES >= 32)>(w, o, stride, n, e);                                                         \
  }                                                                                                         \
  template <std::size_t... I, std::size_t... G>                                                             \
  Kernels table(VectorWidth width, std::index_sequence<I...>, std::index_sequence<G...>) {                  \
    return Kernels{                                                                                         \
        width,                                                                                              \
        {&single<vop_map(static_cast<Vop>(I))>...},                                                         \
        {&pair<two_qubit_map(static_cast<circuit::TwoQubitGate>(G))>...},                                   \
        {&measure<Axis::x, Kind::measure>, &measure<Axis::y, Kind::measure>,                                \
         &measure<Axis::z, Kind::measure>},                                                                 \
        {&measure<Axis::x, Kind::reset>, &measure<Axis::y, Kind::reset>, &measure<Axis::z, Kind::reset>},   \
        {&measure<Axis::x, Kind::measure_reset>, &measure<Axis::y, Kind::measure_reset>,                    \
         &measure<Axis::z, Kind::measure_reset>},                                                           \
        &parity,                                                                                            \
        &transpose,                                                                                         \
        &unpack,                                                                                            \
    };                                                                                                      \
  }                                                                                                         \
  Kernels make(VectorWidth width) {                                                                         \
    return table(width, std::make_index_sequence<24>{},                                                     \
                 std::make_index_sequence<circuit::kTwoQubitGates>{});                                      \
  }                                                                                                         \
  }

ORDAVINE_WIDTH(portable, 16, )
ORDAVINE_WIDTH(avx2, 32, __attribute__((target("avx2"))))
ORDAVINE_WIDTH(avx512, 64, __attribute__((target("avx512f"))))

#undef ORDAVINE_WIDTH

}  // namespace

bool width_supported(VectorWidth width) {
  __builtin_cpu_init();
  switch (width) {
    case VectorWidth::portable: return true;
    case VectorWidth::avx2: return __builtin_cpu_supports("avx2");
    case VectorWidth::avx512: return __builtin_cpu_supports("avx512f");
  }
  return false;
}

VectorWidth widest_width() {
  static const VectorWidth widest = width_supported(VectorWidth::avx512) ? VectorWidth::avx512
                                    : width_supported(VectorWidth::avx2) ? VectorWidth::avx2
                                                                         : VectorWidth::portable;
  return widest;
}

const Kernels& kernels_for(VectorWidth width) {
  static const Kernels tables[] = {portable::make(VectorWidth::portable), avx2::make(VectorWidth::avx2),
                                   avx512::make(VectorWidth::avx512)};
  if (!width_supported(width)) fail("frame kernels of a vector width this machine does not have");
  return tables[static_cast<unsigned>(width)];
}

}  // namespace ordavine::frames
