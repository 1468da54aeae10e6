"""Hands a graph state to other tools: a networkx graph and a Stim tableau.

Builds a side x side cluster state, measures its corner qubit in Y (which
joins the corner's two neighbours) and a middle qubit in Z (which cuts it
out), then:

* reads the graph with ``edges()`` and ``vops()`` into a ``networkx.Graph``
  with each qubit's VOP as node attribute "vop", and checks it against the
  register's own lists;
* checks the entanglement entropy of the top rows: one bit per column, the
  qubits of the row below the cut;
* makes a ``stim.Tableau`` of the same state from ``stabilizers()``, and has
  Stim confirm every generator (expectation +1) and predict the Z outcome
  that the register measured.

Needs networkx and stim: pip install networkx stim

    python examples/export_state.py [--side N]
"""

from __future__ import annotations

import argparse

import networkx as nx
import stim

from ordavine import Ordavine


def check(condition: bool, message: str) -> None:
    """Stops the example with `message` when a prediction fails."""
    if not condition:
        raise AssertionError(message)


def cluster(side: int) -> Ordavine:
    sim = Ordavine(side * side)
    for q in range(side * side):
        sim.h(q)
    for q in range(side * side):
        if q % side + 1 < side:
            sim.cz(q, q + 1)
        if q + side < side * side:
            sim.cz(q, q + side)
    return sim


def to_networkx(sim: Ordavine, nodes: int) -> nx.Graph[int]:
    """The register's graph, each qubit with its VOP as attribute "vop"."""
    graph: nx.Graph[int] = nx.Graph()
    graph.add_nodes_from((q, {"vop": vop}) for q, vop in enumerate(sim.vops()))
    pairs = iter(sim.edges())  # a0, b0, a1, b1, ...
    graph.add_edges_from(zip(pairs, pairs))
    check(graph.number_of_nodes() == nodes, "one node per qubit")
    return graph


def to_stim(sim: Ordavine) -> stim.Tableau:
    """A tableau whose Z outputs are the register's stabilizer generators."""
    return stim.Tableau.from_stabilizers([stim.PauliString(text) for text in sim.stabilizers()])


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--side", type=int, default=6)
    side = parser.parse_args(argv).side
    check(side >= 3, "--side must be at least 3")
    n = side * side
    sim = cluster(side)
    top_rows = set(range((side // 2) * side))
    check(sim.entanglement_entropy(top_rows) == side,
          "a cut across a cluster carries one bit per column")

    middle = (side // 2) * side + side // 2  # in the first row below the cut
    sim.measure_y(0)
    outcome = int(sim.measure_z(middle))

    graph = to_networkx(sim, n)
    for q in range(n):
        check(sorted(graph.neighbors(q)) == sorted(sim.get_neighbors(q)), f"edges of {q}")
        check(graph.nodes[q]["vop"] == sim.get_vop(q), f"VOP of {q}")
    check(graph.degree(middle) == 0 and graph.degree(0) == 0, "measured qubits are cut out")
    check(graph.has_edge(1, side), "the Y measurement joins the corner's neighbours")
    # The Z-measured qubit below the cut no longer carries entanglement across it.
    check(sim.entanglement_entropy(top_rows) == side - 1, "the measured qubit leaves the cut")

    tableau = to_stim(sim)
    simulator = stim.TableauSimulator()
    simulator.do_tableau(tableau, list(range(n)))  # the tableau applied to |0...0>
    for q, text in enumerate(sim.stabilizers()):
        check(simulator.peek_observable_expectation(stim.PauliString(text)) == 1,
              f"Stim does not confirm generator {q}")
    predicted = simulator.peek_z(middle)
    check(predicted == (1 if outcome == 0 else -1), "Stim predicts the Z outcome we measured")

    print(f"{n} qubits, {graph.number_of_edges()} edges, "
          f"{nx.number_connected_components(graph)} connected components; "
          f"entropy of the top rows {sim.entanglement_entropy(top_rows)} bits; "
          f"Stim confirms all {n} generators")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
