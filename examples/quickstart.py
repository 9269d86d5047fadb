"""A first look at morvane: compile a program, run a flow, then chain a second
run on its Context with observations added from Python, and inspect the
result."""
import morvane

SOURCE = """
schema Social {
    node Person { trust: Real }
    edge knows {}
}

belief_model Beliefs on Social {
    node Person { trust ~ Gaussian(mean = 0.0, precision = 1.0) }
    edge knows { exist ~ Bernoulli(prior = 0.5, weight = 2.0) }
}

evidence Survey on Beliefs {
    observe Person["alice"].trust = 1.5 (precision = 4.0);
    observe edge knows(Person["alice"], Person["bob"]) present;
}

rule Spread on Beliefs {
    pattern (a:Person)-[k:knows]->(b:Person)
    where prob(k) > 0.5
    action { b.trust ~= E[a.trust] precision = 2.0 }
}

flow Main on Beliefs {
    graph observed = from_evidence Survey
    graph spread = observed |> apply_rule Spread |> infer_beliefs
    metric mean_trust = nodes(Person) |> avg(by = E[node.trust])
    export spread as "result"
    export_metric mean_trust as "baseline_trust"
}

// Runs on the survey together with whatever the caller observed since.
flow Refine on Beliefs {
    import_metric baseline_trust as baseline
    graph observed = from_evidence Survey
    graph spread = observed |> apply_rule Spread |> infer_beliefs
    metric refined_trust = nodes(Person) |> avg(by = E[node.trust])
    metric shift = refined_trust - baseline
    export spread as "refined"
}
"""


def show(title, ctx):
    print(f"== {title}: {ctx!r}")
    for name, value in ctx.metrics.items():
        print(f"  metric {name} = {value:.4f}")
    for d in ctx.inference_diagnostics:
        print(f"  {d['graph']}/{d['transform']}: {d['algorithm']}, converged={d['converged']} "
              f"after {d['iterations_run']} of {d['max_iterations']} iterations, "
              f"max delta {d['final_max_message_delta']:.2e}, "
              f"{d['connected_variable_count']} of {d['variable_count']} variables connected")


def main():
    program = morvane.compile(SOURCE)
    print(program)

    first = morvane.run_flow(program, "Main")
    show("Main", first)

    # New observations, merged into the Survey block for the second run.
    update = morvane.Evidence("update", "Beliefs")
    update.observe_numeric("Person", "bob", "trust", 0.8)
    update.observe_edge("Person", "bob", "knows", "Person", "carol", True)
    # A second acquaintance of alice: her two `knows` edges now share a
    # source, so belief propagation couples them.
    update.observe_edge("Person", "alice", "knows", "Person", "carol", False)
    second = morvane.run_flow_with_evidence(program, "Refine", update, first)
    show("Refine, chained on Main with run-time evidence", second)

    graph = second.get_graph("refined")
    for node in graph.nodes("Person"):
        print(f"  {node.name}: trust {node.E('trust'):.4f} (variance {node.Var('trust'):.4f})")
    nodes_df, edges_df = graph.to_pandas()
    print("\nedge table:")
    print(edges_df.to_string(index=False))
    nx_graph = graph.to_networkx()
    print(f"\nnetworkx graph: {nx_graph.number_of_nodes()} nodes, "
          f"{nx_graph.number_of_edges()} edges")


if __name__ == "__main__":
    main()
