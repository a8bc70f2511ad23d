#include "crypt_utils/removed_index.h"

#include <cstdio>

namespace keyhaven {

namespace crypt_utils {

namespace {

const char header[] =
    "# Certificates the agent removed from the store \"My\", newest first; one a line, tab-separated:\n"
    "# removed_at, thumbprint, serial, key link (gost: back with its carrier; other), copy file, subject CN, "
    "issuer CN\n";
const char gost_link[] = "gost";
const char other_link[] = "other";

// A name may hold any character: the three that would break a line are escaped.
std::string escaped(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out;
}

std::string unescaped(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[++i];
        out += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return out;
}

bool hex_only(const std::string& text)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    return true;
}

std::vector<std::string> fields_of(const std::string& line)
{
    std::vector<std::string> fields(1);
    for (char c : line) {
        if (c == '\t')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

// The file is always the thumbprint's: a line naming another (a path, "..")
// is not the agent's and is not taken.
bool entry_of(const std::string& line, RemovedCopy& copy)
{
    const std::vector<std::string> fields = fields_of(line);
    if (fields.size() != 7)
        return false;
    copy.removed_at = fields[0];
    copy.thumbprint = fields[1];
    copy.serial = fields[2];
    copy.gost_key_link = fields[3] == gost_link;
    copy.file = fields[4];
    copy.subject_cn = unescaped(fields[5]);
    copy.issuer_cn = unescaped(fields[6]);
    expiry::CalendarDate date{};
    return hex_only(copy.thumbprint) && hex_only(copy.serial) && (fields[3] == gost_link || fields[3] == other_link) &&
           copy.file == removed_copy_file(copy.thumbprint) && removed_on(copy, date);
}

}  // namespace

std::string removed_copy_file(const std::string& thumbprint)
{
    return thumbprint + ".sst";
}

std::string removed_index_text(const std::vector<RemovedCopy>& copies)
{
    std::string text = header;
    for (const RemovedCopy& copy : copies)
        text += copy.removed_at + '\t' + copy.thumbprint + '\t' + copy.serial + '\t' +
                (copy.gost_key_link ? gost_link : other_link) + '\t' + copy.file + '\t' + escaped(copy.subject_cn) +
                '\t' + escaped(copy.issuer_cn) + '\n';
    return text;
}

std::vector<RemovedCopy> parse_removed_index(const std::string& text)
{
    std::vector<RemovedCopy> copies;
    std::size_t start = 0;
    while (start < text.size() && copies.size() < 2 * removed_copies_kept) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        RemovedCopy copy;
        if (!line.empty() && line[0] != '#' && entry_of(line, copy))
            copies.push_back(copy);
        start = end + 1;
    }
    return copies;
}

bool removed_on(const RemovedCopy& copy, expiry::CalendarDate& date)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char zone = 0;
    if (copy.removed_at.size() != 20 ||
        std::sscanf(copy.removed_at.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &year, &month, &day, &hour, &minute,
                    &second, &zone) != 7 ||
        zone != 'Z' || month < 1 || month > 12 || day < 1 || day > expiry::days_in_month(year, month))
        return false;
    date = {year, month, day};
    return true;
}

RemovedIndexUpdate record_removed_copy(const std::vector<RemovedCopy>& index, const RemovedCopy& added,
                                       const expiry::CalendarDate& today)
{
    RemovedIndexUpdate update;
    update.kept.push_back(added);
    for (const RemovedCopy& copy : index) {
        if (copy.thumbprint == added.thumbprint)
            continue;  // its one copy was just refreshed
        expiry::CalendarDate date{};
        const bool recent = removed_on(copy, date) && expiry::days_between(date, today) <= removed_copies_days;
        if (recent && update.kept.size() < removed_copies_kept)
            update.kept.push_back(copy);
        else
            update.files_to_delete.push_back(copy.file);
    }
    return update;
}

std::string hex_digits(const unsigned char* bytes, std::size_t size, bool reversed)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char byte = bytes[reversed ? size - 1 - i : i];
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

}  // namespace crypt_utils

}  // namespace keyhaven
