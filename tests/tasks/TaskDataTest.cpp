// The typed task values: their records, text forms, and the checks of SetData.
#include "core/tasks/TaskDataBool.h"
#include "core/tasks/TaskDataLong.h"
#include "core/tasks/TaskDataLong64.h"
#include "core/tasks/TaskDataString.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(TaskData, NewValuesHoldFalseZeroAndEmpty)
{
    std::string text;
    CTaskDataBool b;
    b.GetDataAsString(text);
    EXPECT_EQ(text, "False");
    CTaskDataLong l;
    l.GetDataAsString(text);
    EXPECT_EQ(text, "0x0");
    CTaskDataLong64 ll;
    ll.GetDataAsString(text);
    EXPECT_EQ(text, "0x0");
    CTaskDataString s;
    s.GetDataAsString(text);
    EXPECT_EQ(text, "");
}

TEST(TaskData, TextFormsFollowEachType)
{
    struct SCase {
        const char* label;
        ITaskData* value;
        const char* text;
        LONG type;
    };
    CTaskDataLong long255(255);
    CTaskDataLong64 long64_255(255);
    CTaskDataBool yes(true);
    CTaskDataLong longMax(0xFFFFFFFFu);
    CTaskDataLong64 long64Big(0xFFFFFFFF80000002ull);
    CTaskDataString abc("abc");
    const SCase cases[] = {
        {"LONG 255", &long255, "0xFF", eKVXDiagTLVType_LONG},
        {"LONG64 255", &long64_255, "0xff", eKVXDiagTLVType_LONG64},
        {"BOOL true", &yes, "True", eKVXDiagTLVType_BOOL},
        {"LONG max", &longMax, "0xFFFFFFFF", eKVXDiagTLVType_LONG},
        {"LONG64 HKLM", &long64Big, "0xffffffff80000002", eKVXDiagTLVType_LONG64},
        {"string", &abc, "abc", eKVXDiagTLVType_CHARSTRING},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.label);
        std::string text = "poison";
        EXPECT_EQ(c.value->GetDataAsString(text), 0u);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(c.value->GetType(), c.type);
    }
}

TEST(TaskData, StringRecordPointsAtItsCharacters)
{
    CTaskDataString abc("abc");
    TaskDataTLV tlv = {0, 0xDEAD, nullptr};
    EXPECT_EQ(abc.GetData(tlv), 0u);
    EXPECT_EQ(tlv.type, eKVXDiagTLVType_CHARSTRING);
    EXPECT_EQ(tlv.length, 3u);
    ASSERT_NE(tlv.value, nullptr);
    EXPECT_EQ(std::memcmp(tlv.value, "abc", 4), 0) << "the characters and their terminator";
}

TEST(TaskData, RecordsRoundTripBetweenValues)
{
    // A record described by GetData can be taken by another value's SetData.
    CTaskDataBool b(true);
    CTaskDataLong l(0x12345678);
    CTaskDataLong64 ll(0x1122334455667788ull);
    CTaskDataString s("text");
    TaskDataTLV tlv = {};

    CTaskDataBool b2;
    b.GetData(tlv);
    EXPECT_EQ(b2.SetData(tlv), 0u);
    bool bValue = false;
    b2.GetData(bValue);
    EXPECT_TRUE(bValue);

    CTaskDataLong l2;
    l.GetData(tlv);
    EXPECT_EQ(l2.SetData(tlv), 0u);
    DWORD dwValue = 0;
    l2.GetData(dwValue);
    EXPECT_EQ(dwValue, 0x12345678u);

    CTaskDataLong64 ll2;
    ll.GetData(tlv);
    EXPECT_EQ(ll2.SetData(tlv), 0u);
    ULONGLONG ullValue = 0;
    ll2.GetData(ullValue);
    EXPECT_EQ(ullValue, 0x1122334455667788ull);

    CTaskDataString s2;
    s.GetData(tlv);
    EXPECT_EQ(s2.SetData(tlv), 0u);
    std::string text;
    s2.GetData(text);
    EXPECT_EQ(text, "text");
}

TEST(TaskData, WrongTypeTagIsRefusedAndLeavesTheValue)
{
    DWORD dwSource = 7;
    const TaskDataTLV asLong = {eKVXDiagTLVType_LONG, 4, &dwSource};
    CTaskDataString s("keep");
    EXPECT_EQ(s.SetData(asLong), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    std::string text;
    s.GetData(text);
    EXPECT_EQ(text, "keep");

    const TaskDataTLV asText = {eKVXDiagTLVType_CHARSTRING, 1, "x"};
    for (ITaskData* value : std::initializer_list<ITaskData*>{new CTaskDataBool(true), new CTaskDataLong(1),
                                                              new CTaskDataLong64(1)}) {
        SCOPED_TRACE(value->GetType());
        EXPECT_EQ(value->SetData(asText), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        std::string form;
        value->GetDataAsString(form);
        EXPECT_TRUE(form == "True" || form == "0x1") << form;
        delete value;
    }
    const TaskDataTLV unusedTag = {2, 4, &dwSource};
    CTaskDataLong l;
    EXPECT_EQ(l.SetData(unusedTag), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(TaskData, WrongLengthAnswers24ButStoresTheValue)
{
    CTaskDataString s;
    const TaskDataTLV text = {eKVXDiagTLVType_CHARSTRING, 10, "abc"};
    EXPECT_EQ(s.SetData(text), static_cast<DWORD>(ERROR_BAD_LENGTH));
    std::string stored;
    s.GetData(stored);
    EXPECT_EQ(stored, "abc");

    // A LONG record that says 8 bytes: four are taken, nothing beyond the value is read into it.
    const ULONGLONG wide = 0x0000000100000002ull;
    CTaskDataLong l;
    const TaskDataTLV longRecord = {eKVXDiagTLVType_LONG, 8, &wide};
    EXPECT_EQ(l.SetData(longRecord), static_cast<DWORD>(ERROR_BAD_LENGTH));
    DWORD dwValue = 0;
    l.GetData(dwValue);
    EXPECT_EQ(dwValue, 2u);

    // A LONG64 record that says 4 bytes: only those 4 are read.
    const DWORD narrow = 0x55;
    CTaskDataLong64 ll;
    const TaskDataTLV shortRecord = {eKVXDiagTLVType_LONG64, 4, &narrow};
    EXPECT_EQ(ll.SetData(shortRecord), static_cast<DWORD>(ERROR_BAD_LENGTH));
    ULONGLONG ullValue = 0;
    ll.GetData(ullValue);
    EXPECT_EQ(ullValue, 0x55u);

    const TaskDataTLV nowhere = {eKVXDiagTLVType_BOOL, 1, nullptr};
    CTaskDataBool b;
    EXPECT_EQ(b.SetData(nowhere), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}
