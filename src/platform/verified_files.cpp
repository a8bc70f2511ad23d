#include "platform/verified_files.h"

#include <mutex>
#include <vector>

namespace keyhaven {

namespace verified_files {

namespace {

// Two files a day per agent, and a few left from the days before.
const std::size_t files_remembered = 8;

struct Passed {
    std::string path;
    Identity identity;
};

struct Remembered {
    std::mutex guard;
    std::vector<Passed> files;  // oldest first
};

Remembered& remembered()
{
    static Remembered files;
    return files;
}

bool same(const Identity& a, const Identity& b)
{
    return a.volume == b.volume && a.id_high == b.id_high && a.id_low == b.id_low;
}

}  // namespace

bool passed(const std::string& path, const Identity& identity)
{
    Remembered& known = remembered();
    const std::lock_guard<std::mutex> held(known.guard);
    for (const Passed& file : known.files)
        if (file.path == path)
            return same(file.identity, identity);
    return false;
}

bool seen(const std::string& path)
{
    Remembered& known = remembered();
    const std::lock_guard<std::mutex> held(known.guard);
    for (const Passed& file : known.files)
        if (file.path == path)
            return true;
    return false;
}

void note_passed(const std::string& path, const Identity& identity)
{
    Remembered& known = remembered();
    const std::lock_guard<std::mutex> held(known.guard);
    for (auto file = known.files.begin(); file != known.files.end(); ++file)
        if (file->path == path) {
            known.files.erase(file);
            break;
        }
    if (known.files.size() >= files_remembered)
        known.files.erase(known.files.begin());
    known.files.push_back(Passed{path, identity});
}

}  // namespace verified_files

}  // namespace keyhaven
