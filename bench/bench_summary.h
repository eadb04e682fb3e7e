// A console reporter that also keeps the CPU time per iteration of every benchmark, so that the
// benchmark mains can print a summary with ratios taken from the same run, next to the goals.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <unistd.h>
#include <map>
#include <string>
#include <vector>

class TSummaryReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal, so that saved output stays plain text.
    TSummaryReporter() : ConsoleReporter(isatty(fileno(stdout)) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) {
                continue;
            }
            // With repetitions the median stands for the benchmark; without, the single run.
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const std::string& name = run.run_name.function_name;
            if (run.run_type == Run::RT_Iteration && medians_.count(name) == 0) {
                nanoseconds_[name] = Nanoseconds(run);
            } else if (median) {
                nanoseconds_[name] = Nanoseconds(run);
                medians_[name] = true;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintSummaryHeader() const { std::printf("\nsummary (CPU time per call):\n"); }

    // Prints the time of `name` divided by `divisor`, in `unit` ("ns" or "us"), against an
    // optional goal in that unit.
    void PrintTime(const std::string& name, const char* label, double divisor, const char* unit,
                   double goal = 0.0) const {
        const auto it = nanoseconds_.find(name);
        if (it == nanoseconds_.end()) {
            return;
        }
        const double scale = std::string(unit) == "us" ? 1e-3 : 1.0;
        const double value = it->second / divisor * scale;
        if (goal > 0.0) {
            std::printf("  %-40s %10.2f %s   (goal < %g %s: %s)\n", label, value, unit, goal, unit,
                        value < goal ? "met" : "MISSED");
        } else {
            std::printf("  %-40s %10.2f %s\n", label, value, unit);
        }
    }

    // Prints time(slow) / time(fast), against a minimum when one is given.
    void PrintRatio(const std::string& slow, const std::string& fast, const char* label,
                    double minimum = 0.0) const {
        const auto s = nanoseconds_.find(slow);
        const auto f = nanoseconds_.find(fast);
        if (s == nanoseconds_.end() || f == nanoseconds_.end() || f->second <= 0.0) {
            return;
        }
        const double ratio = s->second / f->second;
        if (minimum <= 0.0) {
            std::printf("  %-40s %10.2f x\n", label, ratio);
            return;
        }
        std::printf("  %-40s %10.2f x    (goal >= %g x: %s)\n", label, ratio, minimum,
                    ratio >= minimum ? "met" : "MISSED");
    }

    // The CPU time per iteration of `name` in ns (the median with repetitions); 0 when it did
    // not run.
    double Time(const std::string& name) const {
        const auto it = nanoseconds_.find(name);
        return it == nanoseconds_.end() ? 0.0 : it->second;
    }

private:
    static double Nanoseconds(const Run& run) {
        return run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
    }

    std::map<std::string, double> nanoseconds_;
    std::map<std::string, bool> medians_;
};
