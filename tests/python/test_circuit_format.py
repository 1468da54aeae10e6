"""The whole circuit format against Stim as the oracle.

- every instruction name of the format (Stim's list) runs;
- noiseless random circuits over every gate, measurement and product
  instruction, replayed in Stim's tableau simulator on our outcomes: every
  outcome Stim finds fixed is ours, and the final states are equal;
- noisy random circuits and each noise instruction on its own: record
  marginals and pair parities within 5 sigma of Stim's sampler; the bits
  Stim gives as constant without noise are the same constants here;
- Stim's generated code families, noiseless (nothing fires) and noisy
  (detector and observable rates and co-firing of detector pairs within 5
  sigma of the exact values of Stim's detector error model);
- refusals of texts Stim refuses too.
"""

import random

import pytest

import ordavine


@pytest.fixture(scope="module")
def stim():
    return pytest.importorskip("stim")


@pytest.fixture(scope="module")
def np():
    return pytest.importorskip("numpy")


# ---- every name of the format --------------------------------------------------

P15 = ", ".join(["0.01"] * 15)

# One line (or a few) using each instruction; `{}` marks where the name goes.
EXAMPLES = {
    "single": "{} 0 1",
    "pair": "{} 0 1 2 3",
    "II": "II 0 1",
    "M": "{} 0 !1", "MR": "{}(0.1) 0 !1", "R": "{} 0 1",
    "MPP": "MPP X0*Y1 !Z2 Z0*Z0", "MXX": "{}(0.1) 0 !1",
    "SPP": "{} X0*Y1 !Z2",
    "MPAD": "MPAD(0.1) 0 1",
    "X_ERROR": "{}(0.1) 0 1", "DEPOLARIZE1": "DEPOLARIZE1(0.1) 0 1",
    "DEPOLARIZE2": "DEPOLARIZE2(0.1) 0 1", "PAULI_CHANNEL_1": "PAULI_CHANNEL_1(0.1, 0.2, 0.3) 0",
    "PAULI_CHANNEL_2": f"PAULI_CHANNEL_2({P15}) 0 1",
    "E": "{}(0.2) X0 Y1", "ELSE_CORRELATED_ERROR": "E(0.1) Z0\nELSE_CORRELATED_ERROR(0.2) X0*Y1",
    "HERALDED_ERASE": "HERALDED_ERASE(0.1) 0 1",
    "HERALDED_PAULI_CHANNEL_1": "HERALDED_PAULI_CHANNEL_1(0.1, 0.1, 0.1, 0.1) 0",
    "I_ERROR": "I_ERROR[leak](0.1, 0.2) 0", "II_ERROR": "II_ERROR 0 1",
    "DETECTOR": "M 0\nDETECTOR(1, 2) rec[-1]", "OBSERVABLE_INCLUDE": "M 0\nOBSERVABLE_INCLUDE(1) rec[-1] Z2",
    "QUBIT_COORDS": "QUBIT_COORDS(1, 2) 0", "SHIFT_COORDS": "SHIFT_COORDS(0, 1)", "TICK": "TICK",
    "REPEAT": "REPEAT 2 {{\nH 0\nM 0\n}}",
}


def example_of(name, data):
    for key in (name, "M" if name in ("MX", "MY", "MZ") else None,
                "MR" if name.startswith("MR") else None, "R" if name in ("RX", "RY", "RZ") else None,
                "MXX" if name in ("MYY", "MZZ") else None, "SPP" if name == "SPP_DAG" else None,
                "X_ERROR" if name in ("Y_ERROR", "Z_ERROR") else None,
                "E" if name == "CORRELATED_ERROR" else None):
        if key in EXAMPLES:
            return EXAMPLES[key].format(name)
    if data.is_unitary and data.is_single_qubit_gate:
        return EXAMPLES["single"].format(name)
    if data.is_unitary and data.is_two_qubit_gate:
        return EXAMPLES["pair"].format(name)
    raise KeyError(name)


def test_every_instruction_name_of_the_format_runs(stim):
    names = []
    for canonical, data in stim.gate_data().items():
        names += [(alias, data) for alias in data.aliases]
    assert len(names) == 93  # 81 instructions and their aliases
    for name, data in names:
        text = example_of(name, data)
        stim.Circuit(text)  # the example is valid for the format
        circuit_qubits = stim.Circuit(text).num_qubits
        ordavine.Ordavine(max(circuit_qubits, 1)).run(text)
        records = ordavine.sample(text, 3, seed=1)
        assert len(records) == 3 * stim.Circuit(text).num_measurements, name
        detectors, observables = ordavine.sample_detectors(text, 3, seed=1)
        assert len(detectors) == 3 * stim.Circuit(text).num_detectors, name


# ---- noiseless random circuits, replayed in Stim on our outcomes ---------------

SINGLE = ["C_NXYZ", "C_NZYX", "C_XNYZ", "C_XYNZ", "C_XYZ", "C_ZNYX", "C_ZYNX", "C_ZYX", "H", "H_NXY",
          "H_NXZ", "H_NYZ", "H_XY", "H_YZ", "I", "S", "SQRT_X", "SQRT_X_DAG", "SQRT_Y", "SQRT_Y_DAG",
          "S_DAG", "X", "Y", "Z"]
PAIRS = ["CX", "CY", "CZ", "XCX", "XCY", "XCZ", "YCX", "YCY", "YCZ", "SWAP", "ISWAP", "ISWAP_DAG",
         "SQRT_XX", "SQRT_XX_DAG", "SQRT_YY", "SQRT_YY_DAG", "SQRT_ZZ", "SQRT_ZZ_DAG", "CXSWAP", "SWAPCX",
         "CZSWAP", "SWAPCZ", "II"]


def random_product(rng, n):
    """(text, list of (qubit, pauli), sign): a written product, repeats allowed
    when they keep it Hermitian."""
    while True:
        factors = [(rng.randrange(n), rng.choice("XYZ")) for _ in range(rng.randint(1, 4))]
        inverted = [rng.random() < 0.3 for _ in factors]
        text = "*".join(("!" if inv else "") + p + str(q) for (q, p), inv in zip(factors, inverted))
        return text, sum(inverted) % 2


def stim_product(stim, n, text):
    """The signed Pauli string a written product stands for, or None when it
    is anti-Hermitian."""
    product = stim.PauliString(n)
    for term in text.split("*"):
        sign = -1 if term.startswith("!") else 1
        term = term.lstrip("!")
        single = stim.PauliString(n)
        single[int(term[1:])] = term[0]
        product = product * (single * sign)
    if product.sign not in (1, -1):
        return None
    return product


def random_noiseless_circuit(rng, n, length, stim, exact=False):
    """Lines of a random circuit without noise; `exact`: only what a replay
    on our record can follow."""
    lines, measured = [], 0
    for _ in range(length):
        a, b = rng.sample(range(n), 2)
        roll = rng.random()
        if roll < 0.2:
            lines.append(f"{rng.choice(SINGLE)} {a}")
        elif roll < 0.45:
            lines.append(f"{rng.choice(PAIRS)} {a} {b}")
        elif roll < 0.55:
            lines.append(f"{rng.choice(['M', 'MX', 'MY', 'MR', 'MRX', 'MRY'])} {'!' * rng.randint(0, 1)}{a}")
            measured += 1
        elif roll < 0.6 and not exact:
            # A bare reset's outcome is not recorded, so a replay could not follow it.
            lines.append(f"{rng.choice(['R', 'RX', 'RY'])} {a}")
        elif roll < 0.72:
            products = []
            while len(products) < rng.randint(1, 2):
                text, _ = random_product(rng, n)
                if stim_product(stim, n, text) is not None:
                    products.append(text)
            lines.append("MPP " + " ".join(products))
            measured += len(products)
        elif roll < 0.8:
            lines.append(f"{rng.choice(['MXX', 'MYY', 'MZZ'])} {'!' * rng.randint(0, 1)}{a} {'!' * rng.randint(0, 1)}{b}")
            measured += 1
        elif roll < 0.88:
            text, _ = random_product(rng, n)
            if stim_product(stim, n, text) is not None:
                lines.append(f"{rng.choice(['SPP', 'SPP_DAG'])} {text}")
        elif roll < 0.92:
            lines.append(f"MPAD {rng.randint(0, 1)}")
            measured += 1
        elif measured:
            k = rng.randint(1, measured)
            lines.append(rng.choice([f"CX rec[-{k}] {a}", f"CY rec[-{k}] {a}", f"CZ rec[-{k}] {a}",
                                     f"CZ {a} rec[-{k}]", f"XCZ {a} rec[-{k}]", f"YCZ {a} rec[-{k}]"]))
    return lines


def replay(stim, n, lines, record):
    """Follows our record in Stim's tableau simulator; returns the count of
    outcomes Stim found fixed (each checked against ours) and the simulator."""
    sim = stim.TableauSimulator()
    sim.set_num_qubits(n)
    at, fixed = 0, 0

    def postselect(pauli, bit):
        nonlocal fixed
        expected = sim.peek_observable_expectation(pauli)
        if expected != 0:
            fixed += 1
            assert bit == (expected == -1), (lines, at)
        sim.postselect_observable(pauli, desired_value=bool(bit))

    for line in lines:
        instruction = stim.Circuit(line)[0]
        name, targets = instruction.name, instruction.targets_copy()
        if name in ("M", "MX", "MY", "MR", "MRX", "MRY"):
            t = targets[0]
            basis = name[-1] if name[-1] in "XY" else "Z"
            pauli = stim.PauliString(n)
            pauli[t.value] = basis
            postselect(pauli, record[at] ^ t.is_inverted_result_target)
            if name.startswith("MR"):
                sim.do(stim.Circuit(f"R{basis if basis != 'Z' else ''} {t.value}"))
            at += 1
        elif name == "MPP":
            for product in line.split()[1:]:
                postselect(stim_product(stim, n, product), record[at])
                at += 1
        elif name in ("MXX", "MYY", "MZZ"):
            pauli = stim.PauliString(n)
            pauli[targets[0].value] = name[1]
            pauli[targets[1].value] = name[1]
            sign = -1 if targets[0].is_inverted_result_target != targets[1].is_inverted_result_target else 1
            postselect(pauli * sign, record[at])
            at += 1
        elif name == "MPAD":
            assert record[at] == targets[0].value
            at += 1
        elif any(t.is_measurement_record_target for t in targets):
            # <p>C<q>: a record standing first applies q to the second
            # operand, one standing second applies p to the first.
            letters = name if name[1] == "C" else "Z" + name
            record_first = targets[0].is_measurement_record_target
            rec, q = (targets[0], targets[1]) if record_first else (targets[1], targets[0])
            if record[at + rec.value]:
                sim.do(stim.Circuit(f"{letters[2] if record_first else letters[0]} {q.value}"))
        else:
            sim.do(stim.Circuit(line))
    assert at == len(record)
    return fixed, sim


def canonical(stim, stabilizers):
    tableau = stim.Tableau.from_stabilizers([stim.PauliString(s) for s in stabilizers])
    return [str(s) for s in tableau.to_stabilizers(canonicalize=True)]


def test_noiseless_circuits_of_every_gate_follow_stim_exactly(stim):
    rng = random.Random(18)
    fixed_total = 0
    for trial in range(150):
        n = rng.randint(2, 7)
        lines = random_noiseless_circuit(rng, n, 60, stim, exact=True)
        ordavine.seed(trial)
        reg = ordavine.Ordavine(n)
        record = reg.run("\n".join(lines))
        fixed, sim = replay(stim, n, lines, record)
        fixed_total += fixed
        assert canonical(stim, reg.stabilizers()) == [str(s) for s in sim.canonical_stabilizers()], lines
    ordavine.seed(None)
    assert fixed_total > 500


def test_new_two_qubit_gates_run_as_their_documented_steps():
    steps = {
        "CXSWAP": lambda s, a, b: (s.cx(b, a), s.cx(a, b)),
        "SWAPCX": lambda s, a, b: (s.cx(a, b), s.cx(b, a)),
        "CZSWAP": lambda s, a, b: (s.cz(a, b), s.cx(a, b), s.cx(b, a), s.cx(a, b)),
        "SQRT_ZZ": lambda s, a, b: (s.s(a), s.s(b), s.cz(a, b)),
        "SQRT_ZZ_DAG": lambda s, a, b: (s.sdag(a), s.sdag(b), s.cz(a, b)),
        "SQRT_XX": lambda s, a, b: (s.h(a), s.h(b), s.s(a), s.s(b), s.cz(a, b), s.h(a), s.h(b)),
    }
    rng = random.Random(5)
    for name, step in steps.items():
        for _ in range(30):
            n = 5
            prefix = [f"H {q}" for q in range(n)] + [f"CZ {a} {b}" for a, b in
                                                      (rng.sample(range(n), 2) for _ in range(6))]
            a, b = rng.sample(range(n), 2)
            by_run, by_calls = ordavine.Ordavine(n), ordavine.Ordavine(n)
            by_run.run("\n".join(prefix + [f"{name} {a} {b}"]))
            by_calls.run("\n".join(prefix))
            step(by_calls, a, b)
            assert ([by_run.get_vop(q) for q in range(n)], [by_run.get_neighbors(q) for q in range(n)]) == (
                [by_calls.get_vop(q) for q in range(n)], [by_calls.get_neighbors(q) for q in range(n)]), name


# ---- distributions against Stim's sampler ---------------------------------------

def within_5_sigma(np, ours, theirs, label):
    """Bits of shots (rows) against Stim's: every marginal and the parity of
    every pair of columns within 5 sigma of a two-sample comparison."""
    ours, theirs = ours.astype(np.int64), theirs.astype(np.int64)
    n1, n2 = len(ours), len(theirs)

    def check(p, q, what):
        pooled = (p * n1 + q * n2) / (n1 + n2)
        sigma = np.sqrt(pooled * (1 - pooled) * (1 / n1 + 1 / n2))
        bad = np.abs(p - q) > 5 * sigma + 1e-12
        assert not bad.any(), f"{label}: {what} {np.argwhere(bad)[:5].tolist()} ours {p[bad][:5]} stim {q[bad][:5]}"

    check(ours.mean(axis=0), theirs.mean(axis=0), "marginals")
    # Parity of columns i and j: a_i + a_j - 2 a_i a_j.
    def pair_parities(bits):
        m = bits.mean(axis=0)
        both = bits.T @ bits / len(bits)
        return m[:, None] + m[None, :] - 2 * both
    check(pair_parities(ours), pair_parities(theirs), "pair parities")


NOISE = ["X_ERROR(0.1) {a}", "Y_ERROR(0.2) {a}", "Z_ERROR(0.15) {a}", "DEPOLARIZE1(0.2) {a}",
         "DEPOLARIZE2(0.2) {a} {b}", "PAULI_CHANNEL_1(0.05, 0.1, 0.15) {a}",
         "PAULI_CHANNEL_2(0.01, 0.02, 0.03, 0.04, 0.05, 0.06, 0.07, 0.01, 0.02, 0.03, 0.04, 0.05, 0.06, 0.07, 0.08) {a} {b}",
         "E(0.2) X{a} Y{b}\nELSE_CORRELATED_ERROR(0.3) Z{a}\nELSE_CORRELATED_ERROR(0.25) X{b}*X{a}",
         "HERALDED_ERASE(0.2) {a}", "HERALDED_PAULI_CHANNEL_1(0.05, 0.1, 0.05, 0.1) {a}",
         "M(0.1) {a}", "MPP(0.1) X{a}*Z{b}", "MZZ(0.1) {a} {b}", "MPAD(0.2) 1 0", "MRY(0.1) {a}"]


def noisy_circuit(rng, n, length, stim):
    lines = random_noiseless_circuit(rng, n, length, stim)
    noisy = []
    for line in lines:
        noisy.append(line)
        if rng.random() < 0.4:
            a, b = rng.sample(range(n), 2)
            noisy.append(rng.choice(NOISE).format(a=a, b=b))
    noisy.append("M " + " ".join(str(q) for q in range(n)))
    return "\n".join(noisy)


def test_noisy_random_circuits_match_stims_record_distribution(stim, np):
    rng = random.Random(1818)
    shots = 20_000
    for trial in range(12):
        n = rng.randint(2, 4)
        text = noisy_circuit(rng, n, 14, stim)
        circuit = stim.Circuit(text)
        ours = np.frombuffer(ordavine.sample(text, shots, seed=trial), np.uint8).reshape(shots, -1)
        theirs = circuit.compile_sampler(seed=trial).sample(100_000)
        within_5_sigma(np, ours, theirs, text)


def test_noiseless_constants_match_stim(stim, np):
    rng = random.Random(77)
    constant_bits = 0
    for trial in range(40):
        n = rng.randint(2, 6)
        text = "\n".join(random_noiseless_circuit(rng, n, 40, stim) + ["M " + " ".join(map(str, range(n)))])
        theirs = stim.Circuit(text).compile_sampler(seed=trial).sample(256)
        ours = np.frombuffer(ordavine.sample(text, 256, seed=trial), np.uint8).reshape(256, -1)
        constant = np.all(theirs == theirs[0], axis=0)
        constant_bits += int(constant.sum())
        assert np.all(ours[:, constant] == theirs[0, constant]), text
        # The random bits are random here too.
        assert np.all(ours[:, ~constant].min(axis=0) != ours[:, ~constant].max(axis=0)), text
    assert constant_bits > 60


@pytest.mark.parametrize("line", NOISE + ["I_ERROR(0.3) {a}\nII_ERROR(0.1, 0.2) {a} {b}"])
def test_each_noise_instruction_alone_matches_stim(stim, np, line):
    # The channel acts on qubit 1, half of a Bell pair with qubit 3, and on
    # qubit 2 in |0> (so that swapping its two operands shows); qubit 0
    # is in |+i>.  Then every qubit is measured in X, Y and Z on copies.
    prep = "H 0\nS 0\nH 1\nCX 1 3\n"
    body = line.format(a=1, b=2)
    shots = 20_000
    for basis in "XYZ":
        text = prep + body + f"\nM{basis} 0 1 2 3"
        ours = np.frombuffer(ordavine.sample(text, shots, seed=hash(basis) % 1000), np.uint8).reshape(shots, -1)
        theirs = stim.Circuit(text).compile_sampler(seed=3).sample(100_000)
        within_5_sigma(np, ours, theirs, text)


# ---- generated code families against the exact rates of Stim's error model --------

FAMILIES = ["repetition_code:memory", "surface_code:rotated_memory_x", "surface_code:rotated_memory_z",
            "surface_code:unrotated_memory_x", "surface_code:unrotated_memory_z", "color_code:memory_xyz"]
KNOBS = ["after_clifford_depolarization", "before_round_data_depolarization",
         "before_measure_flip_probability", "after_reset_flip_probability"]


@pytest.mark.parametrize("family", FAMILIES)
def test_noiseless_code_families_never_fire(stim, family):
    for distance in (3, 5, 7):
        circuit = stim.Circuit.generated(family, distance=distance, rounds=2)
        detectors, observables = ordavine.sample_detectors(str(circuit), 16, seed=distance)
        assert len(detectors) == 16 * circuit.num_detectors
        assert not any(detectors) and not any(observables), (family, distance)


def exact_rates(np, circuit):
    """Detector and observable firing rates, and the co-firing rate of every
    pair of detectors, from the independent error mechanisms of the circuit's
    detector error model: E[(-1)^(sum of a set)] is the product of (1 - 2p)
    over the mechanisms that flip the set an odd number of times."""
    dem = circuit.detector_error_model(decompose_errors=False, approximate_disjoint_errors=False)
    d, o = circuit.num_detectors, circuit.num_observables
    rows, logs = [], []
    for instruction in dem.flattened():
        if instruction.type != "error":
            continue
        flips = np.zeros(d + o)
        for t in instruction.targets_copy():
            if t.is_relative_detector_id():
                flips[t.val] = 1
            elif t.is_logical_observable_id():
                flips[d + t.val] = 1
        rows.append(flips)
        logs.append(np.log1p(-2 * instruction.args_copy()[0]))
    a, l = np.array(rows), np.array(logs)
    single = a.T @ l
    joint = single[:, None] + single[None, :] - 2 * (a.T * l) @ a
    e1, e2 = np.exp(single), np.exp(joint)
    marginal = (1 - e1) / 2
    both = (1 - e1[:, None] - e1[None, :] + e2) / 4
    return marginal, both


@pytest.mark.parametrize("family", FAMILIES)
@pytest.mark.parametrize("knob", KNOBS + ["all"])
def test_noisy_code_families_match_the_exact_rates(stim, np, family, knob):
    distances = (3, 5, 7) if knob == "all" else (3,)
    for distance in distances:
        knobs = {k: 0.01 for k in KNOBS} if knob == "all" else {knob: 0.02}
        circuit = stim.Circuit.generated(family, distance=distance, rounds=3, **knobs)
        shots = 50_000
        det, obs = ordavine.sample_detectors(str(circuit), shots, seed=distance)
        bits = np.concatenate([np.frombuffer(det, np.uint8).reshape(shots, -1),
                               np.frombuffer(obs, np.uint8).reshape(shots, -1)], axis=1).astype(np.float64)
        marginal, both = exact_rates(np, circuit)
        seen, seen_both = bits.mean(axis=0), bits.T @ bits / shots
        for observed, exact, what in [(seen, marginal, "rates"), (seen_both, both, "co-firing")]:
            sigma = np.sqrt(np.clip(exact * (1 - exact), 0, None) / shots)
            bad = np.abs(observed - exact) > 5 * sigma + 1e-9
            assert not bad.any(), (family, knob, distance, what, np.argwhere(bad)[:5].tolist())
        assert seen.max() > 0  # the noise is there at all


def test_detection_events_are_the_records_stims_converter_turns_into_events(stim, np):
    # The color code has detectors whose parity is 1 without noise.  With
    # the same seed the two calls run the same shots, so the detection
    # events must be exactly what Stim's converter makes of the records.
    for noise in (0.0, 0.01):
        circuit = stim.Circuit.generated("color_code:memory_xyz", distance=5, rounds=3,
                                         before_measure_flip_probability=noise,
                                         after_clifford_depolarization=noise)
        shots = 300
        records = np.frombuffer(ordavine.sample(str(circuit), shots, seed=9), np.uint8).reshape(shots, -1)
        events, flips = circuit.compile_m2d_converter().convert(
            measurements=records.astype(bool), separate_observables=True)
        det, obs = ordavine.sample_detectors(str(circuit), shots, seed=9)
        assert np.array_equal(np.frombuffer(det, np.uint8).reshape(shots, -1), events), noise
        assert np.array_equal(np.frombuffer(obs, np.uint8).reshape(shots, -1), flips), noise
        assert events.any() == (noise > 0)


# ---- refusals ------------------------------------------------------------------------

REFUSED = [
    ("MPP X0*Z0", "line 1, column 5: this product in MPP is anti-Hermitian"),
    ("SPP X1*Y1*Z1", "line 1, column 5: this product in SPP is anti-Hermitian"),
    ("MPP X0*", "line 1, column 7: '*' must stand between two Pauli targets"),
    ("MPP *X0", "line 1, column 5: '*' must stand between two Pauli targets"),
    ("MPP X0**Y1", "line 1, column 8: '*' must stand between two Pauli targets"),
    ("MPP 0", "line 1, column 5: MPP takes Pauli targets such as X0, not bare qubit indices"),
    ("M 0\nMPP rec[-1]", "line 2, column 5: MPP takes Pauli targets such as X0, not measurement records"),
    ("MPP X 0", "line 1, column 6: expected a qubit index right after the Pauli X"),
    ("MPP(0.1, 0.2) X0", "line 1, column 5: MPP takes 0 or 1 argument, found 2"),
    ("SPP(0.1) X0", "line 1, column 5: SPP takes 0 arguments, found 1"),
    ("MXX 0 0", "line 1, column 7: MXX acts on qubit 0 twice in one pair"),
    ("MZZ 0 1 2", "line 1, column 9: MZZ takes targets in pairs"),
    ("MXX X0 X1", "line 1, column 5: MXX takes qubit targets, not Pauli targets such as X0"),
    ("MPAD 2", "line 1, column 6: MPAD takes the bits 0 and 1 as targets, found 2"),
    ("MPAD !1", "line 1, column 6: MPAD takes no inverted (!) targets"),
    ("E(0.1) 0", "line 1, column 8: E takes Pauli targets such as X0, not bare qubit indices"),
    ("E X0", "line 1, column 1: E takes 1 argument, found 0"),
    ("ELSE_CORRELATED_ERROR(1.5) X0", "line 1, column 23: probability 1.500000 is outside [0, 1]"),
    ("HERALDED_ERASE X0", "line 1, column 1: HERALDED_ERASE takes 1 argument, found 0"),
    ("HERALDED_ERASE(0.1) X0", "line 1, column 21: HERALDED_ERASE takes qubit targets, not Pauli targets"),
    ("HERALDED_PAULI_CHANNEL_1(0.5, 0.5, 0.1, 0) 0", "add up to more than 1"),
    (f"PAULI_CHANNEL_2({', '.join(['0.1'] * 15)}) 0 1", "the probabilities of PAULI_CHANNEL_2 add up to more than 1"),
    ("PAULI_CHANNEL_2(0.1) 0 1", "PAULI_CHANNEL_2 takes 15 arguments, found 1"),
    ("PAULI_CHANNEL_2(" + P15 + ") 0 0", "PAULI_CHANNEL_2 acts on qubit 0 twice in one pair"),
    ("I_ERROR(2) 0", "probability 2.000000 is outside [0, 1]"),
    ("I_ERROR(0.5, 0.6) 0", "the probabilities of I_ERROR add up to more than 1"),
    ("II_ERROR 0", "II_ERROR takes targets in pairs"),
    ("II 0 0", "II acts on qubit 0 twice in one pair"),
    ("CXSWAP 1 1", "CXSWAP acts on qubit 1 twice in one pair"),
    ("M 0\nSQRT_XX rec[-1] 0", "line 2, column 9: SQRT_XX takes qubit targets, not measurement records"),
    ("M 0\nSWAPCX rec[-1] 0", "SWAPCX takes qubit targets, not measurement records"),
    ("CX 0 sweep[1]", "line 1, column 6: a sweep bit can only stand where CX reads Z"),
    ("H sweep[3]", "line 1, column 3: H takes no sweep[k] targets"),
    ("OBSERVABLE_INCLUDE(0) X0*Z1", "line 1, column 25: OBSERVABLE_INCLUDE takes no '*'"),
    ("OBSERVABLE_INCLUDE(0) 5", "OBSERVABLE_INCLUDE takes measurement records rec[-k] and Pauli targets"),
    ("DETECTOR X0", "DETECTOR takes only measurement record targets rec[-k]"),
    ("H[a\\xb] 0", "line 1, column 4: unknown escape in a tag"),
    ("H[abc 0", "line 1, column 2: the tag opened here is never closed by ']'"),
    ("H [t] 0", "line 1, column 3: malformed target starting with '['"),
    ("X_ERROR(1e400) 0", "line 1, column 9: the number 1e400 is too large"),
    ("H 99999999999", "line 1, column 3: qubit index is too large (the largest a register holds is 4294967294)"),
    ("CX sweep[99999999999] 0", "line 1, column 10: sweep bit index is too large"),
]


@pytest.mark.parametrize("text,message", REFUSED, ids=[f"refused{i}" for i in range(len(REFUSED))])
def test_refusals_name_line_column_and_problem(text, message):
    sim = ordavine.Ordavine(4)
    with pytest.raises(ValueError) as error:
        sim.run(text)
    assert message in str(error.value)
    with pytest.raises(ValueError):
        ordavine.sample(text, 1)
    with pytest.raises(ValueError):
        ordavine.sample_detectors(text, 1)


def test_stim_refuses_the_refused_texts_too(stim):
    for text, _ in REFUSED:
        # (Stim's reader does not come back from an unclosed tag.)
        if "sweep[99999999999]" in text or "1e400" in text or text.startswith("H[abc"):
            continue
        with pytest.raises(ValueError):
            circuit = stim.Circuit(text)
            circuit.compile_sampler().sample(1)


def test_accepted_edge_cases():
    # A number too small for a double is 0; an index the register can hold
    # is read; tags, sweep bits, combiners with blanks, lower-case Paulis and
    # `!` on heralds are read as the format has them.
    assert ordavine.sample("X_ERROR(1e-400) 0\nM 0", 5, seed=1) == b"\x00" * 5
    assert ordavine.sample("X_ERROR(+1) 0\nM 0", 2, seed=1) == b"\x01" * 2
    text = ("H[my tag \\C\\B\\n] 0\nTICK[t]\nREPEAT[r] 2 {\nCX sweep[4] 1\n}\n"
            "MPP x0 * z1\nMPP !Y2*Y2\nHERALDED_ERASE(0) !3\nCZ rec[-1] rec[-2]\nM 1")
    record = ordavine.sample(text, 4, seed=2)
    assert record[0::4] == b"\x00" * 4  # X0*Z1 of |+>|0>: +1
    assert record[1::4] == b"\x01" * 4  # !Y2*Y2 is -I: -1
    assert record[2::4] == b"\x00" * 4  # a herald that never fires
    assert ordavine.Ordavine(1).run("H 0\n" * 3 + "MPP X0*X0") == b"\x00"
