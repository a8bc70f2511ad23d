// The new-containers rule on any two lists of names (any bytes, NULs and
// repeats included): the names of the current list that the known list
// lacks, in order, repeats kept; checked against a lookup in a set.
//
// Input: names separated by "\n"; a line "--" ends the current list, the
// names after it are the known list.
#include "core/new_containers.h"
#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

using namespace keyhaven;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> current, known;
    std::vector<std::string>* list = &current;
    std::string name;
    for (std::size_t i = 0; i <= size; ++i) {
        if (i < size && data[i] != '\n') {
            name += static_cast<char>(data[i]);
            continue;
        }
        if (name == "--" && list == &current)
            list = &known;
        else if (i < size || !name.empty())
            list->push_back(name);
        name.clear();
    }

    const std::vector<std::string> fresh = new_containers(current, known);
    const std::set<std::string> seen(known.begin(), known.end());
    std::vector<std::string> expected;
    for (const std::string& candidate : current)
        if (!seen.count(candidate))
            expected.push_back(candidate);
    FUZZ_CHECK(fresh == expected);
    return 0;
}
