#pragma once
// The stand-in GOST provider's bench state, changed and read from an
// in-process test (the same files bench/workstation's "container" and
// "provider" commands use; see bench/provider/provider_state.h), and test
// certificates made in memory.

#include <string>
#include <vector>

namespace bench_provider {

// --- containers and switches ----------------------------------------------

// No container, no switch, empty records and counters.
void clear();

// carrier: "token:<ID>", "card:<reader>" or "registry"; keys: "1", "2",
// "both" or "none"; certificate: DER bytes (any bytes), empty for none.
// Replaces a container of the same name, else goes last.
void add_container(const std::string& name, const std::string& carrier, const std::string& keys = "1",
                   const std::string& certificate = std::string());
void remove_container(const std::string& name);

// The name the provider gives for it with flag 8: "\\.\<medium>\<name>".
std::string qualified_name(const std::string& name, const std::string& carrier);

void set_busy(bool busy);
// The PP_VERSION word and the five values of parameter 138.
void set_version(unsigned long word, unsigned long product_build, unsigned long kernel_build, unsigned long build_type,
                 unsigned long architecture, unsigned long os_family);
// The provider no longer knows parameter 138 (NTE_BAD_TYPE).
void drop_version_ex();
// The named_call-th named PP_ENUMCONTAINERS call of a walk (1 = the first
// name) fails with code, in every walk (times 0) or in the first times walks.
void fail_walk(unsigned long named_call, unsigned long code, unsigned long times = 0);
// operation (acquire, enum, reader, container_name, mark, user_key,
// certificate, version, version_ex) fails with code; code 0 mends it.
void fail(const std::string& operation, unsigned long code);
// That operation fails and leaves the last error at 0 (fail_walk's code 0 does the same).
void fail_without_code(const std::string& operation);
// After the next finished walk every container is gone (until set_hidden(false)).
void vanish_after_walk(bool on);
void set_hidden(bool hidden);

// --- records --------------------------------------------------------------

long open_contexts();
long open_keys();
// Container names given to PP_CONTAINER_DEFAULT, in order; the last one is
// the default container.
std::vector<std::string> marks();
// One "0x<flags> <container>" entry per CryptAcquireContext that reached the
// provider, in order (successful or not).
std::vector<std::string> acquisitions();

// --- test certificates ------------------------------------------------------

struct UtcTime {
    int year, month, day, hour, minute, second;
};

// Now (UTC) moved by seconds.
UtcTime utc_from_now(long long seconds);

struct CertificateSpec {
    std::string serial = "01";  // hex, big-endian
    std::string subject_cn = "Test Subject";
    bool with_cn = true;  // false: the subject has no common name
    std::string issuer_cn = "Keyhaven Test CA";
    UtcTime not_before = utc_from_now(-86400);
    UtcTime not_after = utc_from_now(365LL * 86400);
};

// An X.509 v3 DER certificate crypt32 accepts; names as UTF8String (the
// common names are given in UTF-8). Key and signature are filler bytes.
std::string make_certificate(const CertificateSpec& wanted);

}  // namespace bench_provider
