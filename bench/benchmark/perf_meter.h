#pragma once
// What the benchmark programs measure: wall time, CPU time of this process
// and of the workstation's wineserver (which does much of the work behind
// every Win32 call under Wine), and the process's private bytes, handles
// and threads. Figures go to standard output as "sample" lines for
// bench/perf to gather.

#include <cstddef>
#include <string>

namespace perf {

struct Reading {
    double wall_ms;
    double process_cpu_ms;
    double server_cpu_ms;  // 0 when the server was not found
};

// Now. Under Wine the process and its server are read from their Unix
// side (drive Z:, /proc); elsewhere only this process's CPU counts.
Reading read_meter();

struct Cost {
    double wall_ms;
    double cpu_ms;  // this process + the wineserver
};

// Wall clock alone, for loops that must not pay for reading the CPU times.
double wall_clock_ms();

// From start to now, divided by count.
Cost cost_since(const Reading& start, int count = 1);

// Where the CPU figures come from, for a note in the output.
std::string meter_description();

// Committed private memory (what Windows calls private bytes), summed over
// the address space: Wine's own counters report 0 for it.
std::size_t private_bytes();
// Open handles of this process, from the system's handle table.
long handle_count();
long thread_count();

// "sample<TAB>name<TAB>value": one repetition's figure.
void sample(const std::string& name, double value);
// Both halves of a cost, as name.wall_ms and name.cpu_ms.
void sample(const std::string& name, const Cost& cost);
// "note<TAB>text": what a reader of the output should know.
void note(const std::string& text);

}  // namespace perf
