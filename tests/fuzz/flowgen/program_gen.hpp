// A whole generated program, chosen by the fuzzer's input bytes.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

namespace morvane::fuzz::flowgen {

struct GeneratedFlow {
    std::string name;
    bool through_builder = false;  // also run with run_flow_with_builder
    uint32_t features = 0;         // FlowFeature bits (flow_gen.hpp)
};

struct GeneratedProgram {
    std::string source;
    std::vector<GeneratedFlow> flows;  // in declaration order
    // Causes of the Internal errors the program may meet (fuzz_outcome.hpp).
    uint32_t causes = 0;
};

// A schema, a belief model, one or two evidence blocks, up to four rules and
// one to three flows, the later flows reading what the earlier ones export.
// Meant to compile: a program the validator refuses is a generator defect.
GeneratedProgram generate_program(FuzzedDataProvider& in);

}  // namespace morvane::fuzz::flowgen
