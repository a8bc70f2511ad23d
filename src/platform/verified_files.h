#pragma once
// The day's log files whose security the agent has already judged, known by
// identity: a line to a file judged that day costs no second reading of its
// security. No Windows header: the identity arrives as numbers.

#include <string>

namespace keyhaven {

namespace verified_files {

// Which file a handle reaches, whatever its name: the volume's serial number
// and the file's identifier on it (0 where the caller knows the volume).
struct Identity {
    unsigned long long volume;
    unsigned long long id_high;
    unsigned long long id_low;
};

// Whether the file at path was judged and passed, as this very file. The
// path carries the date, so each day's files are judged afresh.
bool passed(const std::string& path, const Identity& identity);

// Whether some file at path passed today, whichever file the name reaches now.
bool seen(const std::string& path);

// Notes that the file at path passed. A name that now reaches another file
// (deleted and made again, replaced) is judged again.
void note_passed(const std::string& path, const Identity& identity);

}  // namespace verified_files

}  // namespace keyhaven
