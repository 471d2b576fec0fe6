// Hand-over of copied files between the copying and the packing thread of pack and send.
#include "core/helpers/PackageCopyFeed.h"

#include "common/log/KVXDiagObject.h"

namespace {

thread_local CPackageCopyFeed* t_feed = nullptr;

} // namespace

CPackageCopyFeed::CScope::CScope(CPackageCopyFeed& feed) : m_previous(t_feed)
{
    t_feed = &feed;
}

CPackageCopyFeed::CScope::~CScope()
{
    t_feed = m_previous;
}

CPackageCopyFeed* CPackageCopyFeed::OfThisThread()
{
    return t_feed;
}

bool CPackageCopyFeed::Has(const std::string& relativePath)
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_handedOver.count(relativePath) != 0;
}

void CPackageCopyFeed::Copied(const std::string& relativePath, const std::string& copiedPath)
{
    if (Has(relativePath)) {
        return;
    }
    SItem item;
    item.m_relativePath = relativePath;
    item.m_copiedPath = copiedPath;
    if (m_transform) {
        KVX_FUNCTION_QUIET("CPackageCopyFeed::Copied");
        DWORD dwError = ERROR_INVALID_FUNCTION;
        try {
            dwError = m_transform(copiedPath, relativePath);
        } catch (...) {
            KVX_LOG(eKVXDiagLog_EXCEPTION, "Excepción no controlada!! LastError: %lu", ::GetLastError());
        }
        if (dwError != 0) {
            if (dwError != LEFT_OUT) {
                KVX_LOG(eKVXDiagLog_ERROR, "No se pudo tratar la copia %s, no se empaqueta 0x%08lx",
                        copiedPath.c_str(), dwError);
            }
            ::SetFileAttributesA(copiedPath.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileA(copiedPath.c_str());
            item.m_dwError = dwError;
        }
        if (dwError == LEFT_OUT) {
            std::lock_guard<std::mutex> guard(m_lock);
            m_handedOver.insert(relativePath);
            return;
        }
    }
    Publish(std::move(item));
}

void CPackageCopyFeed::NotCopied(const std::string& relativePath, DWORD dwError)
{
    SItem item;
    item.m_relativePath = relativePath;
    item.m_dwError = dwError != 0 ? dwError : static_cast<DWORD>(ERROR_GEN_FAILURE);
    Publish(std::move(item));
}

void CPackageCopyFeed::Publish(SItem item)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_finished || !m_handedOver.insert(item.m_relativePath).second) {
            return;
        }
        if (item.m_dwError != 0) {
            m_failures.emplace_back(item.m_relativePath, item.m_dwError);
        }
        m_items.push_back(std::move(item));
    }
    m_changed.notify_all();
}

void CPackageCopyFeed::Finish()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_finished = true;
    }
    m_changed.notify_all();
}

std::vector<std::pair<std::string, DWORD>> CPackageCopyFeed::Failures()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_failures;
}

bool CPackageCopyFeed::Next(SItem& item)
{
    std::unique_lock<std::mutex> guard(m_lock);
    m_changed.wait(guard, [&] { return m_finished || !m_items.empty(); });
    if (m_items.empty()) {
        return false;
    }
    item = std::move(m_items.front());
    m_items.pop_front();
    return true;
}
