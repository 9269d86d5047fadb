// Metric expressions of a generated flow.
#pragma once

#include <string>
#include <vector>

#include "tests/fuzz/flowgen/choices.hpp"
#include "tests/fuzz/flowgen/vocabulary.hpp"

namespace morvane::fuzz::flowgen {

// The names a metric may read.
struct MetricNames {
    std::vector<std::string> known;    // imported local names, then earlier metrics
    std::vector<std::string> imports;  // the imported local names alone
};

// The right-hand side of a metric statement: a node pipeline, a metric
// function called directly, or arithmetic over them, numbers and known
// names. Causes of Internal errors it may meet are added to `v.causes`.
std::string metric_expression(Choices& c, Vocabulary& v, const MetricNames& names);

}  // namespace morvane::fuzz::flowgen
