// SPDX-License-Identifier: GPL-3.0-or-later
// Console output as usual, then a table: each measurement's median, the median of the
// baseline doing the same work in the same run, their ratio and the goal.
#pragma once
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace bench {

struct Comparison {
  std::string what;       // row title
  std::string measured;   // benchmark name (without repetition suffixes)
  std::string baseline;   // benchmark name of the baseline
  double measured_scale;  // divide the measured time by this (e.g. 100 steps in one go)
  double goal;            // ratio to stay at or under; 0 for none
};

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(std::vector<Comparison> comparisons) : comparisons_(std::move(comparisons)) {}
  void ReportRuns(const std::vector<Run>& runs) override;
  void Finalize() override;

  // Extra lines to print under the table (memory figures).
  std::vector<std::string> notes;

 private:
  std::map<std::string, double> medians_;  // name -> median CPU time, ms
  std::map<std::string, std::vector<double>> singles_;
  std::vector<Comparison> comparisons_;
  double median_of(const std::string& name) const;
};

}  // namespace bench
