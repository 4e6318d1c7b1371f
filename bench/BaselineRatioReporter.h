#ifndef BENCH_BASELINERATIOREPORTER_H
#define BENCH_BASELINERATIOREPORTER_H

#include <benchmark/benchmark.h>

#include <iostream>
#include <string>
#include <utility>
#include <vector>

namespace benchsupport {

// Console output plus, at the end, every benchmark's time relative to the
// baseline registered before it.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // Single runs, or the median when repetitions are asked for.
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (!(single || median) || run.iterations == 0) {
                continue;
            }
            const double perIter = run.GetAdjustedRealTime();
            const std::string name = run.benchmark_name();
            if (name.find("Baseline") != std::string::npos) {
                m_baseline = {name, perIter};
            } else if (!m_baseline.first.empty()) {
                m_ratios.emplace_back(name + " / " + m_baseline.first, perIter / m_baseline.second);
            }
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::cout << "\nRatios to the baseline of the same run:\n";
        for (const auto& [label, ratio] : m_ratios) {
            std::cout << "  " << label << " = " << ratio << "\n";
        }
        std::cout << std::flush;
    }

private:
    std::pair<std::string, double> m_baseline;
    std::vector<std::pair<std::string, double>> m_ratios;
};

}  // namespace benchsupport

#endif
