"""Per-call cost of the gate methods made from the instruction records,
against the hand-written h and cx (CPython or PyPy, whichever runs it).

    python bench/gate_methods.py

Prints the median time per call of each method over repeated loops of
calls on a fresh register, and its ratio to h (single-qubit) or to cx
(two-qubit; a SWAP runs three CX, so its ratio is about three).
"""

import statistics
import timeit

import ordavine


def per_call(statement, reg, calls=100_000, repeats=7):
    timer = timeit.Timer(statement, globals={"reg": reg})
    return statistics.median(timer.repeat(repeats, calls)) / calls


def main():
    reg = ordavine.Ordavine(2)
    rows = [("h", "reg.h(0)"), ("sqrt_x", "reg.sqrt_x(0)"), ("c_xyz", "reg.c_xyz(0)"),
            ("s_dag", "reg.s_dag(0)"), ("sdag", "reg.sdag(0)")]
    base = per_call("reg.h(0)", reg)
    print("| method | ns per call | ratio to h |\n|---|---:|---:|")
    for name, statement in rows:
        t = per_call(statement, reg)
        print(f"| {name} | {t * 1e9:.1f} | {t / base:.2f} |")
    base = per_call("reg.cx(0, 1)", reg)
    print("\n| method | ns per call | ratio to cx |\n|---|---:|---:|")
    for name in ["cx", "cz", "swap", "iswap", "sqrt_zz", "cxswap"]:
        t = per_call(f"reg.{name}(0, 1)", reg)
        print(f"| {name} | {t * 1e9:.1f} | {t / base:.2f} |")


if __name__ == "__main__":
    main()
