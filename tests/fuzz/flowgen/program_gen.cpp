// Puts the parts of a generated program together. The declarations come in
// their usual order, or now and then rotated: the language resolves names
// across the whole program, whatever comes first.
#include "tests/fuzz/flowgen/program_gen.hpp"

#include <algorithm>
#include <array>

#include "tests/fuzz/flowgen/choices.hpp"
#include "tests/fuzz/flowgen/flow_gen.hpp"
#include "tests/fuzz/flowgen/model_gen.hpp"
#include "tests/fuzz/flowgen/rule_gen.hpp"

namespace morvane::fuzz::flowgen {

GeneratedProgram generate_program(FuzzedDataProvider& in) {
    Choices c(in);
    Vocabulary v = choose_vocabulary(c);
    std::array<std::string, 5> parts;  // schema, model, evidence, rules, flows
    write_schema(parts[0], v);
    write_belief_model(parts[1], c, v);

    const std::size_t evidence_count = 1 + c.below(2);
    for (std::size_t i = 0; i < evidence_count; ++i) {
        v.evidences.push_back("E" + std::to_string(i));
        write_evidence(parts[2], c, v, v.evidences.back());
    }
    const std::size_t rule_count = c.below(5);
    for (std::size_t i = 0; i < rule_count; ++i)
        v.rules.push_back("R" + std::to_string(i));
    for (const std::string& rule : v.rules)
        write_rule(parts[3], c, v, rule);

    GeneratedProgram program;
    std::vector<FlowSummary> flows;
    const std::size_t flow_count = 1 + c.below(3);
    for (std::size_t i = 0; i < flow_count; ++i) {
        flows.push_back(write_flow(parts[4], c, v, "F" + std::to_string(i), flows));
        program.flows.push_back({flows.back().name, c.one_in(2), flows.back().features});
    }

    if (c.one_in(8)) std::rotate(parts.begin(), parts.begin() + 1 + c.below(4), parts.end());
    for (const std::string& part : parts)
        program.source += part;
    program.causes = v.causes;
    return program;
}

}  // namespace morvane::fuzz::flowgen
