// What a Google Benchmark run measured, kept for the program's own summary. The collector
// prints the usual console report and remembers, per benchmark, the time per iteration (the
// fastest repetition) and the counters, so that main can print its figures and the
// "ratio <name> <value>" lines from the results of the same run:
//
//   std::vector<char*> args = withDefaultFlags(argc, argv, {"--benchmark_min_time=0.2"});
//   int count = int(args.size()) - 1;
//   benchmark::Initialize(&count, args.data());
//   ... benchmark::RegisterBenchmark("unpack/ours", ...) ...
//   ResultCollector collector;
//   benchmark::RunSpecifiedBenchmarks(&collector);
//   const BenchResult* ours = findResult(collector, "unpack/ours");
//
// Results are keyed by the name given to RegisterBenchmark (without the "/min_time:",
// "/iterations:" or "/real_time" suffixes the library appends).
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

struct BenchResult {
    double realSeconds = 0; // per iteration (manual time where the benchmark sets it)
    double cpuSeconds = 0;  // per iteration
    int64_t iterations = 0;
    std::map<std::string, double> counters; // as reported (rates already divided by time)
    bool fromIterations = false;            // false: taken from the median aggregate
};

class ResultCollector : public benchmark::ConsoleReporter {
  public:
    // Colours only on a terminal, so that redirected reports stay plain text.
    ResultCollector() : ConsoleReporter(isatty(fileno(stdout)) ? OO_Color : OO_None) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            keep(run);
        ConsoleReporter::ReportRuns(runs);
    }

    std::map<std::string, BenchResult> results;
    std::vector<std::string> errors;

  private:
    void keep(const Run& run) {
        const std::string& name = run.run_name.function_name;
        if (run.error_occurred) {
            errors.push_back(name + ": " + run.error_message);
            return;
        }
        if (run.iterations <= 0) return;
        BenchResult measured;
        measured.realSeconds = run.real_accumulated_time / double(run.iterations);
        measured.cpuSeconds = run.cpu_accumulated_time / double(run.iterations);
        measured.iterations = run.iterations;
        for (const auto& [key, counter] : run.counters)
            measured.counters[key] = counter.value;
        measured.fromIterations = run.run_type == Run::RT_Iteration;
        if (!measured.fromIterations && run.aggregate_name != "median") return;

        auto found = results.find(name);
        if (found == results.end()) {
            results[name] = measured;
            return;
        }
        BenchResult& best = found->second;
        // Single repetitions beat the median (which only stands in when the console shows
        // aggregates alone); among repetitions the fastest counts, which filters out the
        // interruptions of a shared machine.
        if (best.fromIterations && !measured.fromIterations) return;
        if (measured.fromIterations && !best.fromIterations) {
            best = measured;
            return;
        }
        best.realSeconds = std::min(best.realSeconds, measured.realSeconds);
        best.cpuSeconds = std::min(best.cpuSeconds, measured.cpuSeconds);
        best.counters = measured.counters;
        best.iterations += measured.iterations;
    }
};

// The result of the benchmark registered as `name`; nullptr (with a note on stderr) when it
// did not run, e.g. because of --benchmark_filter or an error.
// Runs the registered benchmarks with the collecting reporter, shuts the library down and
// prints the errors the run reported.
inline void runBenchmarks(ResultCollector& collector) {
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();
    for (const std::string& error : collector.errors)
        std::printf("error: %s\n", error.c_str());
}

inline const BenchResult* findResult(const ResultCollector& collector, const std::string& name) {
    auto found = collector.results.find(name);
    if (found != collector.results.end()) return &found->second;
    std::fprintf(stderr, "no result for %s\n", name.c_str());
    return nullptr;
}

inline double counterOf(const BenchResult& result, const std::string& key) {
    auto found = result.counters.find(key);
    return found == result.counters.end() ? 0.0 : found->second;
}

// argv with this program's default flags in front, so that flags given on the command line
// (parsed later) override them. The last element is the terminating null, not counted in
// the argument count. The returned pointers stay valid for the program's life.
inline std::vector<char*> withDefaultFlags(int argc, char** argv,
                                           std::initializer_list<const char*> defaults) {
    static std::vector<std::string> storage;
    storage.assign(defaults.begin(), defaults.end());
    std::vector<char*> args{argv[0]};
    for (std::string& flag : storage)
        args.push_back(flag.data());
    for (int i = 1; i < argc; ++i)
        args.push_back(argv[i]);
    args.push_back(nullptr); // argv[argc]; not counted
    return args;
}
