"""Draws a small graph state, read back through get_neighbors and get_vop, to a PNG.

The state is a 3 x 3 cluster with one extra qubit, 9, made a copy of the
centre's Z value by a CNOT, then the corner qubit 0 measured in Y (which joins its two
neighbours by an edge and leaves VOPs other than the identity behind).  Each
vertex is labelled "qubit/VOP".  The program checks that the graph it reads
back is symmetric and is the one the gates predict, then draws it.

Needs the optional extras: pip install "ordavine[draw]" (networkx, matplotlib).

    python examples/draw_graph.py [output.png]
"""

from __future__ import annotations

import sys

import matplotlib

matplotlib.use("Agg")  # draw to a file; no display needed

import matplotlib.pyplot as plt  # noqa: E402
import networkx as nx  # noqa: E402

from ordavine import Ordavine  # noqa: E402

SIDE = 3


def check(condition: bool, message: str) -> None:
    """Stops the example with `message` when a prediction fails."""
    if not condition:
        raise AssertionError(message)


def build() -> Ordavine:
    """The 3 x 3 cluster plus qubit 9, after measuring qubit 0 in Y."""
    sim = Ordavine(SIDE * SIDE + 1)
    for q in range(SIDE * SIDE):
        sim.h(q)
    for q in range(SIDE * SIDE):
        r, c = divmod(q, SIDE)
        if c + 1 < SIDE:
            sim.cz(q, q + 1)
        if r + 1 < SIDE:
            sim.cz(q, q + SIDE)
    sim.cx(4, 9)  # the centre's state spreads to qubit 9
    sim.measure_y(0)
    return sim


def read_graph(sim: Ordavine, nodes: int) -> nx.Graph[int]:
    """The register's graph with each vertex's VOP as attribute "vop"."""
    graph: nx.Graph[int] = nx.Graph()
    for q in range(nodes):
        graph.add_node(q, vop=sim.get_vop(q))
    for q in range(nodes):
        for neighbour in sim.get_neighbors(q):
            check(q in sim.get_neighbors(neighbour), f"edge {q}-{neighbour} is one-sided")
            graph.add_edge(q, neighbour)
    return graph


def expected_edges() -> set[frozenset[int]]:
    """Edges among the lattice qubits: the square lattice, except that qubit
    0, measured in Y, is cut out and its two neighbours 1 and 3 are joined
    (a Y measurement complements the measured qubit's neighbourhood)."""
    edges = set()
    for q in range(SIDE * SIDE):
        r, c = divmod(q, SIDE)
        if c + 1 < SIDE:
            edges.add(frozenset((q, q + 1)))
        if r + 1 < SIDE:
            edges.add(frozenset((q, q + SIDE)))
    edges -= {frozenset((0, 1)), frozenset((0, 3))}
    edges.add(frozenset((1, 3)))
    return edges


def draw(graph: nx.Graph[int], path: str) -> None:
    """Draws the lattice qubits on their grid positions and qubit 9 below the centre."""
    positions: dict[int, tuple[float, float]] = {
        q: (q % SIDE, -(q // SIDE)) for q in range(SIDE * SIDE)}
    positions[SIDE * SIDE] = (1.5, -1.5)
    labels = {q: f"{q}/{graph.nodes[q]['vop']}" for q in graph.nodes}
    figure, axes = plt.subplots(figsize=(5, 5))
    nx.draw_networkx(graph, positions, ax=axes, labels=labels, node_size=900,
                     node_color="#cfe3f7", edgecolors="#1f4e79", font_size=9)
    axes.set_title("graph state: qubit/VOP")
    axes.axis("off")
    figure.savefig(path, dpi=100)
    plt.close(figure)


def main(argv: list[str] | None = None) -> int:
    args = sys.argv[1:] if argv is None else argv
    path = args[0] if args else "graph_state.png"
    sim = build()
    graph = read_graph(sim, SIDE * SIDE + 1)
    check(graph.degree(0) == 0, "the measured qubit is cut out of the graph")
    lattice = {frozenset(e) for e in graph.subgraph(range(SIDE * SIDE)).edges}
    check(lattice == expected_edges(), f"unexpected lattice edges: {sorted(map(sorted, lattice))}")
    # CNOT(c, t) on t in |0> is H_t CZ(c, t) on t in |+>: qubit 9 hangs on
    # the centre as a leaf, with the Hadamard as its VOP.
    check(sim.get_neighbors(9) == [4] and sim.get_vop(9) == 10,
          "the CNOT target is a leaf of the centre with VOP 10 (H)")
    check(sim.get_entangled_group(9) == set(range(1, SIDE * SIDE + 1)),
          "qubit 9 is entangled with the rest of the cluster")
    draw(graph, path)
    print(f"{graph.number_of_nodes()} qubits, {graph.number_of_edges()} edges; drawn to {path}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
