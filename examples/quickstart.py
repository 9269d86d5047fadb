"""A first look at morvane: compile a program and show what it declares.

Running flows (graphs, metrics, exports) joins this example once the
inference engine is part of the module.
"""
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
}
"""


def main():
    program = morvane.compile(SOURCE)
    print(program)
    print("schemas:      ", ", ".join(program.get_schema_names()))
    print("belief models:", ", ".join(program.get_belief_model_names()))
    print("flows:        ", ", ".join(program.get_flow_names()))

    # A mistake is reported with its place in the source.
    try:
        morvane.compile(SOURCE.replace("precision = 1.0", "precision = -1.0"))
    except ValueError as error:
        print("\na broken variant is refused:")
        print(" ", error)


if __name__ == "__main__":
    main()
