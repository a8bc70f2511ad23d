#pragma once
// The census's decisions that need no platform: which readers are never
// probed, which USB instance IDs belong to key tokens, how the service's
// reader list splits, and what a new pair of counts means.

#include <cstddef>
#include <string>
#include <vector>

namespace keyhaven {

namespace census_rules {

// Readers whose name contains "FT SCR" or "Rutoken Magistra" (case-sensitive).
bool is_skipped_reader(const std::string& reader_name);

// Instance IDs containing "VID_0A89", "VID_0529" or "VID_096E" (case-sensitive).
bool is_token_instance_id(const std::string& instance_id);

// The names of a list of NUL-terminated strings ended by an empty one, of
// length characters at most; nothing beyond length is read.
std::vector<std::string> split_reader_list(const char* list, std::size_t length);

struct CensusVerdict {
    bool log_change;    // the counts differ from the previous census
    bool cards_ignored; // the line takes the "(%d, ignored)" form
    bool changed;       // the census counts as a change
};

// ignore_cards is compared with 1 exactly.
CensusVerdict judge_counts(int old_tokens, int old_cards, int new_tokens, int new_cards, int ignore_cards);

}  // namespace census_rules

}  // namespace keyhaven
