"""Whole circuits: `Ordavine.run` against the same gates called one by one,
every measurement Stim's tableau simulator finds determined, Stim's own
generated codes through `sample_detectors`, the shot streams, and refused
texts."""

import random

import pytest
from hypothesis import given, settings, strategies as st

import ordavine

TWO_QUBIT = ["cz", "cx", "cy", "xcx", "xcy", "xcz", "ycx", "ycy", "ycz"]
SINGLE = {"H": "h", "S": "s", "S_DAG": "sdag", "X": "x", "Y": "y", "Z": "z"}


def snapshot(sim, n):
    return [(sim.get_vop(q), sim.get_neighbors(q)) for q in range(n)]


@pytest.fixture(autouse=True)
def back_to_entropy():
    yield
    ordavine.seed(None)


# ---- run against the gates one by one ---------------------------------------

def _op(n):
    qubit = st.integers(0, n - 1)
    pair = st.tuples(qubit, qubit).filter(lambda p: p[0] != p[1])
    return st.one_of(
        st.tuples(st.just("1"), st.sampled_from(sorted(SINGLE)), qubit),
        st.tuples(st.just("2"), st.sampled_from(TWO_QUBIT + ["swap"]), pair),
        st.tuples(st.just("m"), st.sampled_from("XYZ"), qubit, st.booleans(), st.booleans()),
        st.tuples(st.just("r"), st.sampled_from("XYZ"), qubit),
        st.tuples(st.just("f"), st.sampled_from("XYZ"), qubit, st.integers(1, 4)),
    )


@st.composite
def circuits(draw):
    n = draw(st.integers(2, 7))
    return n, draw(st.lists(_op(n), max_size=40))


def as_text_and_calls(ops):
    lines, calls, measured = [], [], 0
    for op in ops:
        kind = op[0]
        if kind == "1":
            lines.append(f"{op[1]} {op[2]}")
            calls.append(lambda s, rec, op=op: getattr(s, SINGLE[op[1]])(op[2]))
        elif kind == "2":
            a, b = op[2]
            lines.append(f"{op[1].upper()} {a} {b}")
            if op[1] == "swap":
                calls.append(lambda s, rec, a=a, b=b: (s.cx(a, b), s.cx(b, a), s.cx(a, b)))
            else:
                calls.append(lambda s, rec, op=op, a=a, b=b: getattr(s, op[1])(a, b))
        elif kind == "m":
            _, basis, q, invert, reset = op
            lines.append(f"{'MR' if reset else 'M'}{basis} {'!' if invert else ''}{q}")
            measured += 1

            def measure(s, rec, basis=basis, q=q, invert=invert, reset=reset):
                bit = int(getattr(s, "measure_" + basis.lower())(q))
                if reset and bit:
                    (s.x if basis == "Z" else s.z)(q)
                rec.append(bit ^ invert)
            calls.append(measure)
        elif kind == "r":
            _, basis, q = op
            lines.append(f"R{basis} {q}")

            def reset(s, rec, basis=basis, q=q):
                if int(getattr(s, "measure_" + basis.lower())(q)):
                    (s.x if basis == "Z" else s.z)(q)
            calls.append(reset)
        elif kind == "f" and measured >= op[3]:
            _, pauli, q, back = op
            lines.append(f"C{pauli} rec[-{back}] {q}")
            calls.append(lambda s, rec, p=pauli, q=q, k=back: rec[-k] and getattr(s, p.lower())(q))
    return "\n".join(lines), calls


@settings(max_examples=80, deadline=None)
@given(circuits(), st.integers(0, 2**70))
def test_run_leaves_what_the_gates_one_by_one_leave(circuit, seed):
    n, ops = circuit
    text, calls = as_text_and_calls(ops)
    ordavine.seed(seed)
    by_run = ordavine.Ordavine(n)
    record = by_run.run(text)
    ordavine.seed(seed)
    by_gates = ordavine.Ordavine(n)
    expected = []
    for call in calls:
        call(by_gates, expected)
    assert snapshot(by_run, n) == snapshot(by_gates, n), text
    assert list(record) == expected, text
    assert isinstance(record, bytes)


# ---- determined measurements agree with Stim's tableau simulator ------------

STIM_SINGLE = ["C_NXYZ", "C_NZYX", "C_XNYZ", "C_XYNZ", "C_XYZ", "C_ZNYX", "C_ZYNX", "C_ZYX",
               "H", "H_NXY", "H_NXZ", "H_NYZ", "H_XY", "H_XZ", "H_YZ", "I", "S", "SQRT_X",
               "SQRT_X_DAG", "SQRT_Y", "SQRT_Y_DAG", "SQRT_Z", "SQRT_Z_DAG", "S_DAG", "X", "Y", "Z"]
STIM_PAIRS = ["CX", "CNOT", "CY", "CZ", "XCX", "XCY", "XCZ", "YCX", "YCY", "YCZ", "ZCX", "ZCY",
              "ZCZ", "SWAP", "ISWAP", "ISWAP_DAG"]


def random_stim_circuit(rng, n, length):
    lines, measured = [], 0
    for _ in range(length):
        a, b = rng.sample(range(n), 2)
        roll = rng.random()
        if roll < 0.35:
            lines.append(f"{rng.choice(STIM_SINGLE)} {a}")
        elif roll < 0.7:
            lines.append(f"{rng.choice(STIM_PAIRS)} {a} {b}")
        elif roll < 0.85:
            lines.append(f"{rng.choice(['M', 'MX', 'MY', 'MR', 'MRX', 'MRY'])} {'!' * rng.randint(0, 1)}{a}")
            measured += 1
        elif measured:  # (no bare resets: their outcome is not recorded, so Stim could not follow it)
            k = rng.randint(1, measured)
            gate = rng.choice(["CX", "CY", "CZ"])
            lines.append(f"{gate} rec[-{k}] {a}" if rng.random() < 0.7 else f"CZ {a} rec[-{k}]")
    return "\n".join(lines)


def test_every_measurement_stim_finds_determined_gives_the_same_bit():
    stim = pytest.importorskip("stim")
    rng = random.Random(2024)
    determined = 0
    for trial in range(60):
        n = rng.randint(2, 8)
        text = random_stim_circuit(rng, n, 80)
        record = ordavine.Ordavine(n).run(text)
        # Replay in Stim, one instruction at a time, forcing each random
        # outcome to ours so both simulators stay on the same branch.
        sim, out = stim.TableauSimulator(), []
        sim.set_num_qubits(n)
        for line in text.splitlines():  # one at a time: Stim would merge neighbours
            instruction = stim.Circuit(line)[0]
            name, targets = instruction.name, instruction.targets_copy()
            if name in ("M", "MX", "MY", "MR", "MRX", "MRY"):
                t = targets[0]
                basis = name[-1] if name[-1] in "XY" else "Z"
                bit = record[len(out)] ^ t.is_inverted_result_target
                peek = getattr(sim, "peek_" + basis.lower())(t.value)
                if peek != 0:
                    determined += 1
                    assert bit == (peek == -1), (trial, text, len(out))
                getattr(sim, "postselect_" + basis.lower())(t.value, desired_value=bool(bit))
                if name.startswith("MR"):
                    sim.do(stim.Circuit(f"R{basis if basis != 'Z' else ''} {t.value}"))
                out.append(bit ^ t.is_inverted_result_target)
            elif any(t.is_measurement_record_target for t in targets):
                rec = next(t for t in targets if t.is_measurement_record_target)
                q = next(t for t in targets if not t.is_measurement_record_target)
                if out[rec.value]:
                    sim.do(stim.Circuit(f"{name[-1]} {q.value}"))
            else:
                sim.do(stim.Circuit(str(instruction)))
        assert bytes(out) == record
    assert determined > 100


# ---- Stim's generated codes ---------------------------------------------------

CODES = [("repetition_code:memory", d) for d in (3, 5, 7)] + [
    (f"surface_code:rotated_memory_{b}", d) for b in "xz" for d in (3, 5, 7)]


@pytest.mark.parametrize("task,distance", CODES)
def test_noiseless_generated_codes_never_fire(task, distance):
    stim = pytest.importorskip("stim")
    circuit = stim.Circuit.generated(task, distance=distance, rounds=distance)
    detectors, observables = ordavine.sample_detectors(str(circuit), 20, seed=distance)
    assert len(detectors) == 20 * circuit.num_detectors
    assert len(observables) == 20 * circuit.num_observables
    assert not any(detectors) and not any(observables)


@pytest.mark.parametrize("task,distance", [("repetition_code:memory", 5),
                                           ("surface_code:rotated_memory_x", 3),
                                           ("surface_code:rotated_memory_z", 3)])
def test_noisy_detector_rates_match_stims_sampler(task, distance):
    stim = pytest.importorskip("stim")
    np = pytest.importorskip("numpy")
    circuit = stim.Circuit.generated(
        task, distance=distance, rounds=3, after_clifford_depolarization=0.01,
        after_reset_flip_probability=0.01, before_measure_flip_probability=0.01,
        before_round_data_depolarization=0.01)
    shots = 4000
    ours, obs = ordavine.sample_detectors(str(circuit), shots, seed=11)
    ours = np.frombuffer(ours, dtype=np.uint8).reshape(shots, circuit.num_detectors)
    theirs, their_obs = circuit.compile_detector_sampler(seed=5).sample(shots, separate_observables=True)
    for mine, reference in [(ours, theirs), (np.frombuffer(obs, dtype=np.uint8).reshape(shots, -1), their_obs)]:
        p, q = mine.mean(axis=0), reference.mean(axis=0)
        pooled = (p + q) / 2
        sigma = np.sqrt(pooled * (1 - pooled) * 2 / shots)
        assert np.all(np.abs(p - q) <= 5 * sigma + 1e-9), (p, q)
    assert ours.mean() > 0.01  # the noise is there at all


# ---- shots --------------------------------------------------------------------

def test_shot_batches_agree():
    text = "H 0 1\nCX 0 2\nDEPOLARIZE1(0.2) 0 1 2\nM 0 1 2\nMX 1\n"
    whole = ordavine.sample(text, 50, seed=3)
    parts = b"".join(ordavine.sample(text, n, seed=3, first_shot=start)
                     for start, n in [(0, 13), (13, 1), (14, 0), (14, 36)])
    assert parts == whole and len(whole) == 50 * 4
    assert ordavine.sample(text, 50, seed=4) != whole
    # Detection events: a parity fixed at 1 without noise reads 0.
    d, o = ordavine.sample_detectors("M 0\nX 1\nM 1\nDETECTOR rec[-1]\nOBSERVABLE_INCLUDE(2) rec[-2] rec[-1]", 3)
    assert d == b"\x00" * 3 and o == b"\x00\x00\x00" * 3


def test_sample_arguments():
    with pytest.raises(TypeError, match="takes 2 positional arguments"):
        ordavine.sample("M 0", 1, 2)
    with pytest.raises(TypeError, match="unexpected keyword argument 'seeds'"):
        ordavine.sample("M 0", 1, seeds=2)
    with pytest.raises(TypeError, match="^sample\\(\\) missing 1 required positional argument: 'shots'$"):
        ordavine.sample("M 0")
    with pytest.raises(TypeError, match="argument 'circuit'"):
        ordavine.sample(b"M 0", 1)
    with pytest.raises(ValueError, match="first_shot"):
        ordavine.sample("M 0", 2, first_shot=2**64 - 2)
    with pytest.raises(MemoryError, match="line 2, column 1: the measurement record"):
        ordavine.sample("M 0\nREPEAT 1048576 {\nREPEAT 1048576 {\nM 0\n}\n}", 1)
    with pytest.raises(MemoryError, match="shots of"):
        ordavine.sample("M 0 1 2 3", 2**39)


# ---- refused texts leave the register as it was -------------------------------

HOSTILE = [
    ("H 0\nCX 0 1\nT 1", "line 3, column 1: unknown or unsupported instruction 'T'"),
    ("H 0\nM 0\nCX rec[-2] 1", "line 3, column 4: rec[-2] reaches before the first measurement"),
    ("H 0\nX_ERROR(2) 1", "line 2, column 9: probability"),
    ("H 0\nH 9", "line 2, column 3: qubit 9 is outside the register of 4 qubits"),
    ("H 0\nH \0", "line 2, column 3: malformed target starting with byte 0x00"),
    ("H 0\nH é", "line 2, column 3: malformed target starting with byte 0xC3"),
    ("H 0 " + "1 " * 500_000 + "q", "line 1, column 1000005: malformed target"),
    ("H " + "1234567 " * 3 + "12345678!", "line 1, column 35: unexpected '!' in a target"),
    ("CZ 0 1 2 3 0 1099511627776", "line 1, column 14: qubit index is too large"),
    ("REPEAT 2 {\n" * 65 + "H 0", "line 65, column 1: REPEAT blocks nested deeper than 64"),
    ("H 0\nREPEAT 18446744073709551616 {\nH 0\n}", "line 2, column 8: repeat count is too large"),
]


@pytest.mark.parametrize("text,message", HOSTILE, ids=[f"hostile{i}" for i in range(len(HOSTILE))])
def test_refused_text_names_line_and_column_and_changes_nothing(text, message):
    sim = ordavine.Ordavine(4)
    sim.h(1)
    sim.cz(1, 2)
    before = snapshot(sim, 4)
    with pytest.raises(ValueError) as error:
        sim.run(text)
    assert str(error.value).startswith(message)
    assert snapshot(sim, 4) == before
    with pytest.raises(ValueError):
        ordavine.sample(text if "outside" not in message else "H 0\nT 0", 1)


def test_run_rejects_a_record_too_large_and_non_text():
    sim = ordavine.Ordavine(1)
    with pytest.raises(MemoryError, match="line 1, column 1"):
        sim.run("REPEAT 1048576 {\nREPEAT 1048577 {\nM 0\n}\n}")
    with pytest.raises(TypeError, match="argument 'circuit': 'int' object cannot be cast as 'str'"):
        sim.run(5)
    assert sim.run("") == b"" and sim.get_vop(0) == 10
