#include "carriers/census.h"

#include "carriers/census_rules.h"
#include "diag/log.h"

namespace keyhaven {

CensusResult CarrierCensus::take_census(const Settings& settings)
{
    const int ignore_cards = settings.ignore_cards;
    const int cards = count_cards();
    const int tokens = count_tokens();

    const census_rules::CensusVerdict verdict =
        census_rules::judge_counts(tokens_count, cards_count, tokens, cards, ignore_cards);
    if (verdict.log_change) {
        if (verdict.cards_ignored)
            log_write(LogLevel::info, "configuration changed: cards_count=(%d, ignored), tokens_count=%d",
                      cards, tokens);
        else
            log_write(LogLevel::info, "configuration changed: cards_count=%d, tokens_count=%d", cards, tokens);
    }
    tokens_count = tokens;
    cards_count = cards;
    return CensusResult{static_cast<std::uint16_t>(static_cast<unsigned>(cards) + static_cast<unsigned>(tokens)),
                        verdict.changed};
}

}  // namespace keyhaven
