// Both back ends keep one hash object and restart it after each digest, so hashing hundreds of
// entries does not create hundreds of provider handles.
#include "tools/packagereader/Sha256.h"

#ifdef _WIN32
#include "common/win/UniqueCngHandles.h"

#include <windows.h>
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

namespace {
std::string Hex(const unsigned char* p, size_t cb)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(cb * 2);
    for (size_t i = 0; i < cb; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}
constexpr size_t SHA256_DIGEST_BYTES = 32;
} // namespace

#ifdef _WIN32
struct CSha256::SState {
    kvx::UniqueCngAlgorithm m_alg{kvx::SCngAlgorithmCloser{&::BCryptCloseAlgorithmProvider}};
    kvx::UniqueCngHash m_hash{kvx::SCngHashCloser{&::BCryptDestroyHash}};
};

CSha256::CSha256() : m_state(new SState)
{
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(m_state->m_alg.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        m_state->m_alg.reset();
        return;
    }
    Start();
}

void CSha256::Start()
{
    if (m_state->m_alg.valid() &&
        !BCRYPT_SUCCESS(::BCryptCreateHash(m_state->m_alg.get(), m_state->m_hash.put(), nullptr, 0, nullptr, 0, 0))) {
        m_state->m_hash.reset();
    }
}

bool CSha256::Valid() const { return m_state->m_hash.valid(); }

void CSha256::Update(const void* pData, size_t cb)
{
    if (!m_state->m_hash.valid()) {
        return;
    }
    const UCHAR* p = static_cast<const UCHAR*>(pData);
    while (cb > 0) {
        const ULONG piece = cb > 0x40000000u ? 0x40000000u : static_cast<ULONG>(cb);
        ::BCryptHashData(m_state->m_hash.get(), const_cast<UCHAR*>(p), piece, 0);
        p += piece;
        cb -= piece;
    }
}

std::string CSha256::FinishHex()
{
    if (!m_state->m_hash.valid()) {
        return std::string();
    }
    unsigned char digest[SHA256_DIGEST_BYTES];
    const bool ok = BCRYPT_SUCCESS(::BCryptFinishHash(m_state->m_hash.get(), digest, sizeof digest, 0));
    m_state->m_hash.reset();
    Start();
    return ok ? Hex(digest, sizeof digest) : std::string();
}
#else
struct CSha256::SState {
    EVP_MD_CTX* m_ctx = nullptr;
    bool m_ok = false;
    ~SState() { EVP_MD_CTX_free(m_ctx); }
};

CSha256::CSha256() : m_state(new SState)
{
    m_state->m_ctx = EVP_MD_CTX_new();
    Start();
}

void CSha256::Start()
{
    m_state->m_ok = m_state->m_ctx != nullptr && EVP_DigestInit_ex(m_state->m_ctx, EVP_sha256(), nullptr) == 1;
}

bool CSha256::Valid() const { return m_state->m_ok; }

void CSha256::Update(const void* pData, size_t cb)
{
    if (m_state->m_ok) {
        m_state->m_ok = EVP_DigestUpdate(m_state->m_ctx, pData, cb) == 1;
    }
}

std::string CSha256::FinishHex()
{
    unsigned char digest[SHA256_DIGEST_BYTES];
    unsigned int cb = 0;
    const bool ok = m_state->m_ok && EVP_DigestFinal_ex(m_state->m_ctx, digest, &cb) == 1 && cb == sizeof digest;
    Start();
    return ok ? Hex(digest, sizeof digest) : std::string();
}
#endif

CSha256::~CSha256() = default;

std::string CSha256::OfBuffer(const void* pData, size_t cb)
{
    CSha256 sha;
    sha.Update(pData, cb);
    return sha.FinishHex();
}
