#pragma once
// The stand-in provider's bench state, as text. Shared by the provider DLL,
// which reads it on every call, and by the in-process test support, which
// writes it; bench/lib/benchlib/provider.py writes the same formats.
//
// C:\bench\provider.txt, one container per line, TAB-separated:
//     <name> \t <carrier> \t <keys> \t <certificate>
//   carrier:     token:<ID> | card:<reader name> | registry
//   keys:        1 (AT_KEYEXCHANGE) | 2 (AT_SIGNATURE) | both | none
//   certificate: "-" or the DER bytes in hex (served for every key)
// C:\bench\provider-switches.txt, one "<key> <value>..." line per switch
//   (see the Switch names below).
// C:\bench\provider-counters.txt, "<name> <value>" lines kept by the DLL:
//   contexts, keys (open now), fail_walk_fired.
// C:\bench\provider-record.txt, TAB-separated lines appended by the DLL:
//   acquire \t 0x<flags> \t <container> \t 0x<result, 0 for success> | failed, no code
//   mark \t <container name given to PP_CONTAINER_DEFAULT>
//
// No Windows header here: this is plain text handling.

#include "common/bench_files.h"

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace bench_csp {

struct Container {
    std::string name;
    std::string carrier;      // token:<ID>, card:<reader> or registry
    std::string keys = "1";   // 1, 2, both or none
    std::string certificate;  // DER bytes, empty for none
};

// Switch names of provider-switches.txt.
constexpr char busy_switch[] = "busy";              // 1: the containers are held by another program
constexpr char version_switch[] = "version";        // the PP_VERSION word, decimal
constexpr char version_ex_switch[] = "version_ex";  // five numbers, or "none" (parameter unknown)
constexpr char fail_walk_switch[] = "fail_walk";    // <n> <code> <times, 0 = always>
constexpr char delay_switch[] = "delay_ms";         // pause in every enumeration size call
constexpr char vanish_switch[] = "vanish_after_walk";  // 1: a finished walk hides every container
constexpr char hidden_switch[] = "hidden";          // 1: every container is gone
// "fail_<operation> <code>": that operation fails with that code. Operations:
// acquire, enum (size call), reader, container_name, mark, user_key,
// certificate (size and data call), version, version_ex.
// A code of 0 (here and in fail_walk) makes the call fail with the last
// error left at 0, as some real providers and drivers do.
inline std::string fail_switch(const std::string& operation)
{
    return "fail_" + operation;
}

constexpr unsigned long default_version_word = 0x0500;
constexpr unsigned long default_version_ex[5] = {12000, 12000, 1, 4, 0};

inline bool starts_with(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The medium a fully qualified name carries: the token, the reader or the registry.
inline std::string medium_of(const Container& container)
{
    if (starts_with(container.carrier, "token:"))
        return "Token " + container.carrier.substr(6);
    if (starts_with(container.carrier, "card:"))
        return container.carrier.substr(5);
    return "REGISTRY";
}

// "\\.\<medium>\<name>": what the enumeration with flag 8 and PP_CONTAINER give.
inline std::string qualified_name(const Container& container)
{
    return "\\\\.\\" + medium_of(container) + "\\" + container.name;
}

// True when text names this container, plainly or fully qualified.
inline bool is_named(const Container& container, const std::string& text)
{
    return text == container.name || text == qualified_name(container);
}

// key_spec: 1 (AT_KEYEXCHANGE) or 2 (AT_SIGNATURE).
inline bool has_key(const Container& container, unsigned long key_spec)
{
    if (container.keys == "both")
        return key_spec == 1 || key_spec == 2;
    return container.keys == std::to_string(key_spec);
}

inline std::string format_container(const Container& container)
{
    return container.name + "\t" + container.carrier + "\t" + container.keys + "\t" +
           (container.certificate.empty() ? std::string("-") : bench::to_hex(container.certificate));
}

// False for a line that is not a container (it is then ignored).
inline bool parse_container(const std::string& line, Container& container)
{
    std::vector<std::string> fields = bench::split(line, '\t');
    if (fields.size() != 4 || fields[0].empty())
        return false;
    container.name = fields[0];
    container.carrier = fields[1];
    container.keys = fields[2];
    container.certificate.clear();
    return fields[3] == "-" || bench::from_hex(fields[3], container.certificate);
}

inline std::vector<Container> parse_containers(const std::vector<std::string>& lines)
{
    std::vector<Container> containers;
    Container container;
    for (const auto& line : lines)
        if (parse_container(line, container))
            containers.push_back(container);
    return containers;
}

using Switches = std::map<std::string, std::vector<std::string>>;

inline Switches parse_switches(const std::vector<std::string>& lines)
{
    Switches switches;
    for (const auto& line : lines) {
        std::istringstream words(line);
        std::string key;
        std::string value;
        if (!(words >> key))
            continue;
        std::vector<std::string>& values = switches[key];
        while (words >> value)
            values.push_back(value);
    }
    return switches;
}

inline std::string format_switches(const Switches& switches)
{
    std::string text;
    for (const auto& entry : switches) {
        text += entry.first;
        for (const auto& value : entry.second)
            text += " " + value;
        text += "\r\n";
    }
    return text;
}

// The index-th value of a switch as a number (decimal or 0x hex); fallback if absent.
inline unsigned long switch_number(const Switches& switches, const std::string& key, std::size_t index,
                                   unsigned long fallback)
{
    auto found = switches.find(key);
    if (found == switches.end() || found->second.size() <= index)
        return fallback;
    return std::strtoul(found->second[index].c_str(), nullptr, 0);
}

inline bool switch_on(const Switches& switches, const std::string& key)
{
    return switch_number(switches, key, 0, 0) == 1;
}

}  // namespace bench_csp
