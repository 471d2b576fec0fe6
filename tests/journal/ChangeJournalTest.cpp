// The change journal on its own: what a record keeps, when an entry is forgotten, what the reboot mark
// says after a boot (simulated by deleting its volatile key, which is all a boot does to it) or without
// one, and that a damaged entry or a journal of a newer layout is left alone.
#include "common/journal/ChangeJournal.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using kvx::CChangeJournal;
using kvx::SJournalEntry;

constexpr const char* JOURNAL_KEY = "SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2Journal";
constexpr REGSAM JOURNAL_VIEW = KEY_WOW64_32KEY;

SJournalEntry ServiceEntry(const wchar_t* service, DWORD original)
{
    SJournalEntry entry;
    entry.kind = kvx::eJournalKind_SERVICE_START;
    entry.owner = kvx::eJournalOwner_DEEP_ANALYSIS;
    entry.target = service;
    entry.original = original;
    return entry;
}

class ChangeJournal : public ::testing::Test {
protected:
    kvxtest::CScopedRegistryTree m_journal{HKEY_LOCAL_MACHINE, JOURNAL_KEY, JOURNAL_VIEW};
};

TEST_F(ChangeJournal, RecordKeepsTheFirstOriginalAndUndoForgetsOnlyOnSuccess)
{
    bool created = false;
    ASSERT_EQ(CChangeJournal::Record(ServiceEntry(L"KVXFLTE", 3), &created), 0u);
    EXPECT_TRUE(created);
    // The tool's own later state must never replace what the machine had.
    ASSERT_EQ(CChangeJournal::Record(ServiceEntry(L"KVXFLTE", 4), &created), 0u);
    EXPECT_FALSE(created);
    SJournalEntry found;
    ASSERT_TRUE(CChangeJournal::Find(kvx::eJournalKind_SERVICE_START, L"KVXFLTE", found));
    EXPECT_EQ(found.original, 3u);

    struct {
        DWORD undoResult;
        bool entryStays;
    } cases[] = {{ERROR_ACCESS_DENIED, true}, {ERROR_SUCCESS, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.undoResult);
        DWORD undoneWith = 0xDEADBEEF;
        EXPECT_EQ(CChangeJournal::Undo(found,
                                       [&](const SJournalEntry& e) {
                                           undoneWith = e.original;
                                           return c.undoResult;
                                       }),
                  c.undoResult);
        EXPECT_EQ(undoneWith, 3u);
        SJournalEntry again;
        EXPECT_EQ(CChangeJournal::Find(kvx::eJournalKind_SERVICE_START, L"KVXFLTE", again), c.entryStays);
    }
    // Nothing left to undo: a run that put everything back leaves no key behind.
    EXPECT_FALSE(kvxtest::KeyExists(HKEY_LOCAL_MACHINE, JOURNAL_KEY, JOURNAL_VIEW));
}

TEST_F(ChangeJournal, AFailedChangeLeavesNoEntryButAnEarlierRecordStays)
{
    EXPECT_EQ(CChangeJournal::Apply(ServiceEntry(L"KVXMON", 1), [] { return DWORD(ERROR_ACCESS_DENIED); }),
              DWORD(ERROR_ACCESS_DENIED));
    SJournalEntry found;
    EXPECT_FALSE(CChangeJournal::Find(kvx::eJournalKind_SERVICE_START, L"KVXMON", found));

    ASSERT_EQ(CChangeJournal::Apply(ServiceEntry(L"KVXMON", 1), [] { return DWORD(ERROR_SUCCESS); }), 0u);
    EXPECT_EQ(CChangeJournal::Apply(ServiceEntry(L"KVXMON", 4), [] { return DWORD(ERROR_ACCESS_DENIED); }),
              DWORD(ERROR_ACCESS_DENIED));
    ASSERT_TRUE(CChangeJournal::Find(kvx::eJournalKind_SERVICE_START, L"KVXMON", found));
    EXPECT_EQ(found.original, 1u);
}

TEST_F(ChangeJournal, RebootOutcomeTellsABootFromAnInterruptedRun)
{
    const struct {
        const char* name;
        DWORD marked; // parties marked as waiting; 0: none
        bool boot;    // the volatile key is gone, as after a boot
        kvx::EJournalRebootOutcome wizard;
        kvx::EJournalRebootOutcome core;
    } cases[] = {
        {"nothing waits", 0, false, kvx::eJournalReboot_NONE, kvx::eJournalReboot_NONE},
        {"the machine booted", kvx::eJournalParty_BOTH, true, kvx::eJournalReboot_HAPPENED,
         kvx::eJournalReboot_HAPPENED},
        {"no boot came", kvx::eJournalParty_BOTH, false, kvx::eJournalReboot_INTERRUPTED,
         kvx::eJournalReboot_INTERRUPTED},
        {"only the core waits", kvx::eJournalParty_CORE, true, kvx::eJournalReboot_NONE, kvx::eJournalReboot_HAPPENED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kvxtest::CScopedRegistryTree::Delete(HKEY_LOCAL_MACHINE, JOURNAL_KEY, JOURNAL_VIEW);
        if (c.marked != 0) {
            ASSERT_EQ(CChangeJournal::MarkAwaitingReboot(c.marked), 0u);
        }
        if (c.boot) {
            kvxtest::CScopedRegistryTree::Delete(HKEY_LOCAL_MACHINE, std::string(JOURNAL_KEY) + "\\BootMarker",
                                                 JOURNAL_VIEW);
        }
        EXPECT_EQ(CChangeJournal::TakeRebootOutcome(kvx::eJournalParty_WIZARD), c.wizard);
        // Each program learns its outcome once; the other's stays until it asks.
        EXPECT_EQ(CChangeJournal::TakeRebootOutcome(kvx::eJournalParty_WIZARD), kvx::eJournalReboot_NONE);
        EXPECT_EQ(CChangeJournal::IsAwaitingReboot(kvx::eJournalParty_CORE), c.core != kvx::eJournalReboot_NONE);
        EXPECT_EQ(CChangeJournal::TakeRebootOutcome(kvx::eJournalParty_CORE), c.core);
        EXPECT_FALSE(kvxtest::KeyExists(HKEY_LOCAL_MACHINE, JOURNAL_KEY, JOURNAL_VIEW));
    }
}

TEST_F(ChangeJournal, DamagedEntryIsSkippedAndKeptWhileTheOthersAreRead)
{
    ASSERT_EQ(CChangeJournal::Record(ServiceEntry(L"KVXFLTD", 3)), 0u);
    ASSERT_EQ(CChangeJournal::Record(ServiceEntry(L"KVXFLTC", 2)), 0u);
    const std::string entries = std::string(JOURNAL_KEY) + "\\Entries\\";
    // One cut short before its last value, one whose name does not match what it says it is.
    ASSERT_TRUE(kvxtest::SetDword(HKEY_LOCAL_MACHINE, entries + "1.KVXFLTB", "Kind", 1, JOURNAL_VIEW));
    ASSERT_TRUE(kvxtest::SetString(HKEY_LOCAL_MACHINE, entries + "1.KVXFLTB", "Target", "KVXFLTB", JOURNAL_VIEW));
    ASSERT_TRUE(kvxtest::SetDword(HKEY_LOCAL_MACHINE, entries + "1.KVXFLTB", "Owner", 3, JOURNAL_VIEW));
    ASSERT_TRUE(kvxtest::SetString(HKEY_LOCAL_MACHINE, entries + "1.KVXFLTC", "Target", "KVXFLTA", JOURNAL_VIEW));

    const std::vector<SJournalEntry> read = CChangeJournal::Entries();
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].target, L"KVXFLTD");
    EXPECT_TRUE(kvxtest::KeyExists(HKEY_LOCAL_MACHINE, entries + "1.KVXFLTB", JOURNAL_VIEW));
}

TEST_F(ChangeJournal, JournalOfANewerLayoutIsLeftAlone)
{
    ASSERT_EQ(CChangeJournal::Record(ServiceEntry(L"KVXTMGR", 1)), 0u);
    ASSERT_TRUE(kvxtest::SetDword(HKEY_LOCAL_MACHINE, JOURNAL_KEY, "FormatVersion", CChangeJournal::FORMAT_VERSION + 1,
                                  JOURNAL_VIEW));
    EXPECT_TRUE(CChangeJournal::Entries().empty());
    bool changed = false;
    EXPECT_NE(CChangeJournal::Apply(ServiceEntry(L"KVXFLTA", 3),
                                    [&] {
                                        changed = true;
                                        return DWORD(ERROR_SUCCESS);
                                    }),
              0u);
    EXPECT_FALSE(changed) << "a change was made that the journal could not record";
    EXPECT_FALSE(
        kvxtest::KeyExists(HKEY_LOCAL_MACHINE, std::string(JOURNAL_KEY) + "\\Entries\\1.KVXFLTA", JOURNAL_VIEW));
    EXPECT_TRUE(
        kvxtest::KeyExists(HKEY_LOCAL_MACHINE, std::string(JOURNAL_KEY) + "\\Entries\\1.KVXTMGR", JOURNAL_VIEW));
}

} // namespace
