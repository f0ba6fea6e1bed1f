// Runs the registered benchmarks and prints the ratio of each to the baseline measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace tarvinbench {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                perIteration[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> perIteration;
};

// Prints "name / baseline = ratio (target <= limit)" and returns false when a ratio misses its target.
inline bool reportRatios(int argc, char** argv, const std::string& baseline,
                         const std::vector<std::pair<std::string, double>>& targets)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    bool ok = true;
    auto base = reporter.perIteration.find(baseline);
    if (base == reporter.perIteration.end())
        return true; // filtered out
    for (const auto& target : targets) {
        auto it = reporter.perIteration.find(target.first);
        if (it == reporter.perIteration.end())
            continue;
        const double ratio = it->second / base->second;
        const bool met = ratio <= target.second;
        ok = ok && met;
        printf("%s / %s = %.2f (target <= %.2f) %s\n", target.first.c_str(), baseline.c_str(), ratio, target.second,
               met ? "met" : "MISSED");
    }
    return ok;
}

} // namespace tarvinbench
