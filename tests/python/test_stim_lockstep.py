"""Lock-step comparison with an independent tableau simulator.

Every gate is applied to both simulators.  At every measurement the tableau
simulator says whether the outcome is fixed: if it is, ours must agree; if it
is not, the tableau simulator is postselected onto our outcome.  A wrong
graph or VOP update shows up as a fixed outcome we disagree with.
"""
import random

import pytest

import ordavine

stim = pytest.importorskip("stim")

SINGLE = ["h", "s", "sdag", "x", "y", "z"]
STIM_SINGLE = {"h": "h", "s": "s", "sdag": "s_dag", "x": "x", "y": "y", "z": "z"}
TWO = ["cz", "cx", "cy", "xcx", "xcy", "xcz", "ycx", "ycy", "ycz"]
BASES = ["x", "y", "z"]


def measure_both(sim, tab, basis, q):
    ours = int(getattr(sim, "measure_" + basis)(q))
    expected = getattr(tab, "peek_" + basis)(q)
    if expected != 0:
        assert ours == (0 if expected == 1 else 1), f"fixed {basis} outcome of qubit {q}"
    getattr(tab, "postselect_" + basis)(q, desired_value=bool(ours))
    return ours, expected != 0


def run_random_circuit(n, steps, rng, two_qubit_weight=0.45, measure_weight=0.1):
    sim = ordavine.Ordavine(n)
    tab = stim.TableauSimulator()
    tab.set_num_qubits(n)
    fixed = random_outcomes = 0
    for _ in range(steps):
        roll = rng.random()
        if roll < measure_weight:
            q = rng.randrange(n)
            # Half of the time prefer a basis whose outcome the state fixes:
            # that checks the state rather than just following it.
            fixed_bases = [b for b in BASES if getattr(tab, "peek_" + b)(q) != 0]
            basis = rng.choice(fixed_bases) if fixed_bases and rng.random() < 0.5 else rng.choice(BASES)
            _, was_fixed = measure_both(sim, tab, basis, q)
            fixed += was_fixed
            random_outcomes += not was_fixed
        elif roll < measure_weight + two_qubit_weight:
            gate = rng.choice(TWO)
            a, b = rng.sample(range(n), 2)
            getattr(sim, gate)(a, b)
            getattr(tab, gate)(a, b)
        else:
            gate = rng.choice(SINGLE)
            q = rng.randrange(n)
            getattr(sim, gate)(q)
            getattr(tab, STIM_SINGLE[gate])(q)
    # Finally every qubit, in a basis the state fixes where there is one.
    for q in rng.sample(range(n), n):
        fixed_bases = [b for b in BASES if getattr(tab, "peek_" + b)(q) != 0]
        _, was_fixed = measure_both(sim, tab, rng.choice(fixed_bases or BASES), q)
        fixed += was_fixed
    return fixed, random_outcomes


@pytest.mark.parametrize("n, steps, seed", [(50, 3000, 1), (120, 4000, 2), (300, 6000, 3)])
def test_random_circuits_agree_with_tableau_simulator(n, steps, seed):
    fixed, random_outcomes = run_random_circuit(n, steps, random.Random(seed))
    # The comparison only has teeth if both kinds of outcome occurred.
    assert fixed > n // 2 and random_outcomes > 50


@pytest.mark.parametrize("seed", range(20))
def test_small_dense_circuits_agree(seed):
    # Few qubits and many two-qubit gates: high degrees, many reductions.
    fixed, random_outcomes = run_random_circuit(6, 1000, random.Random(1000 + seed), two_qubit_weight=0.7)
    assert fixed >= 8 and random_outcomes >= 20


@pytest.mark.parametrize("gate", TWO)
def test_each_two_qubit_gate_on_all_basis_inputs(gate):
    # Prepare each of the 6x6 Pauli eigenstates on two qubits, apply the gate,
    # and measure both qubits in every basis pair.
    prep = {"+z": [], "-z": ["x"], "+x": ["h"], "-x": ["x", "h"], "+y": ["h", "s"], "-y": ["x", "h", "s"]}
    for pa, ga in prep.items():
        for pb, gb in prep.items():
            for ba in BASES:
                for bb in BASES:
                    sim = ordavine.Ordavine(2)
                    tab = stim.TableauSimulator()
                    tab.set_num_qubits(2)
                    for q, gates in ((0, ga), (1, gb)):
                        for g in gates:
                            getattr(sim, g)(q)
                            getattr(tab, STIM_SINGLE[g])(q)
                    getattr(sim, gate)(0, 1)
                    getattr(tab, gate)(0, 1)
                    measure_both(sim, tab, ba, 0)
                    measure_both(sim, tab, bb, 1)
