#pragma once
// The PC/SC bench state and records, shared by the winscard stand-in, the
// in-process test helpers and (in Python) bench/lib/benchlib/pcsc.py.
//
// C:\bench\pcsc.txt, one reader per line in list order, TAB-separated:
//   <reader name> \t <none|card> \t <"-" or flags: t1-only,exclusive> \t <"-" or replies>
// replies: ';'-separated, one per APDU of a connection (the last repeats):
//   hex bytes ("6110", "9000", "90", or empty for a zero-byte reply), or
//   "!" + 8 hex digits: SCardTransmit fails with that code.
//   "-": the card never answers (SCardTransmit fails with SCARD_E_TIMEOUT).
// C:\bench\pcsc-stopped exists: the PC/SC service is stopped.
// C:\bench\pcsc-record.txt: one line per call, see winscard_standin.cpp.
// C:\bench\pcsc-counters.txt: "contexts N", "cards N", "lists N" (still open).

#include "common/bench_files.h"

#include <string>
#include <vector>

namespace pcsc_bench {

constexpr char state_file[] = "pcsc.txt";
constexpr char stopped_file[] = "pcsc-stopped";
constexpr char record_file[] = "pcsc-record.txt";
constexpr char counters_file[] = "pcsc-counters.txt";

constexpr char open_contexts[] = "contexts";
constexpr char open_cards[] = "cards";
constexpr char open_lists[] = "lists";

struct Reader {
    std::string name;
    bool card = false;
    bool t1_only = false;
    bool exclusive = false;
    std::vector<std::string> replies;  // as written; empty for "-"
};

inline std::string join(const std::vector<std::string>& parts, char separator)
{
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i)
        text += (i ? std::string(1, separator) : std::string()) + parts[i];
    return text;
}

// False for a line that is not four fields with a known card state.
inline bool parse_reader(const std::string& line, Reader& reader)
{
    std::vector<std::string> fields = bench::split(line, '\t');
    if (fields.size() != 4 || fields[0].empty() || (fields[1] != "card" && fields[1] != "none"))
        return false;
    reader = Reader();
    reader.name = fields[0];
    reader.card = fields[1] == "card";
    if (fields[2] != "-") {
        for (const std::string& flag : bench::split(fields[2], ',')) {
            reader.t1_only = reader.t1_only || flag == "t1-only";
            reader.exclusive = reader.exclusive || flag == "exclusive";
        }
    }
    if (fields[3] != "-")
        reader.replies = bench::split(fields[3], ';');
    return true;
}

inline std::string format_reader(const Reader& reader)
{
    std::vector<std::string> flags;
    if (reader.t1_only)
        flags.push_back("t1-only");
    if (reader.exclusive)
        flags.push_back("exclusive");
    return reader.name + "\t" + (reader.card ? "card" : "none") + "\t" + (flags.empty() ? "-" : join(flags, ',')) +
           "\t" + (reader.replies.empty() ? "-" : join(reader.replies, ';'));
}

// Lines that do not parse are left out.
inline std::vector<Reader> parse_state(const std::vector<std::string>& lines)
{
    std::vector<Reader> readers;
    Reader reader;
    for (const std::string& line : lines)
        if (parse_reader(line, reader))
            readers.push_back(reader);
    return readers;
}

}  // namespace pcsc_bench
