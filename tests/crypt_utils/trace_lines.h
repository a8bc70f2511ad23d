#pragma once
// The agent's log as the crypt_utils tests compare it. The source line
// number of an ERROR (or WARNING) line ("line: 75,") shows as "line: N," so
// that the expected lines do not move with the code; before it is blanked,
// it is checked against the source: the line must hold the call the log
// line names, in the file of the routine its "func:" names.

#include "support/agent_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace trace_lines {

// Line `number` (from 1) of a crypt_utils source file without its string
// literals (the call texts name the calls too), "" past its end.
inline std::string source_line(const std::string& file, int number)
{
    std::ifstream source(std::string(KEYHAVEN_CRYPT_UTILS_DIR) + file);
    std::string line;
    for (int i = 0; i < number && std::getline(source, line); ++i) {
    }
    if (!source)
        return std::string();
    std::string code;
    bool quoted = false;
    for (char c : line) {
        if (c == '"')
            quoted = !quoted;
        else if (!quoted)
            code += c;
    }
    return code;
}

inline std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// message: "<call> error, code: ..., line: N, func: crypt_utils::<routine>".
inline void check_line_number(const std::string& message, std::string::size_type at)
{
    static const std::map<std::string, std::string> file_of = {
        {"enum_containers", "enum_containers.cpp"},       {"get_cert_context", "container_certificates.cpp"},
        {"import_if_not_exists", "container_certificates.cpp"}, {"import_certificate", "container_certificates.cpp"},
        {"clean_local_storage", "store_cleaning.cpp"},     {"extract_cert_attribute", "store_cleaning.cpp"},
        {"get_provider_version", "provider_version.cpp"},  {"check_cert_expiration", "expiry_check.cpp"}};
    const std::string::size_type func = message.find("func: crypt_utils::");
    const auto file = func == std::string::npos ? file_of.end() : file_of.find(message.substr(func + 19));
    if (file == file_of.end())
        return ADD_FAILURE() << "no routine of a known file in: " << message;
    const std::string source = source_line(file->second, std::atoi(message.c_str() + at + 8));
    // The call as the line names it: "CryptGetKeyParam(KP_CERTIFICATE, null)"
    // is a CryptGetKeyParam call; a few texts name the parameter instead
    // ("CryptDecodeObject(PP_VERSION_EX, size)" reads pp_version_ex).
    const std::string text = message.substr(message.find("]: ") + 3);
    const std::string call = text.substr(0, text.find('('));
    const std::string argument = text.substr(call.size() + 1, text.find_first_of(",)") - call.size() - 1);
    const bool found = text.rfind(" error alloc", 0) == 0
                           ? source.find(".allocate(") != std::string::npos
                           : source.find(call + "A(") != std::string::npos ||
                                 source.find(call + "(") != std::string::npos ||
                                 (argument.rfind("PP_", 0) == 0 && lower(source).find(lower(argument)) != std::string::npos);
    EXPECT_TRUE(found) << file->second << " line " << message.substr(at + 8, message.find(',', at + 1) - at - 8)
                       << " is \"" << source << "\", not the call of: " << message;
}

inline std::vector<std::string> entries(bool minimal = false)
{
    std::vector<std::string> lines = agent_log::entries(minimal);
    for (auto& line : lines) {
        const std::string::size_type at = line.find(", line: ");
        const std::string::size_type end = line.find(',', at + 1);
        if (at == std::string::npos || end == std::string::npos)
            continue;
        check_line_number(line, at);
        line.replace(at, end - at, ", line: N");
    }
    return lines;
}

}  // namespace trace_lines
