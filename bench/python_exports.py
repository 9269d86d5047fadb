"""Listing and export costs of a large BeliefGraph from Python.

On a graph of 100k nodes and 1M edges (an evidence block, built by one flow
run) it times nodes(), edges(), to_pandas() and to_networkx(), each against a
baseline in plain Python:
  - listing: a loop creating the same number of small objects (a class with
    three slots); target at most 2x;
  - to_pandas: pandas.DataFrame over prebuilt lists of the same row dicts;
    target at most 1.5x.
Every figure is the best of a few rounds, with the cyclic garbage collector
off (as timeit does).
"""
import gc
import time

import pandas

import morvane

NODES = 100_000
EDGES_PER_NODE = 10
ROUNDS = 3


def source():
    ties = ",\n".join(
        ", ".join(f"n{i} {'-/>' if (i + j) % 7 == 0 else '->'} n{(i + j) % NODES}"
                  for i in range(NODES))
        for j in range(1, EDGES_PER_NODE + 1))
    return """
schema S { node P { trust: Real; activity: Real } edge knows {} }
belief_model M on S {
    node P {
        trust ~ Gaussian(mean = 0, precision = 1);
        activity ~ Gaussian(mean = 0.5, precision = 2)
    }
    edge knows { exist ~ Bernoulli(prior = 0.5, weight = 2) }
}
evidence E on M { knows(P -> P) { """ + ties + """ } }
flow F on M { graph g = from_evidence E export g as "g" }
"""


class Small:
    __slots__ = ("graph", "label", "id")

    def __init__(self, graph, label, id):
        self.graph = graph
        self.label = label
        self.id = id


def best(fn):
    times = []
    for _ in range(ROUNDS):
        gc.collect()
        gc.disable()
        try:
            start = time.perf_counter()
            result = fn()
            times.append(time.perf_counter() - start)
        finally:
            gc.enable()
        del result
    return min(times)


def python_loop(count):
    return lambda: [Small(None, "P", i) for i in range(count)]


def report(name, seconds, baseline, target):
    ratio = seconds / baseline
    verdict = "met" if ratio <= target else "missed"
    print(f"{name:<14} {seconds * 1e3:9.1f} ms   baseline {baseline * 1e3:9.1f} ms   "
          f"ratio {ratio:5.2f} (target <= {target}: {verdict})")


def main():
    start = time.perf_counter()
    program = morvane.compile(source())
    graph = morvane.run_flow(program, "F").get_graph("g")
    nodes, edges = len(graph.nodes()), len(graph.edges())
    print(f"graph: {nodes} nodes, {edges} edges (built in {time.perf_counter() - start:.1f} s)")

    report("nodes()", best(graph.nodes), best(python_loop(nodes)), 2.0)
    report("edges()", best(graph.edges), best(python_loop(edges)), 2.0)

    # The same rows, made from the views (no precision here is below Var's floor).
    node_rows = [{"id": n.id, "label": n.label,
                  "activity_mean": n.E("activity"), "activity_var": n.Var("activity"),
                  "trust_mean": n.E("trust"), "trust_var": n.Var("trust")}
                 for n in graph.nodes()]
    edge_rows = [{"src": e.src, "dst": e.dst, "type": e.type, "prob": e.prob,
                  "forced_state": e.forced_state} for e in graph.edges()]
    exported = graph.to_pandas()
    assert exported[0].equals(pandas.DataFrame(node_rows))
    assert exported[1].equals(pandas.DataFrame(edge_rows))
    del exported
    frames = lambda: (pandas.DataFrame(node_rows), pandas.DataFrame(edge_rows))
    report("to_pandas()", best(graph.to_pandas), best(frames), 1.5)

    print(f"{'to_networkx()':<14} {best(graph.to_networkx) * 1e3:9.1f} ms")


if __name__ == "__main__":
    main()
