// The Windows digest provider: CryptoAPI hashes on one verify-only AES
// provider, acquired on first use and kept for the life of the process.
// Every call is checked; a failure gives no digest.
#include "platform/crypto.h"

#include <windows.h>
#include <wincrypt.h>

namespace platform {

namespace {

HCRYPTPROV provider = 0;

bool acquire_provider() {
    if (provider) return true;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
        provider = 0;
        return false;
    }
    return true;
}

ALG_ID algorithm(int32_t index) {
    switch (index) {
        case crypto::I_MD5: return CALG_MD5;
        case crypto::I_SHA1: return CALG_SHA1;
        case crypto::I_SHA256: return CALG_SHA_256;
        case crypto::I_SHA384: return CALG_SHA_384;
        case crypto::I_SHA512: return CALG_SHA_512;
        default: return 0;
    }
}

}  // namespace

bool digest(int32_t index, const DigestPart* parts, uint32_t count, uint8_t* out) {
    ALG_ID alg = algorithm(index);
    if (!alg || !acquire_provider()) return false;
    HCRYPTHASH hash = 0;
    if (!CryptCreateHash(provider, alg, 0, 0, &hash)) return false;
    bool ok = true;
    for (uint32_t i = 0; ok && i < count; i++)
        ok = CryptHashData(hash, (const BYTE*)parts[i].data, parts[i].size, 0) != 0;
    DWORD size = crypto::digest_size(index);
    if (ok) ok = CryptGetHashParam(hash, HP_HASHVAL, out, &size, 0) && size == crypto::digest_size(index);
    if (!CryptDestroyHash(hash)) ok = false;
    return ok;
}

}  // namespace platform
