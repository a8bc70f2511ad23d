#pragma once
// The user's "My" store for the benchmarks: certificates added in bulk,
// looked up by thumbprint, and the whole store put back afterwards exactly
// as it was (key links included), so a rerun finds the same workstation.

#include <map>
#include <string>
#include <vector>

namespace perf_store {

// The registry backing of the store (the keys under
// HKCU\Software\Microsoft\SystemCertificates\My\Certificates): every
// certificate key with its values.
class Snapshot {
public:
    // Reads the store as it is now.
    static Snapshot take();
    // An empty store.
    Snapshot() = default;
    // Makes the store hold exactly this again.
    bool put_back() const;
    std::size_t size() const { return keys_.size(); }

private:
    struct Value {
        unsigned long type;
        std::string data;
    };
    std::map<std::string, std::map<std::string, Value>> keys_;
};

// Adds DER certificates without a key link, in one opening of the store.
// Returns how many the store took.
int add(const std::vector<std::string>& certificates);
// Certificates in the store now (the user's own, as the agent sees them).
int count();
// SHA-1 thumbprint of DER bytes.
std::string thumbprint(const std::string& der);
bool holds(const std::string& thumbprint);
// Deletes the certificate with this thumbprint, committed; true if it was there.
bool remove(const std::string& thumbprint);

}  // namespace perf_store
