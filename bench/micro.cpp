// SPDX-License-Identifier: ISC
// Microbenchmarks of the reader, the search and the writer, each with every
// engine this processor can run.

#include <cstdio>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "engine.h"
#include "kepsift.h"

namespace {

const std::string NAME = "ORBITER 7               ";
const std::string LINE_ONE = "1 41907U 16071B   26343.51782528  .00000123  00000-0  42153-4 0  9997";
const std::string LINE_TWO = "2 41907  97.4512 128.3321 0011234 201.5532 158.5222 15.21837711487426";

input_line make_line(const std::string& text) {
    input_line line{};
    line.length = static_cast<int>(text.size());
    text.copy(line.chars, text.size());
    return line;
}

// Line 1 repeated along a long line, and line 2 with a wrong check digit
// beside it: every candidate column passes line 1 and fails last on line 2.
line_window adversarial_window() {
    std::string bad_two = LINE_TWO;
    bad_two[68] = '0';
    std::string one;
    std::string two;
    while (one.size() + LINE_ONE.size() + 1 <= 1000) {
        one += LINE_ONE + "1";
        two += bad_two + "2";
    }
    return {make_line(two), make_line(one), make_line(two)};
}

void read_lines(benchmark::State& state) {
    std::string text;
    while (text.size() < 1 << 20) text += NAME + "\r\n" + LINE_ONE + "\r\n" + LINE_TWO + "\r\n";
    input_line line{};
    const auto blocks = std::make_unique<input_blocks>();
    for (auto _ : state) {
        FILE* stream = fmemopen(text.data(), text.size(), "rb");
        std::setvbuf(stream, nullptr, _IOFBF, STREAM_BUFFER_SIZE);
        begin_input(*blocks, stream);
        while (read_line(line, *blocks) > 0) benchmark::DoNotOptimize(line);
        std::fclose(stream);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

void find_set_in(benchmark::State& state, const line_window& window) {
    for (auto _ : state) benchmark::DoNotOptimize(find_set(window));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * window.line_one.length);
}

void find_set_typical(benchmark::State& state) {
    const line_window window{make_line(NAME), make_line(LINE_ONE), make_line(LINE_TWO)};
    find_set_in(state, window);
}

void find_set_prose(benchmark::State& state) {
    const std::string prose = "the desk sent the new elements for 1 and 2 this morning, quoted below";
    const line_window window{make_line(prose), make_line(prose), make_line(prose)};
    find_set_in(state, window);
}

void find_set_adversarial(benchmark::State& state) {
    static const line_window window = adversarial_window();
    find_set_in(state, window);
}

void find_bare_pair_adversarial(benchmark::State& state) {
    line_window window = adversarial_window();
    window.name_line = window.line_one;
    window.line_one = window.line_two;
    for (auto _ : state) benchmark::DoNotOptimize(find_bare_pair(window));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * window.line_one.length);
}

void write_sets(benchmark::State& state) {
    const line_window window{make_line(NAME), make_line(LINE_ONE), make_line(LINE_TWO)};
    FILE* sink = std::fopen("/dev/null", "w");
    std::setvbuf(sink, nullptr, _IOFBF, STREAM_BUFFER_SIZE);
    const auto blocks = std::make_unique<output_blocks>();
    begin_output(*blocks, sink);
    for (auto _ : state) write_set(window, 0, *blocks);
    end_output(*blocks);
    std::fclose(sink);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

} // namespace

int main(int argc, char* argv[]) {
    const struct {
        const char* name;
        void (*run)(benchmark::State&);
    } benchmarks[] = {
        {"read_lines", read_lines},
        {"find_set_typical", find_set_typical},
        {"find_set_prose", find_set_prose},
        {"find_set_adversarial", find_set_adversarial},
        {"find_bare_pair_adversarial", find_bare_pair_adversarial},
        {"write_sets", write_sets},
    };
    for (const engine* each : built_engines()) {
        if (!runs_here(*each)) continue;
        for (const auto& bench : benchmarks)
            benchmark::RegisterBenchmark((std::string(bench.name) + "/" + each->name).c_str(),
                                         [each, run = bench.run](benchmark::State& state) {
                                             use_engine(each->name);
                                             run(state);
                                         });
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
