"""Flows over large evidence blocks, from Python.

A bipartite generator makes n source nodes, each with four outgoing edges
(one in three observed absent) and one attribute observation: 5n
observations. For n = 50k and n = 500k it prints:
  - compile time and the memory the compiled Program keeps;
  - the evidence-only flow (`from_evidence` and export): time per run and
    observations per second, the peak memory of a run above the process
    size after compiling, and the memory the result graph keeps;
  - the whole flow (rule, inference, prune, metrics) stage by stage, each
    stage timed as one flow minus the flow before it;
  - a rule pass of a two-pattern rule: kept matches per second.
Then the whole flow's time at n = 5k, 50k and 500k and the ratios of
consecutive sizes (ten times the edges each).

Times are the best of a few runs. Memory is read from /proc/self/status
(VmRSS, and VmHWM after resetting it through /proc/self/clear_refs), each
time after the allocator has handed its free memory back (malloc_trim).
"Program keeps" counts the compiled program before its first run; the
first run adds the evidence block's index.
Pass sizes as arguments to run others (`python bench/flows_at_scale.py 5000`).
"""
import ctypes
import gc
import sys
import time

import morvane

HEAD = """
schema S { node N { x: Real } edge T {} }
belief_model M on S {
  node N { x ~ Gaussian(mean = 0, precision = 1) }
  edge T { exist ~ Bernoulli(prior = 0.5, weight = 4.0) }
}
"""

WHOLE_RULE = """
rule Lift on M { pattern (a:N)-[e:T]->(b:N) where prob(e) > 0.5 action { b.x ~= E[a.x] precision = 0.5 } }
"""

HOP_RULE = """
rule Hop on M { pattern (a:N)-[e:T]->(b:N), (b:N)-[f:T]->(c:N) where prob(e) > 0.1
                action { c.x ~= E[a.x] precision = 0.5 } }
"""

# Each flow adds one stage to the one before it.
STAGES = [
    ("evidence", 'graph g = from_evidence E  export g as "h"'),
    ("rule", 'graph g = from_evidence E  graph h = g |> apply_rule Lift  export h as "h"'),
    ("propagation", 'graph g = from_evidence E  graph h = g |> apply_rule Lift |> infer_beliefs'
                    '  export h as "h"'),
    ("prune", 'graph g = from_evidence E  graph h = g |> apply_rule Lift |> infer_beliefs'
              ' |> prune_edges T where prob(edge) < 0.2  export h as "h"'),
    ("metrics", 'graph g = from_evidence E  graph h = g |> apply_rule Lift |> infer_beliefs'
                ' |> prune_edges T where prob(edge) < 0.2'
                '  metric n = nodes(N) |> count()'
                '  metric s on h = nodes(N) |> sum(by = E[node.x])'
                '  metric d on h = avg_degree(N, T)  export h as "h"'),
]


def bipartite(n, fan=4, hops=False):
    lines = []
    for i in range(n):
        for k in range(fan):
            arrow = "-/>" if (i * fan + k) % 3 == 0 else "->"
            lines.append(f"s{i} {arrow} d{(i + k) % n}")
    if hops:
        lines.extend(f"d{j} -> s{(7 * j) % n}" for j in range(n))
    nodes = ", ".join(f"s{i} {{ x: {i % 7} }}" for i in range(n))
    return (f"evidence E on M {{\n  N {{ {nodes} }}\n  T(N -> N) {{\n    "
            + ";\n    ".join(lines) + "\n  }\n}\n")


def flows():
    return "".join(f"flow F{k} on M {{ {body} }}\n" for k, (_, body) in enumerate(STAGES))


LIBC = ctypes.CDLL("libc.so.6")


def settle():
    """Collects garbage and hands the allocator's free memory back to the
    system, so that RSS counts live memory and new pages are counted anew."""
    gc.collect()
    LIBC.malloc_trim(0)


def status(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise KeyError(field)


def reset_peak():
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")


def best(fn, rounds):
    times = []
    for _ in range(rounds):
        gc.collect()
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return min(times)


def mib(b):
    return b / 2**20


def measure(n, rounds):
    observations = 5 * n
    edges = 4 * n
    text = HEAD + bipartite(n) + WHOLE_RULE + flows()
    settle()
    before = status("VmRSS")
    start = time.perf_counter()
    program = morvane.compile(text)
    compile_s = time.perf_counter() - start
    settle()
    program_bytes = status("VmRSS") - before
    print(f"n = {n}: {observations} observations, {len(text) / 1e6:.1f} MB of text")
    print(f"  compile            {compile_s:8.3f} s; Program keeps {mib(program_bytes):.0f} MiB"
          f" = {program_bytes / observations:.0f} B per observation")

    # Peak memory of one evidence-only run, and what its result keeps.
    morvane.run_flow(program, "F0")  # first use
    settle()
    base = status("VmRSS")
    reset_peak()
    ctx = morvane.run_flow(program, "F0")
    peak = status("VmHWM") - base
    settle()
    kept = status("VmRSS") - base
    del ctx
    print(f"  evidence-only peak +{mib(peak):.0f} MiB = {peak / edges:.0f} B per edge;"
          f" result keeps {kept / edges:.0f} B per edge")

    stage_times = []
    for k, (name, _) in enumerate(STAGES):
        stage_times.append(best(lambda: morvane.run_flow(program, f"F{k}"), rounds))
    evidence_s = stage_times[0]
    print(f"  evidence-only flow {evidence_s:8.3f} s = {observations / evidence_s / 1e6:.2f} M"
          " observations/s")
    parts = ", ".join(
        f"{name} {'+' if k else ''}{stage_times[k] - (stage_times[k - 1] if k else 0):.3f} s"
        for k, (name, _) in enumerate(STAGES))
    print(f"  whole flow         {stage_times[-1]:8.3f} s ({parts})")
    del program
    gc.collect()
    return stage_times[-1]


def rule_pass(n, rounds):
    text = (HEAD + bipartite(n, hops=True) + HOP_RULE
            + 'flow E0 on M { graph g = from_evidence E  export g as "g" }\n'
            + 'flow H on M { graph g = from_evidence E  graph h = g |> apply_rule Hop'
              '  export h as "h" }\n')
    program = morvane.compile(text)
    base = best(lambda: morvane.run_flow(program, "E0"), rounds)
    hop = best(lambda: morvane.run_flow(program, "H"), rounds)
    # Every s_i reaches four d's and every d_j one s, so there are 4n paths
    # s -> d -> s and 4n paths d -> s -> d; every edge's probability is at
    # least 0.4, so the where-clause keeps all 8n.
    matches = 8 * n
    rule_s = hop - base
    print(f"rule pass n = {n}: {matches} kept matches in {rule_s:.3f} s ="
          f" {matches / rule_s / 1e6:.2f} M kept matches/s")


def main():
    sizes = [int(a) for a in sys.argv[1:]] or [50_000, 500_000]
    whole = {}
    for n in sizes:
        whole[n] = measure(n, 3 if n <= 50_000 else 2)
    rule_pass(50_000, 3)
    if len(sys.argv) == 1:
        whole[5_000] = measure(5_000, 5)
        for small, large in [(5_000, 50_000), (50_000, 500_000)]:
            print(f"whole flow {small} -> {large}: {whole[large] / whole[small]:.2f}x the time"
                  " for 10x the edges")


if __name__ == "__main__":
    main()
