#include "core/helpers/CngSha256.h"

#include "common/win/ProcAddress.h"
#include "core/archive/ProcessorFeatures.h"
#include "core/interface/KVXDiagTypes.h"

#include <utility>
#include <vector>

namespace {

constexpr DWORD KVX_SHA256_DIGEST_SIZE = CSha256Instructions::DIGEST_SIZE;
// Large enough that the read calls cost little next to the hashing, small enough to stay out of the
// way of the job's other memory.
constexpr DWORD KVX_SHA256_READ_SIZE = 256 * 1024;

std::string ToHex(const unsigned char* bytes, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

} // namespace

CCngSha256::CRunningHash::CRunningHash(const CCngSha256& owner, bool bProcessorInstructions)
    : m_owner(owner), m_bInstructions(bProcessorInstructions && CProcessorFeatures::ShaExtensions()),
      m_object(m_bInstructions ? 0 : owner.m_dwObjectLength), m_hash(kvx::SCngHashCloser{owner.m_pfnDestroyHash})
{
}

DWORD CCngSha256::CRunningHash::Begin()
{
    if (!m_owner.m_algorithm.valid()) {
        return KVXDIAG2_ERR_NOT_INITIALISED;
    }
    if (m_bInstructions) {
        m_instructions.Begin();
        return KVXDIAG2_OK;
    }
    const NTSTATUS status = m_owner.m_pfnCreateHash(m_owner.m_algorithm.get(), m_hash.put(), m_object.data(),
                                                    static_cast<ULONG>(m_object.size()), nullptr, 0, 0);
    return BCRYPT_SUCCESS(status) ? KVXDIAG2_OK : KVXDIAG2_ERR_FAILED;
}

DWORD CCngSha256::CRunningHash::Add(const void* data, ULONG size)
{
    if (m_bInstructions) {
        m_instructions.Add(data, size);
        return KVXDIAG2_OK;
    }
    const NTSTATUS status = m_owner.m_pfnHashData(m_hash.get(), static_cast<PUCHAR>(const_cast<void*>(data)), size, 0);
    return BCRYPT_SUCCESS(status) ? KVXDIAG2_OK : KVXDIAG2_ERR_FAILED;
}

DWORD CCngSha256::CRunningHash::Finish(std::string& hexDigest)
{
    unsigned char digest[KVX_SHA256_DIGEST_SIZE] = {};
    if (m_bInstructions) {
        m_instructions.Finish(digest);
    } else if (!BCRYPT_SUCCESS(m_owner.m_pfnFinishHash(m_hash.get(), digest, sizeof(digest), 0))) {
        return KVXDIAG2_ERR_FAILED;
    }
    hexDigest = ToHex(digest, sizeof(digest));
    return KVXDIAG2_OK;
}

CCngSha256::~CCngSha256()
{
    m_algorithm.reset(); // before the module that holds its close function goes
}

DWORD CCngSha256::Open()
{
    if (m_algorithm.valid()) {
        return KVXDIAG2_OK;
    }
    std::vector<char> system(MAX_PATH + 1);
    UINT length = ::GetSystemDirectoryA(system.data(), static_cast<UINT>(system.size()));
    if (length >= system.size()) {
        system.resize(length + 1);
        length = ::GetSystemDirectoryA(system.data(), static_cast<UINT>(system.size()));
    }
    if (length == 0 || length >= system.size()) {
        return ::GetLastError() != 0 ? ::GetLastError() : KVXDIAG2_ERR_NOT_FOUND;
    }
    const std::string path = std::string(system.data(), length) + "\\bcrypt.dll";
    m_library.reset(::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!m_library) {
        return ::GetLastError();
    }
    const auto pfnOpen = kvx::GetProc<decltype(&::BCryptOpenAlgorithmProvider)>(m_library.get(),
                                                                                  "BCryptOpenAlgorithmProvider");
    const auto pfnClose = kvx::GetProc<decltype(&::BCryptCloseAlgorithmProvider)>(m_library.get(),
                                                                                    "BCryptCloseAlgorithmProvider");
    const auto pfnGetProperty = kvx::GetProc<decltype(&::BCryptGetProperty)>(m_library.get(), "BCryptGetProperty");
    m_pfnCreateHash = kvx::GetProc<decltype(&::BCryptCreateHash)>(m_library.get(), "BCryptCreateHash");
    m_pfnHashData = kvx::GetProc<decltype(&::BCryptHashData)>(m_library.get(), "BCryptHashData");
    m_pfnFinishHash = kvx::GetProc<decltype(&::BCryptFinishHash)>(m_library.get(), "BCryptFinishHash");
    m_pfnDestroyHash = kvx::GetProc<decltype(&::BCryptDestroyHash)>(m_library.get(), "BCryptDestroyHash");
    if (pfnOpen == nullptr || pfnClose == nullptr || pfnGetProperty == nullptr || m_pfnCreateHash == nullptr ||
        m_pfnHashData == nullptr || m_pfnFinishHash == nullptr || m_pfnDestroyHash == nullptr) {
        m_library.reset();
        return ERROR_PROC_NOT_FOUND;
    }
    kvx::UniqueCngAlgorithm algorithm(kvx::SCngAlgorithmCloser{pfnClose});
    if (!BCRYPT_SUCCESS(pfnOpen(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        return KVXDIAG2_ERR_FAILED;
    }
    // Vista wants the hash object's memory from the caller; later systems accept it as well.
    DWORD dwObjectLength = 0;
    ULONG ulWritten = 0;
    if (!BCRYPT_SUCCESS(pfnGetProperty(algorithm.get(), BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&dwObjectLength),
                                       sizeof(dwObjectLength), &ulWritten, 0)) ||
        ulWritten != sizeof(dwObjectLength)) {
        return KVXDIAG2_ERR_FAILED;
    }
    m_dwObjectLength = dwObjectLength;
    m_algorithm = std::move(algorithm);
    return KVXDIAG2_OK;
}

DWORD CCngSha256::HashBuffer(const void* data, size_t size, std::string& hexDigest)
{
    if (!m_algorithm.valid()) {
        return KVXDIAG2_ERR_NOT_INITIALISED;
    }
    CRunningHash hash(*this);
    DWORD dwResult = hash.Begin();
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    while (dwResult == KVXDIAG2_OK && size > 0) {
        const ULONG piece = size > KVX_SHA256_READ_SIZE ? KVX_SHA256_READ_SIZE : static_cast<ULONG>(size);
        dwResult = hash.Add(bytes, piece);
        bytes += piece;
        size -= piece;
    }
    return dwResult == KVXDIAG2_OK ? hash.Finish(hexDigest) : dwResult;
}

DWORD CCngSha256::HashFile(const std::string& path, std::string& hexDigest)
{
    if (!m_algorithm.valid()) {
        return KVXDIAG2_ERR_NOT_INITIALISED;
    }
    kvx::UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        return ::GetLastError();
    }
    CRunningHash hash(*this);
    DWORD dwResult = hash.Begin();
    std::vector<unsigned char> buffer(KVX_SHA256_READ_SIZE);
    while (dwResult == KVXDIAG2_OK) {
        DWORD dwRead = 0;
        if (!::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &dwRead, nullptr)) {
            return ::GetLastError();
        }
        if (dwRead == 0) {
            break;
        }
        dwResult = hash.Add(buffer.data(), dwRead);
    }
    return dwResult == KVXDIAG2_OK ? hash.Finish(hexDigest) : dwResult;
}
