// Turns that do work: a carrier with N new containers arrives (enumeration,
// cleaning, import), and store cleaning on its own against an empty and a
// full container list. Both leave the store, the settings and the carriers
// as they found them.
//
// The new containers sit on a card in a reader of their own: the provider
// stand-in looks for a token's containers by walking the USB registry keys
// on every call, which would make the bench, not the agent, the larger part
// of what is measured.
#include "core/new_containers.h"
#include "crypt_utils/container_certificates.h"
#include "crypt_utils/store_cleaning.h"
#include "crypt_utils/enum_containers.h"
#include "benchmark/perf_modes.h"
#include "benchmark/perf_store.h"
#include "benchmark/perf_turns.h"
#include "support/bench_carriers.h"
#include "support/bench_provider.h"
#include "support/timing_for_tests.h"

#include "common/bench_files.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>

using namespace keyhaven;

namespace perf {

namespace {

const char change_reader[] = "Perf Change Reader";
const char settings_path[] = "c:\\nivra\\Keyhaven.ini";

std::string numbered(const char* format, int a, int b = 0)
{
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

std::string certificate(const std::string& serial, const std::string& subject, const std::string& issuer)
{
    bench_provider::CertificateSpec wanted;
    wanted.serial = serial;
    wanted.subject_cn = subject;
    wanted.issuer_cn = issuer;
    return bench_provider::make_certificate(wanted);
}

// The settings file as it was, put back when the measurement ends.
class SettingsOverride {
public:
    explicit SettingsOverride(const std::string& text) : saved_(bench::read_file(settings_path))
    {
        bench::write_file(settings_path, text);
    }
    ~SettingsOverride() { bench::write_file(settings_path, saved_); }
    SettingsOverride(const SettingsOverride&) = delete;
    SettingsOverride& operator=(const SettingsOverride&) = delete;

private:
    std::string saved_;
};

std::vector<std::string> change_containers(int count)
{
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        names.push_back(numbered("perf-change-%03d", i));
        bench_provider::add_container(names.back(), std::string("card:") + change_reader, "1",
                                      certificate(numbered("7C%04X%04X", count, i),
                                                  numbered("Perf Change %03d", i), "Keyhaven Perf CA"));
    }
    return names;
}

// The steps of a change turn one by one, as run_polling_turn takes them.
void change_phases(PollingState& state, const std::string& prefix)
{
    Reading start = read_meter();
    state.census.take_census(state.settings);
    sample(prefix + ".census", cost_since(start));

    start = read_meter();
    (void)crypt_utils::enum_containers(state.settings, state.current_containers);
    sample(prefix + ".enumeration", cost_since(start));

    const std::vector<std::string> fresh = new_containers(state.current_containers, state.known_containers);
    state.known_containers = state.current_containers;
    start = read_meter();
    (void)crypt_utils::clean_local_storage(state.current_containers);
    sample(prefix + ".cleaning", cost_since(start));

    start = read_meter();
    for (const auto& name : fresh)
        (void)crypt_utils::import_if_not_exists(name, state.settings);
    sample(prefix + ".import", cost_since(start));
    sample(prefix + ".new_containers", static_cast<double>(fresh.size()));
}

void change_round(PollingState& state, const std::string& prefix)
{
    bench_carriers::insert_card(change_reader);
    measure(prefix + ".turn", 1, [&] { run_polling_turn(state); });
    bench_carriers::remove_card(change_reader);
    settle(state);

    bench_carriers::insert_card(change_reader);
    change_phases(state, prefix);
    bench_carriers::remove_card(change_reader);
    settle(state);
}

// Big-endian hex of a certificate's serial (CryptoAPI keeps it reversed).
std::string serial_hex(PCCERT_CONTEXT certificate)
{
    const CRYPT_INTEGER_BLOB& serial = certificate->pCertInfo->SerialNumber;
    std::string hex;
    for (DWORD i = serial.cbData; i > 0; --i)
        hex += numbered("%02X", serial.pbData[i - 1]);
    return hex;
}

std::vector<std::string> container_serials(const std::vector<std::string>& containers)
{
    std::vector<std::string> serials;
    for (const auto& name : containers) {
        int rc = 0;
        if (const crypt_utils::CertContext certificate = crypt_utils::get_cert_context(name, rc); certificate.held())
            serials.push_back(serial_hex(certificate.get()));
    }
    return serials;
}

void clean_round(int count, const std::vector<std::string>& list, const std::vector<std::string>& serials)
{
    std::vector<std::string> unrelated, matching;
    for (int i = 0; i < count; ++i) {
        unrelated.push_back(certificate(numbered("5C%04X%04X", count, i), numbered("Perf Other %04d", i),
                                        "Keyhaven Perf Other CA"));
        // Another issuer's certificate with the serial of a container's
        // certificate: serials alone decide, so it stays.
        matching.push_back(certificate(serials[i % serials.size()], numbered("Perf Kept %04d", i),
                                       numbered("Keyhaven Perf Issuer %04d", i)));
    }
    const std::string prefix = "cleaning." + std::to_string(count);

    perf_store::Snapshot().put_back();
    perf_store::add(unrelated);
    measure(prefix + ".empty", 1, [] { (void)crypt_utils::clean_local_storage({}); });
    if (perf_store::count() != 0)
        note(prefix + ": the empty-list pass left certificates in the store");

    perf_store::Snapshot().put_back();
    perf_store::add(matching);
    measure(prefix + ".full", 1, [&] { (void)crypt_utils::clean_local_storage(list); });
    if (perf_store::count() != count)
        note(prefix + ": the full-list pass deleted certificates it should have kept");
}

}  // namespace

int run_change(const Options& options)
{
    const std::vector<int> counts = options.numbers("counts", {1, 10, 100});
    const int reps = options.number("reps", 3);
    pauses_off();
    const StandinProviderKept provider_kept;
    const perf_store::Snapshot store = perf_store::Snapshot::take();
    int failures = 0;
    {
        SettingsOverride cleaning_on("[properties]\r\nclean_storage = 1\r\n");
        bench_carriers::add_reader(change_reader);
        PollingState state;
        settle(state);
        for (int count : counts) {
            const std::vector<std::string> names = change_containers(count);
            for (int rep = 0; rep < reps; ++rep)
                change_round(state, "change." + std::to_string(count));
            for (const auto& name : names)
                bench_provider::remove_container(name);
        }
        bench_carriers::remove_reader(change_reader);
    }
    if (!store.put_back() || perf_store::count() != static_cast<int>(store.size())) {
        note("the store could not be put back as it was");
        ++failures;
    }
    return failures;
}

int run_cleaning(const Options& options)
{
    const std::vector<int> counts = options.numbers("counts", {10, 100, 1000});
    const int reps = options.number("reps", 3);
    const StandinProviderKept provider_kept;
    const perf_store::Snapshot store = perf_store::Snapshot::take();
    std::vector<std::string> list;
    (void)crypt_utils::enum_containers(Settings{}, list);
    const std::vector<std::string> serials = container_serials(list);
    if (serials.empty()) {
        note("no container certificate could be read: nothing to keep");
        return 1;
    }
    sample("cleaning.list_containers", static_cast<double>(list.size()));
    for (int count : counts)
        for (int rep = 0; rep < reps; ++rep)
            clean_round(count, list, serials);
    if (!store.put_back() || perf_store::count() != static_cast<int>(store.size())) {
        note("the store could not be put back as it was");
        return 1;
    }
    return 0;
}

}  // namespace perf
