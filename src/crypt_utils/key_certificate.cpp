#include "crypt_utils/key_certificate.h"

#include "crypt_utils/provider_constants.h"

namespace crypt_utils {

DWORD get_user_key(CallTrace& trace, HCRYPTPROV provider, KeyHandle& key)
{
    if (CryptGetUserKey(provider, AT_KEYEXCHANGE, key.out()))
        return AT_KEYEXCHANGE;
    if (CryptGetUserKey(provider, AT_SIGNATURE, key.out()))
        return AT_SIGNATURE;
    trace.fail(__LINE__, "CryptGetUserKey(%d)", AT_SIGNATURE);
    return 0;
}

bool read_key_certificate(CallTrace& trace, HCRYPTKEY key, const char* size_call, Buffer& cert_buffer,
                          CertContext& certificate)
{
    DWORD size = 0;
    if (!CryptGetKeyParam(key, kp_certificate, nullptr, &size, 0)) {
        trace.fail(__LINE__, "%s", size_call);
        return false;
    }
    if (!cert_buffer.allocate(size)) {
        trace.alloc_failed(__LINE__);
        return false;
    }
    if (!CryptGetKeyParam(key, kp_certificate, cert_buffer.data(), &size, 0)) {
        trace.fail(__LINE__, "CryptGetKeyParam(KP_CERTIFICATE)");
        return false;
    }
    certificate.reset(CertCreateCertificateContext(certificate_encoding, cert_buffer.data(), size));
    if (!certificate.held()) {
        trace.fail(__LINE__, "CertCreateCertificateContext()");
        return false;
    }
    return true;
}

HCERTSTORE open_personal_store()
{
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"My");
}

}  // namespace crypt_utils
