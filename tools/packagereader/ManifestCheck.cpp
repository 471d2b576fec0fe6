// A line that is not a digest line is a file the packer could not read; its path, when the line names
// one the package holds, is not reported again as an extra file.
#include "tools/packagereader/ManifestCheck.h"

#include <set>
#include <sstream>

namespace {
bool IsDigestLine(const std::string& line, std::string& digest, std::string& path)
{
    if (line.size() < 67 || line[64] != ' ' || (line[65] != ' ' && line[65] != '*')) {
        return false;
    }
    for (size_t i = 0; i < 64; ++i) {
        const char c = line[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    digest = line.substr(0, 64);
    for (char& c : digest) {
        if (c >= 'A' && c <= 'F') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    path = line.substr(66);
    return true;
}
} // namespace

SManifestCheck CManifestCheck::Compare(const std::string& manifest, const std::map<std::string, std::string>& files)
{
    SManifestCheck check;
    std::set<std::string> listed;
    std::set<std::string> unreadablePaths;
    std::istringstream lines(manifest);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        std::string digest, path;
        if (!IsDigestLine(line, digest, path)) {
            check.m_unreadable.push_back(line);
            for (const auto& file : files) {
                if (line.find(file.first) != std::string::npos) {
                    unreadablePaths.insert(file.first);
                }
            }
            continue;
        }
        ++check.m_listed;
        listed.insert(path);
        const auto it = files.find(path);
        if (it == files.end()) {
            check.m_missing.push_back(path);
        } else if (it->second != digest) {
            check.m_differing.push_back(path);
        }
    }
    for (const auto& file : files) {
        if (listed.count(file.first) == 0 && unreadablePaths.count(file.first) == 0) {
            check.m_extra.push_back(file.first);
        }
    }
    if (!check.m_missing.empty() || !check.m_extra.empty() || !check.m_differing.empty()) {
        check.m_status = "mismatch";
    } else if (!check.m_unreadable.empty()) {
        check.m_status = "unreadable";
    } else {
        check.m_status = "ok";
    }
    return check;
}
