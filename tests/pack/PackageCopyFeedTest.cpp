// The hand-over between the copy and the packing of pack and send: order, one hand-over per file, the
// transform of each copy before it is packed, and the end of the feed releasing a waiting packer.
#include "core/helpers/PackageCopyFeed.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>
#include <vector>

namespace {

std::string TempFile(const char* name)
{
    char dir[MAX_PATH + 1] = {};
    ::GetTempPathA(MAX_PATH, dir);
    const std::string path = std::string(dir) + name;
    const HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ::CloseHandle(h);
    return path;
}

bool Exists(const std::string& path)
{
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

TEST(PackageCopyFeed, TransformRunsOnEachCopyAndAFailedOneKeepsTheFileOut)
{
    const std::string kept = TempFile("kvx_feed_kept.txt");
    const std::string refused = TempFile("kvx_feed_refused.txt");
    std::vector<std::string> transformed;
    CPackageCopyFeed feed([&](const std::string& copiedPath, const std::string& relativePath) -> DWORD {
        transformed.push_back(relativePath);
        return copiedPath == refused ? static_cast<DWORD>(ERROR_ACCESS_DENIED) : 0u;
    });
    struct SCase {
        const char* m_name;
        const std::string* m_path; // copied, or not copied at all
        DWORD m_dwExpected;
    };
    const SCase cases[] = {
        {"a\\kept.txt", &kept, 0},
        {"a\\refused.txt", &refused, ERROR_ACCESS_DENIED},
        {"b\\held.dat", nullptr, ERROR_SHARING_VIOLATION},
    };
    for (const SCase& c : cases) {
        if (c.m_path != nullptr) {
            feed.Copied(c.m_name, *c.m_path);
        } else {
            feed.NotCopied(c.m_name, ERROR_SHARING_VIOLATION);
        }
    }
    feed.Copied("a\\kept.txt", kept); // the completion of the copy meets a file the clone handed over
    EXPECT_TRUE(feed.Has("a\\kept.txt"));
    feed.Finish();

    for (const SCase& c : cases) {
        SCOPED_TRACE(c.m_name);
        CPackageCopyFeed::SItem item;
        ASSERT_TRUE(feed.Next(item));
        EXPECT_EQ(c.m_name, item.m_relativePath);
        EXPECT_EQ(c.m_dwExpected, item.m_dwError);
    }
    CPackageCopyFeed::SItem item;
    EXPECT_FALSE(feed.Next(item));
    EXPECT_EQ((std::vector<std::string>{"a\\kept.txt", "a\\refused.txt"}), transformed);
    EXPECT_TRUE(Exists(kept));
    EXPECT_FALSE(Exists(refused)) << "a copy the transform did not finish must not stay behind";
    EXPECT_EQ(2u, feed.Failures().size());
    ::DeleteFileA(kept.c_str());
}

TEST(PackageCopyFeed, APackerWaitingForFilesIsReleasedWhenTheCopyEnds)
{
    CPackageCopyFeed feed;
    std::vector<std::string> packed;
    std::thread packer([&] {
        CPackageCopyFeed::SItem item;
        while (feed.Next(item)) {
            packed.push_back(item.m_relativePath);
        }
    });
    feed.Copied("one", "c:\\x\\one");
    feed.Copied("two", "c:\\x\\two");
    feed.Finish();
    feed.Copied("late", "c:\\x\\late"); // after the end: nobody would pack it
    packer.join();
    EXPECT_EQ((std::vector<std::string>{"one", "two"}), packed);
}
