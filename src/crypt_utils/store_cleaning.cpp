#include "crypt_utils/call_trace.h"
#include "crypt_utils/container_certificates.h"
#include "crypt_utils/store_cleaning.h"
#include "crypt_utils/crypt_handles.h"
#include "crypt_utils/personal_store.h"
#include "crypt_utils/provider_constants.h"
#include "crypt_utils/removed_copies.h"
#include "diag/log.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace keyhaven {

namespace crypt_utils {

namespace {

// The kept certificates of one pass, freed when the pass ends, on every path.
using KeptCertificates = std::vector<CertContext>;

// Identity for cleaning: the serial number alone.
bool protects(const KeptCertificates& kept, PCCERT_CONTEXT candidate)
{
    const CRYPT_INTEGER_BLOB& serial = candidate->pCertInfo->SerialNumber;
    for (const CertContext& certificate : kept) {
        const CRYPT_INTEGER_BLOB& own = certificate.get()->pCertInfo->SerialNumber;
        if (own.cbData == serial.cbData && std::memcmp(own.pbData, serial.pbData, serial.cbData) == 0)
            return true;
    }
    return false;
}

std::string encoded(PCCERT_CONTEXT certificate)
{
    return std::string(reinterpret_cast<const char*>(certificate->pbCertEncoded), certificate->cbCertEncoded);
}

bool contains(const std::vector<std::string>& list, const std::string& item)
{
    for (const auto& entry : list)
        if (entry == item)
            return true;
    return false;
}

// A deleted certificate can be traced and put back: its copy is kept, and the
// full log says which one it was. Failing to keep the copy never undoes or
// holds up the deletion.
void note_removed(const RemovedCertificate& removed)
{
    std::string failure;
    const bool kept = keep_removed_copy(removed, failure);
    const RemovedCopy& entry = removed.entry;
    log_write(LogLevel::debug, "\t   serial: %s, issuer: %s, thumbprint: %s, copy: %s", entry.serial.c_str(),
              log_name(removed.issuer_for_log).c_str(), entry.thumbprint.c_str(),
              kept ? entry.file.c_str() : "not kept");
    if (!kept)
        log_write(LogLevel::warning, "copy of removed certificate %s is not kept: %s",
                  entry.serial.c_str(), failure.c_str());
}

// Deletes every store certificate that no kept certificate protects,
// restarting the walk after each deletion. One that the store refuses to
// delete is passed over for the rest of the pass, so the pass always ends.
void delete_unprotected(HCERTSTORE store, const KeptCertificates& kept)
{
    std::vector<std::string> undeletable;
    StoreWalk walk(store);
    while (walk.held()) {
        if (protects(kept, walk.get()) || contains(undeletable, encoded(walk.get()))) {
            walk.next();
            continue;
        }
        const std::string name = log_name(extract_cert_attribute(walk.get()));
        const RemovedCertificate removed = describe_removed(walk.get());
        log_write(LogLevel::info, "\t * %s", name.c_str());
        const std::string bytes = encoded(walk.get());
        // The deletion frees the context whether or not it succeeds.
        if (!CertDeleteCertificateFromStore(walk.detach())) {
            const DWORD code = GetLastError();
            log_write(LogLevel::warning, "certificate %s is not deleted from [MY] storage, code: 0x%08X", name.c_str(),
                      static_cast<unsigned>(code));
            undeletable.push_back(bytes);
        } else {
            note_removed(removed);
        }
        walk.restart();
    }
}

}  // namespace

namespace {

// The common name (OID 2.5.4.3) of one of the certificate's names, as the
// routine `name` (its trace lines) reads it; the decoded name is `label`,
// and decode_call names the call that decodes it in an ERROR line.
std::string common_name_of(const CERT_NAME_BLOB& name, const char* routine, const char* label,
                           const char* decode_call)
{
    CallTrace trace(routine, std::string(routine) + "(" + szOID_COMMON_NAME + ")");
    Buffer decoded(label);
    std::string common_name;

    [&] {
        DWORD size = 0;
        if (!trace.ok(CryptDecodeObject(certificate_encoding, X509_NAME, name.pbData, name.cbData,
                                        CRYPT_DECODE_NOCOPY_FLAG, nullptr, &size),
                      "CryptDecodeObject(X509_NAME)") ||
            !trace.allocated(decoded.allocate(size)) ||
            !trace.ok(CryptDecodeObject(certificate_encoding, X509_NAME, name.pbData, name.cbData,
                                        CRYPT_DECODE_NOCOPY_FLAG, decoded.data(), &size),
                      decode_call))
            return;

        PCERT_RDN_ATTR attribute =
            CertFindRDNAttr(szOID_COMMON_NAME, reinterpret_cast<PCERT_NAME_INFO>(decoded.data()));
        if (!attribute)
            return;
        DWORD length = CertRDNValueToStrA(attribute->dwValueType, &attribute->Value, nullptr, 0);
        Buffer value("value");
        if (!trace.allocated(value.allocate(length)))
            return;
        if (CertRDNValueToStrA(attribute->dwValueType, &attribute->Value, reinterpret_cast<char*>(value.data()),
                               length))
            common_name.assign(reinterpret_cast<const char*>(value.data()));
    }();

    trace.clean_up(decoded);
    trace.close();
    return common_name;
}

}  // namespace

std::string extract_cert_attribute(PCCERT_CONTEXT certificate)
{
    return common_name_of(certificate->pCertInfo->Subject, "extract_cert_attribute", "cert_subject",
                          "CryptDecodeObject(X509_NAME, cert_subject)");
}

std::string extract_issuer_attribute(PCCERT_CONTEXT certificate)
{
    return common_name_of(certificate->pCertInfo->Issuer, "extract_issuer_attribute", "cert_issuer",
                          "CryptDecodeObject(X509_NAME, cert_issuer)");
}

int clean_local_storage(std::vector<std::string> containers)
{
    CallTrace trace("clean_local_storage", "clean_local_storage()");
    CertStore h_cert_store("h_cert_store");
    KeptCertificates kept;

    [&] {
        for (const auto& name : containers) {
            if (name.empty())
                continue;
            int rc = rc_ok;
            if (CertContext certificate = get_cert_context(name, rc); certificate.held()) {
                kept.push_back(std::move(certificate));
            } else if (rc == rc_failed_without_code) {
                // Windows did not say why: the certificate may be in the store
                // and this container may still be inserted.
                log_write(LogLevel::warning,
                          "certificate of container %s could not be read, [MY] storage is not cleaned",
                          log_name(name).c_str());
                return trace.set_rc(rc_failed_without_code);
            }
        }
        if (!trace.ok(*h_cert_store.put() = CertOpenStore(system_store, 0, 0, current_user, L"My"),
                      "CertOpenStore(CERT_SYSTEM_STORE_CURRENT_USER)"))
            return;

        log_write(LogLevel::info, " === cleaning [MY] storage: ===");
        delete_unprotected(h_cert_store.get(), kept);
        log_write(LogLevel::info, " === end of clean ===");
        // Deletions reach a system store's backing only on a commit under
        // Wine; on Windows the commit is harmless.
        if (!trace.ok(CertControlStore(h_cert_store.get(), 0, CERT_STORE_CTRL_COMMIT, nullptr),
                      "CertControlStore(CERT_STORE_CTRL_COMMIT)"))
            return;
    }();

    trace.clean_up(h_cert_store);
    return trace.close();
}

}  // namespace crypt_utils

}  // namespace keyhaven
