// Shared main of the benchmark programs. Memory is retained by the allocator
// for every side alike: on these machines the first touch of fresh pages costs
// far more than the code under test, and glibc would otherwise hand large
// blocks back to the system after each iteration. After the run, pairs of
// results named <Workload>_<Side> are printed as ratios to our side, and the
// growth of the time per item of workloads run at several sizes.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench_ratio.h"

namespace {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            // With --benchmark_repetitions the median, which comes after the
            // single runs, stands for the benchmark.
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if ((run.run_type != Run::RT_Iteration && !median) || run.error_occurred) {
                continue;
            }
            const std::string name = run.run_name.str();
            auto items = run.counters.find("items_per_second");
            if (items != run.counters.end()) {
                itemRates_[name] = items->second;
            }
            double rate = 0;
            for (const char* counter : {"bytes_per_second", "items_per_second"}) {
                auto it = run.counters.find(counter);
                if (it != run.counters.end()) {
                    rate = it->second;
                    break;
                }
            }
            // Without a rate, the faster side has the smaller time.
            double value = rate > 0 ? rate : 1.0 / run.GetAdjustedRealTime();
            results_[name] = value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        bench_ratio::PrintRatios(results_);
        bench_ratio::PrintGrowth(itemRates_);
    }

private:
    std::map<std::string, double> results_;
    std::map<std::string, double> itemRates_;
};

}  // namespace

int main(int argc, char** argv) {
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, -1);
    std::printf("memory retained: M_MMAP_MAX=0, M_TRIM_THRESHOLD=-1 (the same for every side)\n");
    // The program's default flags go first, so the command line overrides them.
    std::vector<char*> args(argv, argv + argc);
    for (std::string& flag : bench_ratio::DefaultFlags()) {
        args.insert(args.begin() + 1, flag.data());
    }
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
