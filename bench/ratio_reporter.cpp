// SPDX-License-Identifier: GPL-3.0-or-later
#include "ratio_reporter.h"

#include <algorithm>
#include <cstdio>

namespace bench {
namespace {

double to_ms(double time, benchmark::TimeUnit unit) {
  switch (unit) {
    case benchmark::kNanosecond: return time / 1e6;
    case benchmark::kMicrosecond: return time / 1e3;
    case benchmark::kMillisecond: return time;
    case benchmark::kSecond: return time * 1e3;
  }
  return time;
}

}  // namespace

void RatioReporter::ReportRuns(const std::vector<Run>& runs) {
  for (const Run& run : runs) {
    // CPU time: the machine is shared, and waiting for a core is not this code's cost.
    double ms = to_ms(run.GetAdjustedCPUTime(), run.time_unit);
    std::string name = run.run_name.str();
    if (run.run_type == Run::RT_Aggregate) {
      if (run.aggregate_name == "median") medians_[name] = ms;
    } else {
      singles_[name].push_back(ms);
    }
  }
  ConsoleReporter::ReportRuns(runs);
}

double RatioReporter::median_of(const std::string& name) const {
  if (auto it = medians_.find(name); it != medians_.end()) return it->second;
  auto it = singles_.find(name);
  if (it == singles_.end() || it->second.empty()) return -1;
  std::vector<double> v = it->second;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void RatioReporter::Finalize() {
  ConsoleReporter::Finalize();
  std::printf("\n| what | median | baseline | ratio | goal |\n|---|---|---|---|---|\n");
  for (const Comparison& c : comparisons_) {
    double measured = median_of(c.measured), base = median_of(c.baseline);
    if (measured < 0) continue;
    measured /= c.measured_scale;
    if (base <= 0) {
      std::printf("| %s | %.3f ms | | | |\n", c.what.c_str(), measured);
      continue;
    }
    double ratio = measured / base;
    std::string goal = c.goal > 0 ? (ratio <= c.goal ? "<= " : "MISSED <= ") : "";
    char goal_text[64] = "";
    if (c.goal > 0) std::snprintf(goal_text, sizeof goal_text, "%s%.2fx", goal.c_str(), c.goal);
    std::printf("| %s | %.3f ms | %.3f ms | %.2fx | %s |\n", c.what.c_str(), measured, base,
                ratio, goal_text);
  }
  for (const std::string& note : notes) std::printf("%s\n", note.c_str());
  std::fflush(stdout);
}

}  // namespace bench
