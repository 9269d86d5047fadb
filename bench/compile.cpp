// Throughput of compilation (parse, tree, validation), on generated valid programs of
// about 1 MB and 10 MB, and of its stages taken apart:
//   Compile            the whole pipeline: parse, build the tree, validate;
//   BuildTree          parse and build the tree, no validation;
//   Validate           validation alone: its own parse for positions, the
//                      source map and every check;
//   ValidateWithTree   validation given an existing parse: map and checks.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "core/engine/errors.hpp"
#include "core/parse_and_validate.hpp"
#include "frontend/parser/corventa_parser.hpp"
#include "frontend/parser/parse_program.hpp"
#include "frontend/validate/validate.hpp"
#include "generated_program.hpp"

namespace {

namespace frontend = morvane::frontend;

const std::string& program_of_size(int64_t bytes) {
    static std::string small, large;
    std::string& slot = bytes < 5'000'000 ? small : large;
    if (slot.empty()) slot = morvane::bench::generate_program(static_cast<size_t>(bytes));
    return slot;
}

// Reports a compile failure (the generated program must be valid).
template <typename F>
bool run_or_skip(benchmark::State& state, F&& compile) {
    try {
        compile();
        return true;
    } catch (const morvane::core::engine::ExecError& error) {
        state.SkipWithError(error.message.c_str());
    } catch (const frontend::FrontendError& error) {
        state.SkipWithError(error.text().c_str());
    }
    return false;
}

void report(benchmark::State& state, const std::string& text) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
}

void BM_Compile(benchmark::State& state) {
    const std::string& text = program_of_size(state.range(0));
    for (auto _ : state) {
        if (!run_or_skip(state, [&] {
                benchmark::DoNotOptimize(morvane::core::parse_and_validate(text));
            })) {
            return;
        }
    }
    report(state, text);
}

void BM_BuildTree(benchmark::State& state) {
    const std::string& text = program_of_size(state.range(0));
    for (auto _ : state) {
        if (!run_or_skip(
                state, [&] { benchmark::DoNotOptimize(frontend::parser::parse_program(text)); })) {
            return;
        }
    }
    report(state, text);
}

void BM_Validate(benchmark::State& state) {
    const std::string& text = program_of_size(state.range(0));
    const auto program = frontend::parser::parse_program(text);
    for (auto _ : state) {
        if (!run_or_skip(
                state, [&] { frontend::validate::validate_program_with_source(program, text); })) {
            return;
        }
    }
    report(state, text);
}

void BM_ValidateWithTree(benchmark::State& state) {
    const std::string& text = program_of_size(state.range(0));
    const auto program = frontend::parser::parse_program(text);
    const auto parsed =
        frontend::parser::CorventaParser::parse(frontend::parser::Rule::program, text);
    for (auto _ : state) {
        if (!run_or_skip(state, [&] {
                frontend::validate::validate_program_with_parse_tree(program, parsed.tree());
            })) {
            return;
        }
    }
    report(state, text);
}

constexpr int64_t kOneMB = 1'000'000;
constexpr int64_t kTenMB = 10'000'000;

BENCHMARK(BM_Compile)->Arg(kOneMB)->Arg(kTenMB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildTree)->Arg(kOneMB)->Arg(kTenMB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Validate)->Arg(kOneMB)->Arg(kTenMB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ValidateWithTree)->Arg(kOneMB)->Arg(kTenMB)->Unit(benchmark::kMillisecond);

}  // namespace
