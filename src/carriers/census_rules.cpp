#include "carriers/census_rules.h"

#include <initializer_list>

namespace keyhaven {

namespace census_rules {

namespace {

bool contains_any(const std::string& text, std::initializer_list<const char*> fragments)
{
    for (const char* fragment : fragments)
        if (text.find(fragment) != std::string::npos)
            return true;
    return false;
}

}  // namespace

bool is_skipped_reader(const std::string& reader_name)
{
    return contains_any(reader_name, {"FT SCR", "Rutoken Magistra"});
}

bool is_token_instance_id(const std::string& instance_id)
{
    return contains_any(instance_id, {"VID_0A89", "VID_0529", "VID_096E"});
}

std::vector<std::string> split_reader_list(const char* list, std::size_t length)
{
    std::vector<std::string> names;
    std::size_t pos = 0;
    while (list && pos < length && list[pos] != '\0') {
        std::size_t end = pos;
        while (end < length && list[end] != '\0')
            ++end;
        names.emplace_back(list + pos, end - pos);
        pos = end + 1;
    }
    return names;
}

CensusVerdict judge_counts(int old_tokens, int old_cards, int new_tokens, int new_cards, int ignore_cards)
{
    const bool tokens_differ = new_tokens != old_tokens;
    const bool cards_differ = new_cards != old_cards;
    const bool ignoring = ignore_cards == 1;
    return CensusVerdict{tokens_differ || cards_differ, ignoring, tokens_differ || (cards_differ && !ignoring)};
}

}  // namespace census_rules

}  // namespace keyhaven
