// One pass over the lines with hashed look-ups: a manifest of 65,535 lines costs what its bytes cost.
// A line that is neither a digest nor the packer's UNREADABLE form exempts nothing: it is malformed,
// and the file it may name counts as unlisted.
#include "tools/packagereader/ManifestCheck.h"

#include <unordered_map>
#include <unordered_set>

namespace {
// Names kept per list; the rest is counted (a manifest of a damaged package can list every file).
constexpr size_t MANIFEST_NAMES_KEPT = 1000;
constexpr std::string_view UNREADABLE_PREFIX = "UNREADABLE";

bool IsDigestLine(std::string_view line, std::string& digest, std::string_view& path)
{
    if (line.size() < 67 || line[64] != ' ' || (line[65] != ' ' && line[65] != '*')) {
        return false;
    }
    digest.assign(line.data(), 64);
    for (char& c : digest) {
        if (c >= 'A' && c <= 'F') {
            c = static_cast<char>(c - 'A' + 'a');
        } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    path = line.substr(66);
    return true;
}

// "UNREADABLE (error 32: in use by another program)  path", or without the reason.
bool IsUnreadableLine(std::string_view line, std::string_view& path)
{
    if (line.compare(0, UNREADABLE_PREFIX.size(), UNREADABLE_PREFIX) != 0) {
        return false;
    }
    std::string_view rest = line.substr(UNREADABLE_PREFIX.size());
    if (rest.compare(0, 2, " (") == 0) {
        const size_t close = rest.find(")  ");
        if (close == std::string_view::npos) {
            return false;
        }
        path = rest.substr(close + 3);
    } else if (rest.compare(0, 2, "  ") == 0) {
        path = rest.substr(2);
    } else {
        return false;
    }
    return !path.empty();
}
} // namespace

SManifestCheck CManifestCheck::Compare(std::string_view manifest, const CFiles& files, CMemoryBudget& budget)
{
    SManifestCheck check;
    auto keep = [&](std::vector<std::string>& list, std::string_view text) {
        if (list.size() >= MANIFEST_NAMES_KEPT) {
            ++check.m_notKept;
            return;
        }
        budget.Charge(text.size() + CMemoryBudget::RECORD_OVERHEAD, "the manifest's findings");
        list.emplace_back(text);
    };
    std::unordered_map<std::string_view, const std::string*> index;
    budget.Charge(files.size() * CMemoryBudget::RECORD_OVERHEAD, "the manifest's index");
    index.reserve(files.size());
    for (const auto& file : files) {
        index.emplace(file.first, &file.second);
    }
    std::unordered_set<std::string_view> listed;
    std::string digest;
    size_t pos = 0;
    while (pos < manifest.size()) {
        size_t end = manifest.find('\n', pos);
        if (end == std::string_view::npos) {
            end = manifest.size();
        }
        std::string_view line = manifest.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            continue;
        }
        std::string_view path;
        const bool isDigest = IsDigestLine(line, digest, path);
        if (!isDigest && !IsUnreadableLine(line, path)) {
            keep(check.m_malformed, line);
            continue;
        }
        budget.Charge(CMemoryBudget::RECORD_OVERHEAD, "the manifest's paths");
        if (!listed.insert(path).second) {
            keep(check.m_repeated, path);
            continue;
        }
        const auto it = index.find(path);
        if (!isDigest) {
            if (it == index.end()) {
                keep(check.m_unreadable, line);
            } else {
                keep(check.m_contradicted, path);
            }
            continue;
        }
        ++check.m_listed;
        if (it == index.end()) {
            keep(check.m_missing, path);
        } else if (*it->second != digest) {
            keep(check.m_differing, path);
        }
    }
    for (const auto& file : files) {
        if (listed.count(file.first) == 0) {
            keep(check.m_extra, file.first);
        }
    }
    const bool mismatch = !check.m_missing.empty() || !check.m_extra.empty() || !check.m_differing.empty() ||
        !check.m_contradicted.empty() || !check.m_malformed.empty() || !check.m_repeated.empty();
    check.m_status = mismatch ? "mismatch" : !check.m_unreadable.empty() ? "unreadable" : "ok";
    return check;
}
