// What a seek costs the timeline: rebuildTimeline at a moment late in a production of 2,000
// property events (with 200 fades and 400 actions of 100 instances), against a plain
// startTimeline of the same production in the same run, and against one tick. The effects
// do nothing, so only the timeline's own work is measured.
//
//   start/2000     startTimeline (100 initial settings)
//   rebuild/2000   rebuildTimeline at 190 s of 200, on a 60 fps frame grid (after a
//                  startTimeline outside the timed span)
//   tick/2000      one tick at 190 s (the frame after a rebuild)
//
// Each runs 3 repetitions; the program prints the median of the three and their spread
// ((max - min) / median), and "ratio rebuild_vs_start <value>" (rebuild time over start time,
// medians). Run headless with SDL_VIDEODRIVER=offscreen.
#include "bench/bench_results.h"
#include "effects/effect.h"
#include "script/parser.h"
#include "script/timeline.h"
#include "tests/script/headless_device.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kEffects = 100;
constexpr int kEvents = 2000;
constexpr int kSeconds = 200;
constexpr uint32_t kSeekTime = 190u * 65536u;
constexpr int kRepetitions = 3;

class IdleEffect : public Effect {};
const EffectClass idleClass = {"idle", nullptr, nullptr, createEffectOf<IdleEffect>,
                               recreateEffectOf<IdleEffect>};

std::string productionText() {
    std::string text;
    for (int e = 0; e < kEffects; ++e)
        text += "effect e" + std::to_string(e) + " is idle\n";
    text += "demo runs for " + std::to_string(kSeconds) + " seconds\n first set e0.word to 0\n";
    for (int e = 1; e < kEffects; ++e)
        text += " and set e" + std::to_string(e) + ".word to " + std::to_string(e) + "\n";
    for (int a = 0; a < 4 * kEffects; ++a)
        text += " at second " + std::to_string(a / 2) + " start e" + std::to_string(a % kEffects) +
                " for 40 seconds\n";
    for (int f = 0; f < 200; ++f)
        text += " at second " + std::to_string(f) + ".5 fade e" + std::to_string(f % kEffects) +
                ".level from 0 to 1 for 5 seconds\n";
    for (int k = 0; k < kEvents; ++k)
        text += " at second " + std::to_string(double(k) * kSeconds / kEvents) + " set e" +
                std::to_string(k % kEffects) + ".word to " + std::to_string(k) + "\n";
    return text + "enddemo\n";
}

uint32_t frameAtOrAfter(uint32_t time) {
    uint64_t frame = (uint64_t(time) * 60 + 65535) / 65536;
    return uint32_t(frame * 65536 / 60);
}
uint32_t frameBefore(uint32_t time) {
    uint64_t frame = (uint64_t(time) * 60 + 65535) / 65536;
    return uint32_t((frame - 1) * 65536 / 60);
}
const TickTimes kFrames = {frameAtOrAfter, frameBefore};

struct Production {
    std::unique_ptr<Script> script;
    Timeline timeline;
};

Production& production() {
    static Production made;
    if (!made.script) {
        static const std::string text = productionText();
        made.script = std::make_unique<Script>(text.c_str(), int32_t(text.size()), nullptr);
        made.script->parse(false);
        createTargets(made.timeline, *made.script);
    }
    return made;
}

template <class Work> double timed(Work work) {
    auto begin = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

void registerBenchmarks() {
    benchmark::RegisterBenchmark("start/2000",
                                 [](benchmark::State& state) {
                                     Timeline& timeline = production().timeline;
                                     for (auto _ : state)
                                         state.SetIterationTime(
                                             timed([&] { startTimeline(timeline, nullptr); }));
                                 })
        ->UseManualTime()
        ->Repetitions(kRepetitions)
        ->ReportAggregatesOnly(false);
    benchmark::RegisterBenchmark("rebuild/2000",
                                 [](benchmark::State& state) {
                                     Timeline& timeline = production().timeline;
                                     for (auto _ : state) {
                                         startTimeline(timeline, nullptr);
                                         state.SetIterationTime(timed([&] {
                                             rebuildTimeline(timeline, kSeekTime, kFrames);
                                         }));
                                     }
                                 })
        ->UseManualTime()
        ->Repetitions(kRepetitions)
        ->ReportAggregatesOnly(false);
    benchmark::RegisterBenchmark("tick/2000",
                                 [](benchmark::State& state) {
                                     Timeline& timeline = production().timeline;
                                     for (auto _ : state) {
                                         startTimeline(timeline, nullptr);
                                         rebuildTimeline(timeline, kSeekTime, kFrames);
                                         state.SetIterationTime(
                                             timed([&] { tick(timeline, kSeekTime, 0); }));
                                     }
                                 })
        ->UseManualTime()
        ->Repetitions(kRepetitions)
        ->ReportAggregatesOnly(false);
}

// Keeps every repetition's time per iteration as well as the collector's summary.
class RepetitionCollector : public ResultCollector {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0 && !run.error_occurred)
                times[run.run_name.function_name].push_back(run.real_accumulated_time /
                                                            double(run.iterations));
        ResultCollector::ReportRuns(runs);
    }
    std::map<std::string, std::vector<double>> times;
};

// The median of the repetitions and their spread, (max - min) / median.
bool summary(const RepetitionCollector& collector, const std::string& name, double* median,
             double* spread) {
    auto found = collector.times.find(name);
    if (found == collector.times.end() || found->second.empty()) return false;
    std::vector<double> times = found->second;
    std::sort(times.begin(), times.end());
    *median = times[times.size() / 2];
    *spread = (times.back() - times.front()) / *median;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> args = withDefaultFlags(argc, argv, {"--benchmark_min_time=0.2"});
    int count = int(args.size()) - 1;
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    if (!startHeadlessDevice(320, 240)) {
        fprintf(stderr, "no video driver (run with SDL_VIDEODRIVER=offscreen)\n");
        return 1;
    }
    registerEffectClass(idleClass);
    registerBenchmarks();
    RepetitionCollector collector;
    runBenchmarks(collector);
    double start = 0, rebuild = 0, spread = 0;
    for (const char* name : {"start/2000", "rebuild/2000", "tick/2000"}) {
        double median = 0;
        if (!summary(collector, name, &median, &spread)) continue;
        printf("%s: median of %d %.1f us, spread %.1f%%\n", name, kRepetitions, median * 1e6,
               spread * 100.0);
        if (std::string(name) == "start/2000") start = median;
        if (std::string(name) == "rebuild/2000") rebuild = median;
    }
    if (start > 0 && rebuild > 0) printf("ratio rebuild_vs_start %.3f\n", rebuild / start);
    destroyEffects();
    production().script.reset();
    stopHeadlessDevice();
    return 0;
}
