#pragma once
// The measurements of bench_perf.exe, one function each; bench/perf runs
// them in the reference workstations and gathers their "sample" lines.

#include <map>
#include <string>
#include <vector>

namespace perf {

// key=value arguments of the command line.
class Options {
public:
    Options(int argc, char** argv, int first);
    int number(const std::string& key, int fallback) const;
    std::vector<int> numbers(const std::string& key, const std::vector<int>& fallback) const;
    std::string text(const std::string& key, const std::string& fallback) const;

private:
    std::map<std::string, std::string> values_;
};

// Quiet turns and their parts next to the floor, in interleaved blocks.
int run_quiet(const Options& options);
// Change turns for 1, 10 and 100 new containers.
int run_change(const Options& options);
// Store cleaning against an empty and a full list.
int run_cleaning(const Options& options);
// Private bytes, handles and threads over many turns with carrier changes.
int run_steady(const Options& options);
// Beside a running keyhaven.exe: token insertion to certificate in the store.
int run_latency(const Options& options);
// The cost of single building blocks: log lines, store, provider.
int run_units(const Options& options);
// Adds every *.der file of a folder to the user's "My" store.
int run_store_add(const Options& options);

}  // namespace perf
