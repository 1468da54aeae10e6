"""Many shots as Pauli frames (`sample`, `sample_detectors`).

Distributions, never bits, against Stim's compiled samplers: every code
family Stim generates under each noise knob and all of them together
(per-detector and per-observable rates, co-firing of detector pairs), and
random circuits over every instruction of the format (record rates, pair
parities, the bits Stim finds constant); the frame path against the
per-shot register runs.  Then the shot-stream rule (blocks of 256 shots
drawing from ChaCha streams of (seed, block)), splits of a run into calls,
packed rows, and the `bit_packed` argument.  Every bound is five standard
deviations."""

import math
import random

import pytest

import ordavine
from helpers import cpython_only
from test_seed import seeded_words


@pytest.fixture(autouse=True)
def back_to_entropy():
    yield
    ordavine.seed(None)


# ---- statistics ------------------------------------------------------------------

def assert_rates_agree(ours, theirs, shots_ours, shots_theirs, what):
    """Elementwise: rates of two samples agree within five standard deviations."""
    np = pytest.importorskip("numpy")
    ours, theirs = np.asarray(ours, dtype=np.float64), np.asarray(theirs, dtype=np.float64)
    pooled = (ours * shots_ours + theirs * shots_theirs) / (shots_ours + shots_theirs)
    sigma = np.sqrt(pooled * (1 - pooled) * (1 / shots_ours + 1 / shots_theirs))
    bad = np.abs(ours - theirs) > 5 * sigma + 1e-12
    assert not bad.any(), (what, np.argwhere(bad)[:5].tolist(), ours[bad][:5], theirs[bad][:5])


def assert_same_distribution(ours, theirs, what, pairs="co-firing"):
    """Two (shots, k) 0/1 arrays: each column's rate, and each pair's rate of
    firing together (co-firing) or of differing (parity)."""
    np = pytest.importorskip("numpy")
    a, b = ours.astype(np.float64), theirs.astype(np.float64)
    na, nb = len(a), len(b)
    pa, pb = a.mean(axis=0), b.mean(axis=0)
    assert_rates_agree(pa, pb, na, nb, what + ": rates")
    ca, cb = a.T @ a / na, b.T @ b / nb
    if pairs == "parity":  # P(a_i != a_j) = p_i + p_j - 2 P(both)
        ca = pa[:, None] + pa[None, :] - 2 * ca
        cb = pb[:, None] + pb[None, :] - 2 * cb
    assert_rates_agree(ca, cb, na, nb, what + ": pairs (" + pairs + ")")


def rows_of(data, shots, np):
    return np.frombuffer(data, dtype=np.uint8).reshape(shots, -1)


# ---- Stim's code families under every noise knob ----------------------------------

FAMILIES = ["repetition_code:memory", "surface_code:rotated_memory_x", "surface_code:rotated_memory_z",
            "surface_code:unrotated_memory_x", "surface_code:unrotated_memory_z", "color_code:memory_xyz"]
KNOBS = ["after_clifford_depolarization", "before_round_data_depolarization",
         "before_measure_flip_probability", "after_reset_flip_probability"]


@pytest.mark.parametrize("family", FAMILIES)
@pytest.mark.parametrize("knob", KNOBS + ["all"])
def test_code_families_detect_as_stims_sampler(family, knob):
    stim = pytest.importorskip("stim")
    np = pytest.importorskip("numpy")
    noise = {k: 0.02 for k in KNOBS} if knob == "all" else {knob: 0.03}
    circuit = stim.Circuit.generated(family, distance=3, rounds=3, **noise)
    shots = 20_000
    detectors, observables = ordavine.sample_detectors(str(circuit), shots, seed=17)
    ours = np.hstack([rows_of(detectors, shots, np), rows_of(observables, shots, np)])
    d, o = circuit.compile_detector_sampler(seed=23).sample(shots, separate_observables=True)
    theirs = np.hstack([d, o]).astype(np.uint8)
    assert ours.shape == theirs.shape
    assert ours[:, :circuit.num_detectors].mean() > 0.002  # the noise shows
    assert_same_distribution(ours, theirs, f"{family} {knob}")


def test_a_larger_code_with_every_knob_detects_as_stims_sampler():
    stim = pytest.importorskip("stim")
    np = pytest.importorskip("numpy")
    circuit = stim.Circuit.generated("surface_code:rotated_memory_z", distance=5, rounds=5,
                                     **{k: 0.005 for k in KNOBS})
    shots = 40_000
    detectors, observables = ordavine.sample_detectors(str(circuit), shots, seed=3, bit_packed=True)
    ours = np.hstack([np.unpackbits(rows_of(detectors, shots, np), axis=1, bitorder="little")[:, :circuit.num_detectors],
                      np.unpackbits(rows_of(observables, shots, np), axis=1, bitorder="little")[:, :1]])
    theirs = np.hstack(circuit.compile_detector_sampler(seed=4).sample(shots, separate_observables=True))
    assert_same_distribution(ours, theirs.astype(np.uint8), "d=5 surface code")


# ---- random circuits over every instruction ----------------------------------------

SINGLE = ["I", "X", "Y", "Z", "H", "H_XY", "H_XZ", "H_YZ", "H_NXY", "H_NXZ", "H_NYZ", "S", "S_DAG",
          "SQRT_X", "SQRT_X_DAG", "SQRT_Y", "SQRT_Y_DAG", "SQRT_Z", "SQRT_Z_DAG", "C_XYZ", "C_ZYX",
          "C_NXYZ", "C_XNYZ", "C_XYNZ", "C_NZYX", "C_ZNYX", "C_ZYNX"]
PAIR = ["CX", "CNOT", "ZCX", "CY", "ZCY", "CZ", "ZCZ", "XCX", "XCY", "XCZ", "YCX", "YCY", "YCZ", "SWAP",
        "ISWAP", "ISWAP_DAG", "SQRT_XX", "SQRT_XX_DAG", "SQRT_YY", "SQRT_YY_DAG", "SQRT_ZZ",
        "SQRT_ZZ_DAG", "CXSWAP", "SWAPCX", "CZSWAP", "SWAPCZ", "II"]
# Controlled gates that read Z on their first (record on the left) or
# second (record on the right) operand.
FEED_LEFT = ["CX", "CNOT", "ZCX", "CY", "ZCY", "CZ", "ZCZ"]
FEED_RIGHT = ["CZ", "ZCZ", "XCZ", "YCZ"]
MEASURE = ["M", "MZ", "MX", "MY", "MR", "MRZ", "MRX", "MRY"]
RESET = ["R", "RZ", "RX", "RY"]


def random_circuit(seed, n=5, length=45, noisy=True):
    """A random circuit on n qubits touching every kind of instruction: text."""
    rng = random.Random(seed)
    lines, measured = [], 0

    def qubits(k):
        return rng.sample(range(n), k)

    def p(low=0.01, high=0.2):
        return f"{rng.uniform(low, high):.3f}" if noisy else "0"

    def pauli_product(k):
        return "*".join(("!" if i == 0 and rng.random() < 0.3 else "") + rng.choice("XYZ") + str(q)
                        for i, q in enumerate(qubits(k)))

    def line():
        nonlocal measured
        kind = rng.randrange(16)
        if kind < 3:
            return f"{rng.choice(SINGLE)} {' '.join(map(str, qubits(rng.randint(1, 3))))}"
        if kind < 6:
            a, b, c, d = qubits(4)
            return f"{rng.choice(PAIR)} {a} {b} {c} {d}"
        if kind == 6 and measured:
            k = rng.randint(1, min(measured, 6))
            a = qubits(1)[0]
            if rng.random() < 0.5:
                return f"{rng.choice(FEED_LEFT)} rec[-{k}] {a}"
            return f"{rng.choice(FEED_RIGHT)} {a} rec[-{k}]"
        if kind in (7, 8):
            targets = [("!" if rng.random() < 0.3 else "") + str(q) for q in qubits(rng.randint(1, 3))]
            measured += len(targets)
            arg = f"({p(0, 0.1)})" if rng.random() < 0.4 else ""
            return f"{rng.choice(MEASURE)}{arg} {' '.join(targets)}"
        if kind == 9:
            return f"{rng.choice(RESET)} {' '.join(map(str, qubits(rng.randint(1, 2))))}"
        if kind == 10:
            which = rng.randrange(4)
            if which == 0:
                measured += 2
                return f"MPP({p(0, 0.1)}) {pauli_product(rng.randint(1, 3))} {pauli_product(2)}"
            if which == 1:
                a, b = qubits(2)
                measured += 1
                return f"{rng.choice(['MXX', 'MYY', 'MZZ'])} {'!' if rng.random() < 0.3 else ''}{a} {b}"
            if which == 2:
                return f"{rng.choice(['SPP', 'SPP_DAG'])} {pauli_product(rng.randint(1, 3))}"
            measured += 2
            return f"MPAD({p(0, 0.1)}) {rng.randint(0, 1)} {rng.randint(0, 1)}"
        if kind in (11, 12):
            a, b = qubits(2)
            q = qubits(1)[0]
            choices = [
                f"X_ERROR({p()}) {a}", f"Y_ERROR({p()}) {a}", f"Z_ERROR({p()}) {a}",
                f"DEPOLARIZE1({p()}) {a} {b}", f"DEPOLARIZE2({p()}) {a} {b}",
                f"PAULI_CHANNEL_1({p(0, 0.1)}, {p(0, 0.1)}, {p(0, 0.1)}) {q}",
                "PAULI_CHANNEL_2(" + ", ".join(p(0, 0.03) for _ in range(15)) + f") {a} {b}",
                f"I_ERROR({p()}) {a}", f"II_ERROR({p()}) {a} {b}",
                f"{rng.choice(['E', 'CORRELATED_ERROR'])}({p()}) {pauli_product(2).replace('!', '').replace('*', ' ')}\n"
                f"ELSE_CORRELATED_ERROR({p()}) {rng.choice('XYZ')}{q}",
            ]
            return rng.choice(choices)
        if kind == 13:
            measured += 1
            if rng.random() < 0.5:
                return f"HERALDED_ERASE({p()}) {qubits(1)[0]}"
            return f"HERALDED_PAULI_CHANNEL_1({p(0, 0.05)}, {p(0, 0.05)}, {p(0, 0.05)}, {p(0, 0.05)}) {qubits(1)[0]}"
        if kind == 14:
            return rng.choice(["TICK", f"QUBIT_COORDS(1, 2) {qubits(1)[0]}", "SHIFT_COORDS(0, 1)"])
        if kind == 15 and measured:
            looks = " ".join(f"rec[-{rng.randint(1, min(measured, 5))}]" for _ in range(rng.randint(1, 3)))
            if rng.random() < 0.5:
                return f"DETECTOR {looks}"
            paulis = " ".join(f"{rng.choice('XYZ')}{q}" for q in qubits(rng.randint(0, 2)))
            return f"OBSERVABLE_INCLUDE({rng.randint(0, 2)}) {looks} {paulis}"
        return f"H {qubits(1)[0]}"

    for _ in range(length):
        lines.append(line())
    # Every sixth gate name from an offset the seed picks, at random places:
    # six seeds in a row name them all.
    for name in SINGLE[seed % 6::6]:
        lines.insert(rng.randrange(len(lines) + 1), f"{name} {qubits(1)[0]}")
    for name in PAIR[seed % 6::6]:
        a, b = qubits(2)
        lines.insert(rng.randrange(len(lines) + 1), f"{name} {a} {b}")
    # A repeated block whose look-backs reach into the lines before it.
    body_measured = rng.randint(1, 2)
    body = [line() for _ in range(4)] + [f"M {' '.join(map(str, qubits(body_measured)))}",
                                        f"DETECTOR rec[-1] rec[-{body_measured}]"]
    lines += ["REPEAT 3 {", *body, "}", f"M {' '.join(map(str, range(n)))}"]
    return "\n".join(lines) + "\n"


CIRCUIT_SEEDS = range(12)


def test_random_circuits_use_every_instruction():
    import re
    names = set()
    for seed in CIRCUIT_SEEDS:
        names |= set(re.findall(r"^([A-Z_0-9]+)", random_circuit(seed), flags=re.M))
    wanted = set(SINGLE + PAIR + MEASURE + RESET) | {
        "MPP", "MXX", "MYY", "MZZ", "SPP", "SPP_DAG", "MPAD", "X_ERROR", "Y_ERROR", "Z_ERROR",
        "DEPOLARIZE1", "DEPOLARIZE2", "PAULI_CHANNEL_1", "PAULI_CHANNEL_2", "I_ERROR", "II_ERROR", "E",
        "CORRELATED_ERROR", "ELSE_CORRELATED_ERROR", "HERALDED_ERASE", "HERALDED_PAULI_CHANNEL_1",
        "TICK", "QUBIT_COORDS", "SHIFT_COORDS", "DETECTOR", "OBSERVABLE_INCLUDE", "REPEAT"}
    assert wanted <= names, sorted(wanted - names)


@pytest.mark.parametrize("seed", CIRCUIT_SEEDS)
def test_random_circuits_record_as_stims_sampler(seed):
    stim = pytest.importorskip("stim")
    np = pytest.importorskip("numpy")
    text = random_circuit(seed)
    circuit = stim.Circuit(text)
    shots = 20_000
    ours = rows_of(ordavine.sample(text, shots, seed=seed), shots, np)
    theirs = circuit.compile_sampler(seed=seed + 100).sample(shots).astype(np.uint8)
    assert ours.shape == theirs.shape == (shots, circuit.num_measurements)
    assert_same_distribution(ours, theirs, f"circuit {seed}", pairs="parity")
    # Detection events and observables of the same circuit.
    d, o = ordavine.sample_detectors(text, shots, seed=seed)
    sd, so = circuit.compile_detector_sampler(seed=seed + 200).sample(shots, separate_observables=True)
    assert_same_distribution(np.hstack([rows_of(d, shots, np), rows_of(o, shots, np)]),
                             np.hstack([sd, so]).astype(np.uint8), f"circuit {seed} detectors")


@pytest.mark.parametrize("seed", CIRCUIT_SEEDS)
def test_noiseless_random_circuits_fix_the_bits_stim_fixes(seed):
    stim = pytest.importorskip("stim")
    np = pytest.importorskip("numpy")
    text = random_circuit(seed, noisy=False)
    shots = 2000
    ours = rows_of(ordavine.sample(text, shots, seed=seed), shots, np)
    theirs = stim.Circuit(text).compile_sampler(seed=seed).sample(shots).astype(np.uint8)
    constant = (theirs == theirs[0]).all(axis=0)
    assert constant.any()
    assert (ours[:, constant] == theirs[0, constant]).all()
    # The others are random in both (a fixed bit would show as rate 0 or 1).
    rates = ours[:, ~constant].mean(axis=0)
    assert ((rates > 0.4) & (rates < 0.6)).all(), rates


def test_the_frame_path_is_distributed_as_per_shot_register_runs():
    """`Ordavine(n).run(text)` per shot, seeded, against `sample`: record
    rates and pair parities (pure Python, so on PyPy as well)."""
    for seed in (1, 5, 8):
        text = random_circuit(seed, length=30)
        shots = 3000
        n = 5
        frames = ordavine.sample(text, shots, seed=seed)
        m = len(frames) // shots
        registers = bytearray()
        for shot in range(shots):
            ordavine.seed(10_000 * seed + shot)
            registers += ordavine.Ordavine(n).run(text)
        for a in range(m):
            for b in range(a, m):
                def rate(rows):
                    return sum(rows[s * m + a] ^ (rows[s * m + b] if b != a else 0) for s in range(shots)) / shots
                p, q = rate(frames), rate(registers)
                pooled = (p + q) / 2
                assert abs(p - q) <= 5 * math.sqrt(pooled * (1 - pooled) * 2 / shots) + 1e-12, (seed, a, b, p, q)


# ---- the shot streams ------------------------------------------------------------------

def block_bits(seed, stream, words64):
    """The first `words64` 64-bit words of a seeded stream, as one integer
    (word k in bits 64k .. 64k + 63), from the independent cipher model."""
    words = seeded_words(seed, stream, 2 * words64)
    value = 0
    for k in range(words64):
        value |= (words[2 * k] | words[2 * k + 1] << 32) << (64 * k)
    return value


def test_block_b_takes_its_gauge_bits_from_stream_2b_plus_1():
    # |0>, H, M: the outcome is the gauge bit of the qubit's Z row, which H
    # carried to X: shot 256 b + i reads bit i of block b's first four words.
    rows = ordavine.sample("H 0\nM 0", 300, seed=99, first_shot=400)
    for offset, shot in enumerate(range(400, 700)):
        block, lane = divmod(shot, 256)
        assert rows[offset] == (block_bits(99, 2 * block + 1, 4) >> lane) & 1, shot
    # A second qubit takes the next four words.
    rows = ordavine.sample("H 1\nM 1", 256, seed=99)
    second = block_bits(99, 1, 8) >> 256
    assert list(rows) == [(second >> lane) & 1 for lane in range(256)]


def test_block_b_takes_its_noise_gaps_from_stream_2b_plus_2():
    p = 0.02
    rows = ordavine.sample(f"X_ERROR({p}) 0 1\nM 0 1", 512, seed=5)
    for block in range(2):
        words = seeded_words(5, 2 * block + 2, 64)
        fired, site = set(), -1
        for k in range(32):
            u = ((words[2 * k] | words[2 * k + 1] << 32) >> 11) + 1
            site += 1 + math.floor(math.log(u * 2.0**-53) / math.log1p(-p))
            if site >= 512:  # two targets of 256 sites
                break
            fired.add(site)
        got = {t * 256 + lane for t in range(2) for lane in range(256) if rows[2 * (256 * block + lane) + t]}
        assert got == fired and fired, block


SPLIT_TEXT = """R 0 1 2
H 0
CX 0 1
DEPOLARIZE2(0.1) 0 1
MPP X0*X1 Z0*Z1
HERALDED_ERASE(0.2) 2
REPEAT 3 {
  X_ERROR(0.2) 0 1 2
  MR 0 1 2
  DETECTOR rec[-1] rec[-4]
}
OBSERVABLE_INCLUDE(1) rec[-2]
OBSERVABLE_INCLUDE(3) rec[-1] Z2
M 0 1 2 3 4 5 6 7 8
"""


@pytest.mark.parametrize("bit_packed", [False, True])
@pytest.mark.parametrize("first_shot", [0, 1000])
def test_any_split_into_calls_gives_the_rows_of_one_call(bit_packed, first_shot):
    whole = ordavine.sample(SPLIT_TEXT, 323, seed=7, first_shot=first_shot, bit_packed=bit_packed)
    parts, start = [], first_shot
    for count in (7, 250, 66):
        parts.append(ordavine.sample(SPLIT_TEXT, count, seed=7, first_shot=start, bit_packed=bit_packed))
        start += count
    assert b"".join(parts) == whole
    detectors, observables = ordavine.sample_detectors(SPLIT_TEXT, 323, seed=7, first_shot=first_shot,
                                                       bit_packed=bit_packed)
    pieces, start = [], first_shot
    for count in (7, 250, 66):
        pieces.append(ordavine.sample_detectors(SPLIT_TEXT, count, seed=7, first_shot=start,
                                                bit_packed=bit_packed))
        start += count
    assert b"".join(d for d, _ in pieces) == detectors
    assert b"".join(o for _, o in pieces) == observables
    assert ordavine.sample(SPLIT_TEXT, 323, seed=8, first_shot=first_shot, bit_packed=bit_packed) != whole


def test_the_last_shot_numbers_split_and_write_every_row():
    text = "H 0\nM 0\nMPAD 1"
    first = 2**64 - 300  # up to shot 2**64 - 2: first_shot + shots stays below 2**64
    whole = ordavine.sample(text, 299, seed=4, first_shot=first)
    parts = ordavine.sample(text, 100, seed=4, first_shot=first) + ordavine.sample(text, 199, seed=4,
                                                                                  first_shot=first + 100)
    assert parts == whole
    assert whole[1::2] == b"\x01" * 299  # every row written
    assert 0 < sum(whole[0::2]) < 299


def pack(rows, shots):
    """Rows of 0/1 bytes packed 8 a byte, little-endian bit order, padded."""
    width = len(rows) // shots if shots else 0
    out = bytearray()
    for s in range(shots):
        row = rows[s * width:(s + 1) * width]
        for start in range(0, width, 8):
            out.append(sum(bit << i for i, bit in enumerate(row[start:start + 8])))
    return bytes(out)


def test_packed_rows_are_the_unpacked_rows_eight_a_byte():
    for text in (SPLIT_TEXT, "M 0\n" * 8, "H 0\nM 0\n" * 13):
        shots = 300
        assert ordavine.sample(text, shots, seed=2, bit_packed=True) == pack(ordavine.sample(text, shots, seed=2), shots)
        d, o = ordavine.sample_detectors(text, shots, seed=2)
        pd, po = ordavine.sample_detectors(text, shots, seed=2, bit_packed=True)
        assert pd == pack(d, shots) and po == pack(o, shots)
    assert len(ordavine.sample(SPLIT_TEXT, 5, bit_packed=True)) == 5 * 3  # 20 measurements: 3 bytes


def test_bit_packed_takes_a_bool_by_keyword():
    with pytest.raises(TypeError, match="argument 'bit_packed': 'int' object cannot be cast as 'bool'"):
        ordavine.sample("M 0", 1, bit_packed=1)
    with pytest.raises(TypeError, match="argument 'bit_packed'"):
        ordavine.sample_detectors("M 0", 1, bit_packed=None)
    with pytest.raises(TypeError, match="takes 2 positional arguments but 5 were given"):
        ordavine.sample("M 0", 1, None, 0, True)
    assert ordavine.sample("X 0\nM 0", 3, bit_packed=False) == b"\x01" * 3


@cpython_only
def test_text_signatures_show_bit_packed():
    import inspect
    for function in (ordavine.sample, ordavine.sample_detectors):
        parameters = inspect.signature(function).parameters
        assert list(parameters) == ["circuit", "shots", "seed", "first_shot", "bit_packed"]
        assert parameters["bit_packed"].default is False
        assert parameters["bit_packed"].kind is inspect.Parameter.KEYWORD_ONLY


def test_observables_of_products_no_state_fixes_are_random_not_refused():
    # The register has no value for Z0 here (|+>); frames give each shot a
    # random one, as Stim's sampler does.
    _, observables = ordavine.sample_detectors("H 0\nOBSERVABLE_INCLUDE(0) Z0", 4000, seed=1)
    assert 1800 < sum(observables) < 2200
