#include "support/bench_provider.h"

#include "common/bench_files.h"
#include "provider/provider_state.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace bench_provider {

namespace {

std::string containers_file() { return bench::path("provider.txt"); }
std::string switches_file() { return bench::path("provider-switches.txt"); }
std::string counters_file() { return bench::path("provider-counters.txt"); }
std::string record_file() { return bench::path("provider-record.txt"); }

std::vector<bench_csp::Container> containers()
{
    return bench_csp::parse_containers(bench::read_lines(containers_file()));
}

void write_containers(const std::vector<bench_csp::Container>& all)
{
    std::string text;
    for (const auto& container : all)
        text += bench_csp::format_container(container) + "\r\n";
    bench::write_file(containers_file(), text);
}

void set_switch(const std::string& key, const std::vector<std::string>& values)
{
    bench_csp::Switches switches = bench_csp::parse_switches(bench::read_lines(switches_file()));
    if (values.empty())
        switches.erase(key);
    else
        switches[key] = values;
    bench::write_file(switches_file(), bench_csp::format_switches(switches));
}

std::vector<std::vector<std::string>> record_entries(const std::string& kind)
{
    std::vector<std::vector<std::string>> entries;
    for (const auto& line : bench::read_lines(record_file())) {
        std::vector<std::string> fields = bench::split(line, '\t');
        if (fields[0] == kind)
            entries.push_back(fields);
    }
    return entries;
}

// --- DER --------------------------------------------------------------------

std::string tlv(unsigned char tag, const std::string& content)
{
    std::string out(1, static_cast<char>(tag));
    std::size_t size = content.size();
    if (size < 0x80) {
        out += static_cast<char>(size);
    } else {
        std::string digits;
        for (; size; size >>= 8)
            digits.insert(digits.begin(), static_cast<char>(size & 0xFF));
        out += static_cast<char>(0x80 | digits.size());
        out += digits;
    }
    return out + content;
}

std::string sequence(const std::string& content)
{
    return tlv(0x30, content);
}

std::string integer(std::string big_endian)
{
    while (big_endian.size() > 1 && big_endian[0] == 0)
        big_endian.erase(0, 1);
    if (big_endian.empty() || (static_cast<unsigned char>(big_endian[0]) & 0x80))
        big_endian.insert(big_endian.begin(), '\0');
    return tlv(0x02, big_endian);
}

std::string oid(std::vector<unsigned long> arcs)
{
    std::string body(1, static_cast<char>(40 * arcs[0] + arcs[1]));
    for (std::size_t i = 2; i < arcs.size(); ++i) {
        std::string chunk(1, static_cast<char>(arcs[i] & 0x7F));
        for (unsigned long rest = arcs[i] >> 7; rest; rest >>= 7)
            chunk.insert(chunk.begin(), static_cast<char>(0x80 | (rest & 0x7F)));
        body += chunk;
    }
    return tlv(0x06, body);
}

// A Name of one RDN: the attribute as UTF8String.
std::string name(const std::vector<unsigned long>& attribute, const std::string& utf8)
{
    return sequence(tlv(0x31, sequence(oid(attribute) + tlv(0x0C, utf8))));
}

std::string time_value(const UtcTime& t)
{
    char text[32];
    if (t.year >= 1950 && t.year < 2050) {
        std::snprintf(text, sizeof text, "%02d%02d%02d%02d%02d%02dZ", t.year % 100, t.month, t.day, t.hour, t.minute,
                      t.second);
        return tlv(0x17, text);
    }
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02dZ", t.year, t.month, t.day, t.hour, t.minute, t.second);
    return tlv(0x18, text);
}

}  // namespace

void clear()
{
    for (const auto& file : {containers_file(), switches_file(), counters_file(), record_file()})
        DeleteFileA(file.c_str());
}

void add_container(const std::string& name_text, const std::string& carrier, const std::string& keys,
                   const std::string& certificate)
{
    std::vector<bench_csp::Container> all;
    for (const auto& container : containers())
        if (container.name != name_text)
            all.push_back(container);
    all.push_back(bench_csp::Container{name_text, carrier, keys, certificate});
    write_containers(all);
}

void remove_container(const std::string& name_text)
{
    std::vector<bench_csp::Container> rest;
    for (const auto& container : containers())
        if (container.name != name_text)
            rest.push_back(container);
    write_containers(rest);
}

std::string qualified_name(const std::string& name_text, const std::string& carrier)
{
    return bench_csp::qualified_name(bench_csp::Container{name_text, carrier, "1", ""});
}

void set_busy(bool busy)
{
    set_switch(bench_csp::busy_switch, busy ? std::vector<std::string>{"1"} : std::vector<std::string>{});
}

void set_version(unsigned long word, unsigned long product_build, unsigned long kernel_build, unsigned long build_type,
                 unsigned long architecture, unsigned long os_family)
{
    set_switch(bench_csp::version_switch, {std::to_string(word)});
    set_switch(bench_csp::version_ex_switch,
               {std::to_string(product_build), std::to_string(kernel_build), std::to_string(build_type),
                std::to_string(architecture), std::to_string(os_family)});
}

void drop_version_ex()
{
    set_switch(bench_csp::version_ex_switch, {"none"});
}

void fail_walk(unsigned long named_call, unsigned long code, unsigned long times)
{
    set_switch(bench_csp::fail_walk_switch, {std::to_string(named_call), std::to_string(code), std::to_string(times)});
}

void fail(const std::string& operation, unsigned long code)
{
    set_switch(bench_csp::fail_switch(operation),
               code ? std::vector<std::string>{std::to_string(code)} : std::vector<std::string>{});
}

void fail_without_code(const std::string& operation)
{
    set_switch(bench_csp::fail_switch(operation), {"0"});
}

void vanish_after_walk(bool on)
{
    set_switch(bench_csp::vanish_switch, on ? std::vector<std::string>{"1"} : std::vector<std::string>{});
}

void set_hidden(bool hidden)
{
    set_switch(bench_csp::hidden_switch, hidden ? std::vector<std::string>{"1"} : std::vector<std::string>{});
}

long open_contexts()
{
    return bench::read_counters(counters_file())["contexts"];
}

long open_keys()
{
    return bench::read_counters(counters_file())["keys"];
}

std::vector<std::string> marks()
{
    std::vector<std::string> names;
    for (const auto& entry : record_entries("mark"))
        names.push_back(entry.size() > 1 ? entry[1] : std::string());
    return names;
}

std::vector<std::string> acquisitions()
{
    std::vector<std::string> calls;
    for (const auto& entry : record_entries("acquire"))
        if (entry.size() >= 3)
            calls.push_back(entry[1] + " " + entry[2]);
    return calls;
}

UtcTime utc_from_now(long long seconds)
{
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    FILETIME file_time = {};
    SystemTimeToFileTime(&now, &file_time);
    ULARGE_INTEGER ticks;
    ticks.LowPart = file_time.dwLowDateTime;
    ticks.HighPart = file_time.dwHighDateTime;
    ticks.QuadPart += static_cast<unsigned long long>(seconds * 10000000LL);
    file_time.dwLowDateTime = ticks.LowPart;
    file_time.dwHighDateTime = ticks.HighPart;
    SYSTEMTIME moved = {};
    FileTimeToSystemTime(&file_time, &moved);
    return UtcTime{moved.wYear, moved.wMonth, moved.wDay, moved.wHour, moved.wMinute, moved.wSecond};
}

std::string make_certificate(const CertificateSpec& wanted)
{
    const std::vector<unsigned long> common_name = {2, 5, 4, 3};
    const std::vector<unsigned long> organization = {2, 5, 4, 10};
    std::string serial;
    bench::from_hex(wanted.serial.size() % 2 ? "0" + wanted.serial : wanted.serial, serial);

    // GOST R 34.11-94 with GOST R 34.10-2001; a GOST R 34.10-2001 key, parameter set A.
    const std::string algorithm = sequence(oid({1, 2, 643, 2, 2, 3}));
    const std::string key_algorithm =
        sequence(oid({1, 2, 643, 2, 2, 19}) + sequence(oid({1, 2, 643, 2, 2, 35, 1}) + oid({1, 2, 643, 2, 2, 30, 1})));
    std::string key_bytes;
    for (int i = 1; i <= 64; ++i)
        key_bytes += static_cast<char>(i);
    const std::string public_key = sequence(key_algorithm + tlv(0x03, std::string(1, '\0') + tlv(0x04, key_bytes)));
    const std::string key_usage =
        sequence(oid({2, 5, 29, 15}) + tlv(0x01, "\xff") + tlv(0x04, tlv(0x03, std::string("\x05\xe0", 2))));

    const std::string tbs = sequence(
        tlv(0xA0, integer(std::string(1, '\x02'))) + integer(serial) + algorithm + name(common_name, wanted.issuer_cn) +
        sequence(time_value(wanted.not_before) + time_value(wanted.not_after)) +
        (wanted.with_cn ? name(common_name, wanted.subject_cn) : name(organization, "Keyhaven Bench")) + public_key +
        tlv(0xA3, sequence(key_usage)));
    return sequence(tbs + algorithm + tlv(0x03, std::string(1, '\0') + std::string(64, '\x5A')));
}

}  // namespace bench_provider
