// The certificate stored with a container's key: reading it for the
// cleaning (get_cert_context), and importing it into "My" linked to its
// container (import_if_not_exists, import_certificate). The steps the three
// share are here too, so the line of an ERROR line is always in this file.

#include "crypt_utils/call_trace.h"
#include "crypt_utils/container_certificates.h"
#include "crypt_utils/expiry_check.h"
#include "crypt_utils/crypt_handles.h"
#include "crypt_utils/personal_store.h"
#include "crypt_utils/provider_constants.h"
#include "platform/text.h"
#include "diag/log.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace keyhaven {

namespace crypt_utils {

namespace {

const int wide_name_buffer = 260;

// The exchange key, or else the signature key. Returns the key spec found,
// or 0 after logging "CryptGetUserKey(2)" (the last key spec tried).
DWORD get_user_key(CallTrace& trace, HCRYPTPROV provider, KeyHandle& key)
{
    if (CryptGetUserKey(provider, AT_KEYEXCHANGE, key.put()))
        return AT_KEYEXCHANGE;
    if (trace.ok(CryptGetUserKey(provider, AT_SIGNATURE, key.put()), "CryptGetUserKey(2)"))
        return AT_SIGNATURE;
    return 0;
}

// Reads the DER certificate of key into cert_buffer (size call, then data
// call) and makes certificate from it. size_call names the size call in the
// ERROR line. False after logging the failing step.
bool read_key_certificate(CallTrace& trace, HCRYPTKEY key, const char* size_call, Buffer& cert_buffer,
                          CertContext& certificate)
{
    DWORD size = 0;
    return trace.ok(CryptGetKeyParam(key, kp_certificate, nullptr, &size, 0), size_call) &&
           trace.allocated(cert_buffer.allocate(size)) &&
           trace.ok(CryptGetKeyParam(key, kp_certificate, cert_buffer.data(), &size, 0),
                    "CryptGetKeyParam(KP_CERTIFICATE)") &&
           trace.ok(*certificate.put() = CertCreateCertificateContext(certificate_encoding,
                                                                      cert_buffer.data(), size),
                    "CertCreateCertificateContext()");
}

// The container a routine reads, its key and the certificate stored with
// the key, each with the label its clean-up line shows. Members go in
// reverse order: the key before its provider.
struct ContainerRead {
    explicit ContainerRead(const char* certificate_label) : certificate(certificate_label) {}
    ProviderHandle prov{"prov"};
    KeyHandle key{"key"};
    Buffer cert_buffer{"cert_buffer"};
    CertContext certificate;
};

// flags_text names the flags in the ERROR line.
bool open_container(CallTrace& trace, ContainerRead& read, const std::string& container, DWORD flags,
                    const char* flags_text)
{
    // Formatted before the call: nothing may run between the call and the
    // reading of its error code.
    const std::string call_text =
        format_string("CryptAcquireContext(%s, null, 75, %s)", log_name(container).c_str(), flags_text);
    return trace.ok(CryptAcquireContextA(read.prov.put(), container.c_str(), nullptr, provider_type, flags), call_text);
}

// The container's key and its certificate: the key spec found, or 0 after
// the failing step's ERROR line.
DWORD read_certificate(CallTrace& trace, ContainerRead& read, const char* size_call)
{
    const DWORD key_spec = get_user_key(trace, read.prov.get(), read.key);
    if (!key_spec || !read_key_certificate(trace, read.key.get(), size_call, read.cert_buffer, read.certificate))
        return 0;
    return key_spec;
}

void mark_default_if_asked(CallTrace& trace, HCRYPTPROV provider, const std::string& container, int mark_default)
{
    if (mark_default != 1) {
        log_write(LogLevel::info, "skip putting a default mark according to service settings");
        return;
    }
    // Only a warning on failure: the import goes on.
    const BYTE* name = reinterpret_cast<const BYTE*>(container.c_str());
    if (trace.tolerated(CryptSetProvParam(provider, pp_container_default, name, 0),
                        "CryptSetProvParam(PP_CONTAINER_DEFAULT)"))
        log_write(LogLevel::info, "container was marked as default container");
}

// The container name widened for the key link; the buffer grows past its
// usual 260 characters when a name needs it, so the link is never cut.
std::vector<wchar_t> widened(const BYTE* name, DWORD byte_length)
{
    const char* text = reinterpret_cast<const char*>(name);
    int length = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(byte_length), nullptr, 0);
    std::vector<wchar_t> wide(std::max(wide_name_buffer, length + 1), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(byte_length), wide.data(), length);
    return wide;
}

}  // namespace

CertContext get_cert_context(const std::string& container, int& rc)
{
    CallTrace trace("get_cert_context", "get_cert_context(" + log_name(container) + ")");
    ContainerRead read("certificate");
    [&] {
        if (open_container(trace, read, container, CRYPT_SILENT, "CRYPT_SILENT"))
            read_certificate(trace, read, "CryptGetKeyParam(KP_CERTIFICATE)");
    }();

    read.key.free_now();  // before its provider goes; no line for it
    trace.clean_up(read.cert_buffer, read.prov);
    rc = trace.close();
    return std::move(read.certificate);
}

int import_if_not_exists(const std::string& container, const Settings& settings)
{
    CallTrace trace("import_if_not_exists", "import_if_not_exists(" + log_name(container) + ")");
    ContainerRead read("user_cert");
    Buffer subject_buffer("subject_buffer");
    CertStore h_cert_store("h_cert_store");
    CertContext cert_context("cert_context");

    [&] {
        if (!open_container(trace, read, container, CRYPT_MACHINE_KEYSET, "CRYPT_MACHINE_KEYSET"))
            return;
        mark_default_if_asked(trace, read.prov.get(), container, settings.mark_default);
        if (!read_certificate(trace, read, "CryptGetKeyParam(KP_CERTIFICATE, null)"))
            return;

        CERT_NAME_BLOB* subject = &read.certificate.get()->pCertInfo->Subject;
        DWORD subject_size = 0;
        if (!trace.ok((subject_size = CertNameToStrA(X509_ASN_ENCODING, subject, CERT_X500_NAME_STR,
                                                     nullptr, 0)) != 0,
                      "CertNameToStr()") ||
            !trace.allocated(subject_buffer.allocate(subject_size)))
            return;
        char* subject_text = reinterpret_cast<char*>(subject_buffer.data());
        CertNameToStrA(X509_ASN_ENCODING, subject, CERT_X500_NAME_STR, subject_text, subject_size);

        if (!trace.ok(*h_cert_store.put() = CertOpenStore(system_store, 0, 0, current_user, L"My"),
                      "CertOpenStore()"))
            return;

        // The same issuer and serial number make the same certificate.
        cert_context.reset(CertFindCertificateInStore(h_cert_store.get(), certificate_encoding, 0,
                                                      CERT_FIND_SUBJECT_CERT, read.certificate.get()->pCertInfo,
                                                      nullptr));
        if (cert_context.held()) {
            log_write(LogLevel::warning, "certificate { %s } was already imported to [MY] before, skipping...",
                      log_name(subject_text).c_str());
            check_cert_expiration(cert_context.get());
            return trace.set_rc(rc_already_in_store);
        }
        log_write(LogLevel::info, "certificate { %s } not found in [MY] store, importing...",
                  log_name(subject_text).c_str());
        if (check_cert_expiration(read.certificate.get()))
            return trace.set_rc(rc_outside_validity);
        if (import_certificate(container) == rc_ok)
            log_write(LogLevel::info, "certificate imported successfully");
        else
            log_write(LogLevel::error, "error import certificate to store [MY]");
    }();

    trace.clean_up(read.certificate, cert_context, read.cert_buffer, h_cert_store, subject_buffer, read.key, read.prov);
    return trace.close();
}

int import_certificate(const std::string& container)
{
    CallTrace trace("import_certificate", "import_certificate(" + log_name(container) + ")");
    ContainerRead read("user_cert");
    Buffer cont_friendly_name("cont_friendly_name");
    CertStore h_cert_store("h_cert_store");

    [&] {
        if (!open_container(trace, read, container, CRYPT_SILENT, "CRYPT_SILENT"))
            return;
        // The key link names the key spec the certificate was found under.
        const DWORD key_spec = read_certificate(trace, read, "CryptGetKeyParam(KP_CERTIFICATE)");
        if (!key_spec)
            return;

        DWORD name_size = 0;
        if (!trace.ok(CryptGetProvParam(read.prov.get(), pp_container, nullptr, &name_size, fqcn_flag),
                      "CryptGetProvParam(PP_CONTAINER, null)") ||
            !trace.allocated(cont_friendly_name.allocate(name_size)) ||
            !trace.ok(CryptGetProvParam(read.prov.get(), pp_container, cont_friendly_name.data(), &name_size,
                                        fqcn_flag),
                      "CryptGetProvParam(PP_CONTAINER)") ||
            !trace.ok(*h_cert_store.put() = CertOpenStore(system_store, 0, 0, current_user, L"My"),
                      "CertOpenStore()"))
            return;

        std::vector<wchar_t> container_name = widened(cont_friendly_name.data(), name_size);
        CRYPT_KEY_PROV_INFO key_link = {};
        key_link.pwszContainerName = container_name.data();
        key_link.pwszProvName = const_cast<wchar_t*>(provider_name_wide);
        key_link.dwProvType = provider_type;
        key_link.dwFlags = 0;
        key_link.cProvParam = 0;
        key_link.rgProvParam = nullptr;
        key_link.dwKeySpec = key_spec;
        if (!trace.ok(CertSetCertificateContextProperty(read.certificate.get(), CERT_KEY_PROV_INFO_PROP_ID, 0,
                                                        &key_link),
                      "CertSetCertificateContextProperty()") ||
            !trace.ok(CertAddCertificateContextToStore(h_cert_store.get(), read.certificate.get(),
                                                       CERT_STORE_ADD_REPLACE_EXISTING, nullptr),
                      "CertAddCertificateContextToStore()"))
            return;
    }();

    read.key.free_now();  // before its provider goes; no line for it
    trace.clean_up(read.certificate, read.cert_buffer, h_cert_store, read.prov, cont_friendly_name);
    return trace.close();
}

}  // namespace crypt_utils

}  // namespace keyhaven
