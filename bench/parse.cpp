// Parse throughput from `program` to a full parse tree, on generated valid
// programs of about 100 KB, 1 MB and 10 MB (see generated_program.hpp).
// Reported per size: bytes per second, and the parse tree's memory per
// source byte.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "frontend/parser/corventa_parser.hpp"
#include "generated_program.hpp"

namespace {

using morvane::frontend::parser::CorventaParser;
using morvane::frontend::parser::ParseResult;
using morvane::frontend::parser::Rule;

void BM_ParseProgram(benchmark::State& state) {
    const std::string text = morvane::bench::generate_program(static_cast<size_t>(state.range(0)));
    size_t tree_bytes = 0;
    size_t pairs = 0;
    for (auto _ : state) {
        ParseResult result = CorventaParser::parse(Rule::program, text);
        if (!result) {
            state.SkipWithError(result.error().text().c_str());
            return;
        }
        tree_bytes = result.tree().memory_bytes();
        pairs = result.tree().pair_count();
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.counters["source_bytes"] = static_cast<double>(text.size());
    state.counters["tree_bytes_per_byte"] =
        static_cast<double>(tree_bytes) / static_cast<double>(text.size());
    state.counters["pairs_per_byte"] =
        static_cast<double>(pairs) / static_cast<double>(text.size());
}

BENCHMARK(BM_ParseProgram)
    ->Arg(100 * 1000)
    ->Arg(1000 * 1000)
    ->Arg(10 * 1000 * 1000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
