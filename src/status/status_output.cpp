#include "status/status_output.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstddef>
#include <vector>

namespace keyhaven {

namespace status {

namespace {

using Json = nlohmann::ordered_json;

Json text_or_null(const std::string& text)
{
    return text.empty() ? Json(nullptr) : Json(text);
}

Json agent_json(const AgentReport& agent)
{
    return Json{{"running", agent.running},
                {"version", text_or_null(agent.version)},
                {"path", text_or_null(agent.path)},
                {"source", text_or_null(agent.source)}};
}

Json settings_json(const SettingsReport& settings)
{
    return Json{{"state", settings_state(settings)},
                {"reason", text_or_null(settings.reason)},
                {"file", settings.file},
                {"code", static_cast<int>(settings.code)},
                {"mark_default", settings.values.mark_default},
                {"ignore_cards", settings.values.ignore_cards},
                {"clean_storage", settings.values.clean_storage},
                {"init_plugin", settings.values.init_plugin},
                {"holds_cleaning", settings.holds_cleaning}};
}

static_assert(log_tail_mib == 4, "the JSON names the part of the log it counts in");

Json log_json(const LogReport& log)
{
    return Json{{"file", text_or_null(log.file)},
                {"last_written_at", text_or_null(log.last_written_at)},
                {"errors", log.readable ? Json(log.errors) : Json(nullptr)},
                {"last_error", log.readable ? text_or_null(log.last_error) : Json(nullptr)},
                {"counted", log.readable ? Json(log.tail_only ? "last_4_mib" : "whole_file") : Json(nullptr)},
                {"reason", text_or_null(log.reason)}};
}

Json keeper_json(const KeeperReport& keeper)
{
    return Json{{"installed", keeper.installed},
                {"running", keeper.running},
                {"state", text_or_null(keeper.state)},
                {"today_files", keeper.today_files},
                {"missing", keeper.missing}};
}

// What names a certificate, first in every record that shows one.
template <typename Report>
Json certificate_names_json(const Report& report)
{
    return Json{{"subject_cn", report.subject_cn},
                {"issuer_cn", report.issuer_cn},
                {"serial", report.serial},
                {"thumbprint", report.thumbprint}};
}

Json certificate_json(const CertificateReport& certificate)
{
    Json json = certificate_names_json(certificate);
    json["not_after"] = certificate.not_after;
    json["days_left"] = certificate.days_left;
    json["expired"] = certificate.expired;
    json["container"] = text_or_null(certificate.container);
    return json;
}

Json provider_json(const ProviderReport& provider)
{
    return Json{{"installed", provider.installed},
                {"name", text_or_null(provider.name)},
                {"default_from", text_or_null(provider.default_from)},
                {"image", text_or_null(provider.image)},
                {"problem", text_or_null(provider.problem)}};
}

Json removed_json(const RemovedReport& removed)
{
    Json json = certificate_names_json(removed);
    json["removed_at"] = removed.removed_at;
    json["back_with_carrier"] = removed.back_with_carrier;
    json["file"] = removed.file;
    return json;
}

// Characters, not bytes, so that Cyrillic names keep the columns straight.
std::size_t width_of(const std::string& text)
{
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string padded(const std::string& text, std::size_t width)
{
    const std::size_t have = width_of(text);
    return text + std::string(have < width ? width - have : 0, ' ');
}

std::string or_dash(const std::string& text)
{
    return text.empty() ? "-" : text;
}

std::string settings_line(const SettingsReport& settings)
{
    const Settings& v = settings.values;
    std::string line = std::string(settings_state(settings)) + ", " + settings.file;
    if (!settings.reason.empty())
        line += "\n              " + settings.reason;
    line += "\n              mark_default=" + std::to_string(v.mark_default) +
            " ignore_cards=" + std::to_string(v.ignore_cards) + " clean_storage=" + std::to_string(v.clean_storage) +
            " init_plugin=" + std::to_string(v.init_plugin);
    if (settings.holds_cleaning)
        line += ", the agent holds cleaning";
    return line;
}

std::string log_line_text(const LogReport& log)
{
    if (log.file.empty())
        return "no data folder";
    std::string line = log.file + (log.last_written_at.empty() ? ", not written today"
                                                                 : ", last written " + log.last_written_at);
    if (!log.readable)
        return line + (log.last_written_at.empty() ? "" : ", not read: " + or_dash(log.reason));
    line += ", " + std::to_string(log.errors) + " ERROR line" + (log.errors == 1 ? "" : "s") +
            (log.tail_only ? " in its last " + std::to_string(log_tail_mib) + " MiB" : "");
    if (!log.last_error.empty())
        line += "\n              last: " + log.last_error;
    return line;
}

std::string keeper_line(const KeeperReport& keeper)
{
    std::string line = keeper.installed ? (keeper.running ? "running" : "NOT RUNNING (" + keeper.state + ")")
                                        : keeper.state.empty() ? "not installed" : "not known (" + keeper.state + ")";
    if (keeper.today_files)
        return line + ", today's log files ready";
    line += ", missing:";
    for (const std::string& name : keeper.missing)
        line += " " + name;
    return line;
}

std::string aligned(const std::vector<std::vector<std::string>>& rows, std::size_t right_aligned)
{
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], width_of(row[i]));
    std::string table;
    for (const auto& row : rows) {
        std::string line = "  ";
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += i == right_aligned ? std::string(widths[i] - width_of(row[i]), ' ') + row[i]
                                       : padded(row[i], widths[i]);
            line += i + 1 < row.size() ? "  " : "";
        }
        table += line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
    }
    return table;
}

std::string certificates_table(const StatusReport& report)
{
    std::vector<std::vector<std::string>> rows{{"", "DAYS", "NOT AFTER", "SUBJECT", "ISSUER", "SERIAL", "CONTAINER"}};
    for (const auto& c : report.certificates)
        rows.push_back({certificate_due(c, report.warn_days) ? "!" : "", std::to_string(c.days_left),
                        c.not_after.substr(0, 10), or_dash(c.subject_cn), or_dash(c.issuer_cn), c.serial,
                        or_dash(c.container)});
    return aligned(rows, 1);
}

std::string removed_table(const StatusReport& report)
{
    std::vector<std::vector<std::string>> rows{{"REMOVED", "SUBJECT", "ISSUER", "SERIAL", "BACK", "COPY"}};
    for (const auto& r : report.removed)
        rows.push_back({r.removed_at.substr(0, 10), or_dash(r.subject_cn), or_dash(r.issuer_cn), r.serial,
                        r.back_with_carrier ? "carrier" : "restore", r.file});
    return aligned(rows, rows[0].size());
}

std::string provider_line(const ProviderReport& provider)
{
    if (!provider.installed)
        return "NOT INSTALLED: " + provider.problem;
    return provider.name + " (" + provider.default_from + " default), " + provider.image;
}

}  // namespace

std::string json_text(const StatusReport& report)
{
    Json certificates = Json::array();
    for (const auto& certificate : report.certificates)
        certificates.push_back(certificate_json(certificate));
    Json removed = Json::array();
    for (const auto& entry : report.removed)
        removed.push_back(removed_json(entry));
    Json problems_found = Json::array();
    for (const auto& problem : problems(report))
        problems_found.push_back(Json{{"exit_status", problem.exit_status}, {"text", problem.text}});
    const Json document{{"agent", agent_json(report.agent)},
                        {"provider", provider_json(report.provider)},
                        {"settings", settings_json(report.settings)},
                        {"log", log_json(report.log)},
                        {"keeper", keeper_json(report.keeper)},
                        {"certificates", certificates},
                        {"warn_days", report.warn_days},
                        {"removed", removed},
                        {"removed_days", report.removed_days},
                        {"problems", problems_found}};
    // A name in a broken encoding must not cost the whole document.
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string table_text(const StatusReport& report)
{
    const AgentReport& agent = report.agent;
    std::string text = "Agent         " + std::string(agent.running ? "running" : "NOT RUNNING in this session");
    if (!agent.version.empty() || !agent.path.empty())
        text += ", " + or_dash(agent.version) + " (" + agent.source + ") " + or_dash(agent.path);
    text += "\nProvider      " + provider_line(report.provider);
    text += "\nSettings      " + settings_line(report.settings);
    text += "\nLog           " + log_line_text(report.log);
    text += "\nKeeper        " + keeper_line(report.keeper);
    text += "\nCertificates  " + std::to_string(report.certificates.size()) + ", ! marks expired or due within " +
            std::to_string(report.warn_days) + " days\n";
    if (!report.certificates.empty())
        text += certificates_table(report);
    text += "Removed       " + std::to_string(report.removed.size()) + " in the last " +
            std::to_string(report.removed_days) + " days (carrier: back with it; restore: from its copy)\n";
    if (!report.removed.empty())
        text += removed_table(report);
    const std::vector<Problem> found = problems(report);
    text += "Problems      " + std::string(found.empty() ? "none" : "") + "\n";
    for (const auto& problem : found)
        text += "  " + std::to_string(problem.exit_status) + "  " + problem.text + "\n";
    return text;
}

}  // namespace status

}  // namespace keyhaven
