// The main of a benchmark program that puts Quenzel beside a bare reference and prints the ratio
// of their times. Both sides must see the same machine: a shared machine's speed drifts by tens
// of percent within seconds, so by default every benchmark runs in many repetitions whose order
// is shuffled across the whole run, and each side stands for the median of its repetitions.
// Options given on the command line replace these defaults.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

struct RatioPair {
  const char* quenzel;    // benchmark names as printed, e.g. "getState/co_simulation"
  const char* reference;
};

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (!run.aggregate_name.empty() && run.aggregate_name != "median") continue;
      std::string name = run.run_name.function_name;
      if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
      times[name] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

inline int runWithRatios(int argc, char** argv, std::initializer_list<RatioPair> pairs) {
  std::vector<char*> args(argv, argv + argc);
  char repetitions[] = "--benchmark_repetitions=15";
  char interleaving[] = "--benchmark_enable_random_interleaving=true";
  char aggregates[] = "--benchmark_report_aggregates_only=true";
  if (argc == 1) args.insert(args.end(), {repetitions, interleaving, aggregates});
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const RatioPair& pair : pairs) {
    auto quenzel = reporter.times.find(pair.quenzel), reference = reporter.times.find(pair.reference);
    if (quenzel == reporter.times.end() || reference == reporter.times.end() || reference->second <= 0.0) continue;
    printf("%s / %s = %.2f\n", pair.quenzel, pair.reference, quenzel->second / reference->second);
  }
  benchmark::Shutdown();
  return 0;
}
