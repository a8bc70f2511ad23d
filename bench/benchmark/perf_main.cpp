// bench_perf.exe MODE [key=value...]: one measurement of the agent's cost,
// run by bench/perf in a reference workstation. Prints "sample" and "note"
// lines; the exit code counts what went wrong.
#include "benchmark/perf_modes.h"
#include "benchmark/perf_store.h"

#include "common/bench_files.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace perf {

Options::Options(int argc, char** argv, int first)
{
    for (int i = first; i < argc; ++i) {
        const char* equals = std::strchr(argv[i], '=');
        if (equals)
            values_[std::string(argv[i], static_cast<std::size_t>(equals - argv[i]))] = equals + 1;
    }
}

int Options::number(const std::string& key, int fallback) const
{
    auto found = values_.find(key);
    return found == values_.end() ? fallback : std::atoi(found->second.c_str());
}

std::vector<int> Options::numbers(const std::string& key, const std::vector<int>& fallback) const
{
    auto found = values_.find(key);
    if (found == values_.end())
        return fallback;
    std::vector<int> list;
    std::istringstream items(found->second);
    for (std::string item; std::getline(items, item, ',');)
        list.push_back(std::atoi(item.c_str()));
    return list;
}

std::string Options::text(const std::string& key, const std::string& fallback) const
{
    auto found = values_.find(key);
    return found == values_.end() ? fallback : found->second;
}

int run_store_add(const Options& options)
{
    const std::string folder = options.text("dir", "C:\\bench\\perf\\unrelated");
    std::vector<std::string> certificates;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "\\*.der").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do
            certificates.push_back(bench::read_file(folder + "\\" + entry.cFileName));
        while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    const int added = perf_store::add(certificates);
    std::printf("added %d of %d\n", added, static_cast<int>(certificates.size()));
    return added == static_cast<int>(certificates.size()) ? 0 : 1;
}

}  // namespace perf

int main(int argc, char** argv)
{
    const struct {
        const char* name;
        int (*run)(const perf::Options&);
    } modes[] = {
        {"quiet", perf::run_quiet},     {"change", perf::run_change},   {"cleaning", perf::run_cleaning},
        {"steady", perf::run_steady},   {"latency", perf::run_latency}, {"store-add", perf::run_store_add}, {"units", perf::run_units},
    };
    if (argc >= 2)
        for (const auto& mode : modes)
            if (std::strcmp(argv[1], mode.name) == 0)
                return mode.run(perf::Options(argc, argv, 2));
    std::fprintf(stderr,
                 "usage: bench_perf quiet|change|cleaning|steady|latency|units|store-add [key=value...]\n"
                 "  quiet blocks=7 turns=20 | change counts=1,10,100 reps=3 | cleaning counts=10,100,1000 reps=3\n"
                 "  steady turns=10000 every=10 | latency insertions=10 | store-add dir=C:\\bench\\perf\\unrelated\n");
    return 2;
}
