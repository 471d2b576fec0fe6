// What the adapters send to the SDK: the records read back byte by byte from the double's journal,
// at the offsets the product documents, and the filter requests through each generation's numbering.
#include "core/helpers/HelperRef.h"
#include "core/helpers/KVXApiHelper.h"
#include "tests/support/SimProduct.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using kvxtest::CSimProduct;
using kvxtest::ESimSdk;
using kvxtest::SSimProductOptions;
using kvxtest::SSimSdkCall;

namespace {

using AdapterRef = kvx::CHelperRef<CKVXApiHelper>;

struct SGeneration {
    const char* name;
    ESimSdk sdk;
    // IM capture options: size and offsets of its fields.
    size_t imSize;
    size_t imReserved;
    size_t imMaxSize;
    size_t imBaseName;
    const char* pcapConfigExport;
    const char* pcapStatusExport;
    const char* atdiConfigExport;
    const char* atdiStatusExport;
    const char* logConfigExport;
    const char* logStatusExport;
};

const SGeneration kGenerations[] = {
    {"3.2", ESimSdk::V3_2, 1062, 988, 992, 996, "_0107_", "_0105_", "_0115_", "_0113_", "_0100_", "_0099_"},
    {"3.3", ESimSdk::V3_3, 1062, 988, 992, 996, "_0097_", "_0095_", "_0105_", "_0103_", "_0090_", "_0089_"},
    {"4.0", ESimSdk::V4_0, 1958, 1884, 1888, 1892, "_0101_", "_0099_", "_0109_", "_0107_", "_0094_", "_0093_"},
};

SSimProductOptions Sdk(ESimSdk sdk)
{
    SSimProductOptions options;
    options.sdk = sdk;
    return options;
}

// The single journalled call of a function (a failure is recorded when there is not exactly one).
SSimSdkCall OnlyCall(const CSimProduct& product, const char* function)
{
    const auto calls = product.Calls(function);
    EXPECT_EQ(1u, calls.size()) << function;
    return calls.empty() ? SSimSdkCall() : calls.back();
}

void ExpectStatusRecord(const SSimSdkCall& call, const char* exportName, DWORD status)
{
    EXPECT_EQ(exportName, call.exportName);
    ASSERT_EQ(12u, call.record.size());
    EXPECT_EQ(1u, call.U32(0));
    EXPECT_EQ(status, call.U32(4));
    EXPECT_EQ(0u, call.U32(8));
    EXPECT_EQ(1u, call.result);
}

// Bytes outside the documented fields are zero: the text field past the text, and the gaps.
void ExpectTextField(const SSimSdkCall& call, size_t offset, size_t width, const std::string& text)
{
    EXPECT_EQ(text, call.Text(offset, width));
    EXPECT_TRUE(call.ZeroRange(offset + text.size(), offset + width)) << "text field tail at +" << offset;
}

TEST(KVXApiRecords, PacketCaptureRecordsAreByteExact)
{
    for (const SGeneration& g : kGenerations) {
        SCOPED_TRACE(g.name);
        CSimProduct product(Sdk(g.sdk));
        ASSERT_EQ("", product.Error());
        AdapterRef adapter(KVXDIAG2_HELPER_KVXAPI);
        ASSERT_TRUE(adapter);

        ASSERT_EQ(0u, adapter->EnableIMPCap("KVXPcapTmp", 8192, false));
        const SSimSdkCall config = OnlyCall(product, "KVXPCapSetConfig");
        EXPECT_EQ(g.pcapConfigExport, config.exportName);
        ASSERT_EQ(g.imSize, config.record.size());
        EXPECT_EQ(1u, config.U32(0));
        EXPECT_TRUE(config.ZeroRange(4, g.imReserved + 4)) << "reserved bytes and the zero field";
        EXPECT_EQ(8192u, config.U32(g.imMaxSize));
        ExpectTextField(config, g.imBaseName, 64, "KVXPcapTmp");
        EXPECT_TRUE(config.ZeroRange(g.imBaseName + 64, g.imSize));
        ExpectStatusRecord(OnlyCall(product, "KVXPCapSetStatus"), g.pcapStatusExport, 1);
        // The double started a capture where the driver writes them.
        EXPECT_EQ(1u, CSimProduct::NativeCaptureFiles("KVXPcapTmp").size());

        struct SStatusCase {
            bool enable;
            bool onRestart;
            DWORD status;
        };
        for (const SStatusCase& s : {SStatusCase{true, true, 3}, SStatusCase{false, false, 2},
                                     SStatusCase{false, true, 4}}) {
            SCOPED_TRACE(s.status);
            product.ClearJournal();
            ASSERT_EQ(0u, s.enable ? adapter->EnableIMPCap("KVXPcapTmp", 8192, s.onRestart)
                                   : adapter->DisableIMPcap(s.onRestart));
            ExpectStatusRecord(OnlyCall(product, "KVXPCapSetStatus"), g.pcapStatusExport, s.status);
        }
    }
}

TEST(KVXApiRecords, TdiCaptureRecordsAreByteExact)
{
    for (const SGeneration& g : kGenerations) {
        SCOPED_TRACE(g.name);
        CSimProduct product(Sdk(g.sdk));
        ASSERT_EQ("", product.Error());
        AdapterRef adapter(KVXDIAG2_HELPER_KVXAPI);
        ASSERT_TRUE(adapter);
        const std::string file = product.ProductDir() + "KVXATDI.dat";

        ASSERT_EQ(0u, adapter->EnableATDICap(file, 8192, false));
        const SSimSdkCall config = OnlyCall(product, "KVXATDICapSetConfig");
        EXPECT_EQ(g.atdiConfigExport, config.exportName);
        ASSERT_EQ(534u, config.record.size());
        EXPECT_EQ(1u, config.U32(0));
        EXPECT_EQ(0u, config.U32(4));
        EXPECT_EQ(8192u, config.U32(8));
        ExpectTextField(config, 12, 520, file);
        EXPECT_TRUE(config.ZeroRange(532, 534));
        ExpectStatusRecord(OnlyCall(product, "KVXATDICapSetStatus"), g.atdiStatusExport, 1);
        EXPECT_TRUE(kvxtest::FileExists(file));

        product.ClearJournal();
        ASSERT_EQ(0u, adapter->DisableATDIcap(true));
        ExpectStatusRecord(OnlyCall(product, "KVXATDICapSetStatus"), g.atdiStatusExport, 4);
        product.ClearJournal();
        ASSERT_EQ(0u, adapter->DisableATDIcap(false));
        ExpectStatusRecord(OnlyCall(product, "KVXATDICapSetStatus"), g.atdiStatusExport, 2);
        EXPECT_NE(std::string::npos, kvxtest::ReadFileText(file).find("capture stopped"));
    }
}

TEST(KVXApiRecords, ModuleLogRecordsAreByteExact)
{
    for (const SGeneration& g : kGenerations) {
        SCOPED_TRACE(g.name);
        CSimProduct product(Sdk(g.sdk));
        ASSERT_EQ("", product.Error());
        AdapterRef adapter(KVXDIAG2_HELPER_KVXAPI);
        ASSERT_TRUE(adapter);
        const std::string file = product.ProductDir() + "KVXApiSrvLog.txt";

        ASSERT_EQ(0u, adapter->EnableModuleLog(20, file, 8192, true));
        SSimSdkCall config = OnlyCall(product, "KVXLogSetConfig");
        EXPECT_EQ(g.logConfigExport, config.exportName);
        EXPECT_EQ("0x00000001", config.args["apply"]);
        ASSERT_EQ(554u, config.record.size());
        const DWORD expected[] = {1, 0x0101FFFF, 1, 0, 1, 0x80000000, 8192, 1};
        for (size_t i = 0; i < 8; ++i) {
            EXPECT_EQ(expected[i], config.U32(i * 4)) << "field at +" << i * 4;
        }
        ExpectTextField(config, 32, 520, file);
        EXPECT_TRUE(config.ZeroRange(552, 554));
        SSimSdkCall status = OnlyCall(product, "KVXLogSetStatus");
        EXPECT_EQ(g.logStatusExport, status.exportName);
        EXPECT_EQ("0x00000001", status.args["apply"]);
        ASSERT_EQ(20u, status.record.size());
        const DWORD expectedStatus[] = {1, 0x0101FFFF, 1, 1, 0x80000000};
        for (size_t i = 0; i < 5; ++i) {
            EXPECT_EQ(expectedStatus[i], status.U32(i * 4)) << "status field at +" << i * 4;
        }
        EXPECT_NE(std::string::npos, kvxtest::ReadFileText(file).find("log started"));

        // Switching off sends no name, persistence on and 4096 as the size.
        product.ClearJournal();
        ASSERT_EQ(0u, adapter->DisableLogModule(20));
        config = OnlyCall(product, "KVXLogSetConfig");
        const DWORD expectedOff[] = {1, 0x0101FFFF, 0, 0, 1, 0x80000000, 4096, 1};
        for (size_t i = 0; i < 8; ++i) {
            EXPECT_EQ(expectedOff[i], config.U32(i * 4)) << "field at +" << i * 4;
        }
        EXPECT_TRUE(config.ZeroRange(32, 554));
        status = OnlyCall(product, "KVXLogSetStatus");
        const DWORD expectedStatusOff[] = {1, 0x0101FFFF, 0, 1, 0x80000000};
        for (size_t i = 0; i < 5; ++i) {
            EXPECT_EQ(expectedStatusOff[i], status.U32(i * 4)) << "status field at +" << i * 4;
        }
        EXPECT_NE(std::string::npos, kvxtest::ReadFileText(file).find("log stopped"));
    }
}

// A name that does not fit its field is refused before anything reaches the SDK: cutting it would
// make the product write where nobody collects.
TEST(KVXApiRecords, NamesLongerThanTheirFieldsAreRefused)
{
    CSimProduct product(Sdk(ESimSdk::V3_2));
    ASSERT_EQ("", product.Error());
    AdapterRef adapter(KVXDIAG2_HELPER_KVXAPI);
    ASSERT_TRUE(adapter);
    product.ClearJournal();
    const std::string longPath = product.ProductDir() + std::string(520, 'x');

    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), adapter->EnableIMPCap(std::string(64, 'p'), 1, false));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), adapter->EnableATDICap(longPath, 1, false));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), adapter->EnableModuleLog(21, longPath, 1, false));
    EXPECT_TRUE(product.Journal().empty());

    // The longest names that fit, with their terminator inside the field.
    EXPECT_EQ(0u, adapter->EnableIMPCap(std::string(63, 'p'), 1, false));
    EXPECT_EQ(std::string(63, 'p'), OnlyCall(product, "KVXPCapSetConfig").Text(996, 64));
}

TEST(KVXApiRecords, AFailedSdkCallGives1627)
{
    CSimProduct product(Sdk(ESimSdk::V4_0));
    ASSERT_EQ("", product.Error());
    AdapterRef adapter(KVXDIAG2_HELPER_KVXAPI);
    ASSERT_TRUE(adapter);
    struct SCase {
        const char* function;
        DWORD (*call)(CKVXApiHelper&, const std::string&);
    };
    const SCase cases[] = {
        {"KVXPCapSetConfig", [](CKVXApiHelper& a, const std::string&) { return a.EnableIMPCap("KVXPcapTmp", 1, false); }},
        {"KVXPCapSetStatus", [](CKVXApiHelper& a, const std::string&) { return a.DisableIMPcap(false); }},
        {"KVXATDICapSetConfig", [](CKVXApiHelper& a, const std::string& d) { return a.EnableATDICap(d + "t.dat", 1, false); }},
        {"KVXATDICapSetStatus", [](CKVXApiHelper& a, const std::string&) { return a.DisableATDIcap(false); }},
        {"KVXLogSetConfig", [](CKVXApiHelper& a, const std::string& d) { return a.EnableModuleLog(22, d + "l.etl", 1, false); }},
        {"KVXLogSetStatus", [](CKVXApiHelper& a, const std::string&) { return a.DisableLogModule(22); }},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.function);
        product.ClearInjections();
        product.FailFunction(c.function, 0x32F2);
        EXPECT_EQ(1627u, c.call(*adapter.get(), product.ProductDir()));
        // The adapter asked the SDK for the reason.
        EXPECT_FALSE(product.Calls("KVXGetLastError").empty());
        product.ClearJournal();
    }
}

TEST(KVXApiRecords, SnapshotIsWrittenAndItsFailureCodeComesFromTheSdk)
{
    for (const SGeneration& g : kGenerations) {
        SCOPED_TRACE(g.name);
        CSimProduct product(Sdk(g.sdk));
        ASSERT_EQ("", product.Error());
        AdapterRef adapter(KVXDIAG2_HELPER_KVXAPI);
        ASSERT_TRUE(adapter);
        const std::string file = product.ProductDir() + "KVXSnapshot.txt";
        EXPECT_EQ(0u, adapter->SnapShot(file));
        EXPECT_NE(std::string::npos, kvxtest::ReadFileText(file).find("configuration snapshot"));
        product.FailFunction("KVX_TakeSConfigSnapShot", 0x32F4);
        EXPECT_EQ(0x32F4u, adapter->SnapShot(file));
    }
}

// Start/stop by service name through each generation's index table.
TEST(KVXApiFilters, SetFilterStateByNameUsesTheGenerationsNumbering)
{
    struct SCase {
        ESimSdk sdk;
        const char* service;
        DWORD action;
        DWORD result;
        const char* function; // the SDK call expected, none for no call
        const char* filterId;
        const char* start; // 3.3 only
    };
    const SCase cases[] = {
        {ESimSdk::V3_2, "KVXFLTB", 1, 0, "KVXDisableFilter", "0x00000005", nullptr},
        {ESimSdk::V3_2, "KVXFLTC", 2, 0, "KVXEnableFilter", "0x00000006", nullptr},
        {ESimSdk::V3_2, "KVXFLTF", 1, 0, "KVXDisableFilter", "0x00000001", nullptr},
        {ESimSdk::V3_3, "KVXFLTB", 1, 87, nullptr, nullptr, nullptr},
        {ESimSdk::V3_3, "KVXFLTC", 1, 0, "KVXSetFilterState", "0x00000005", "0x00000000"},
        {ESimSdk::V3_3, "KVXFLTE", 2, 0, "KVXSetFilterState", "0x00000002", "0x00000001"},
        {ESimSdk::V3_3, "kvxflte", 2, 87, nullptr, nullptr, nullptr},
        {ESimSdk::V4_0, "KVXFLTA", 1, 0, nullptr, nullptr, nullptr},
        {ESimSdk::V4_0, "KVXFLTB", 1, 1611, nullptr, nullptr, nullptr},
        {ESimSdk::V4_0, "KVXFLTD", 3, 87, nullptr, nullptr, nullptr},
        {ESimSdk::V3_2, "KVXMON", 1, 87, nullptr, nullptr, nullptr},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(std::string(c.service) + " action " + std::to_string(c.action) + " sdk " +
                     std::to_string(static_cast<int>(c.sdk)));
        CSimProduct product(Sdk(c.sdk));
        ASSERT_EQ("", product.Error());
        AdapterRef adapter(KVXDIAG2_HELPER_KVXAPI);
        ASSERT_TRUE(adapter);
        product.ClearJournal();
        EXPECT_EQ(c.result, adapter->SetFilterState(std::string(c.service), c.action));
        const auto journal = product.Journal();
        if (c.function == nullptr) {
            EXPECT_TRUE(journal.empty()) << journal.front().function;
            continue;
        }
        const SSimSdkCall call = OnlyCall(product, c.function);
        EXPECT_EQ(c.filterId, call.args.at("filterId"));
        if (c.start != nullptr) {
            EXPECT_EQ(c.start, call.args.at("start"));
        }
        EXPECT_EQ(c.action == 2, product.FilterEnabled(c.service));
    }
}

TEST(KVXApiFilters, IndexesOutsideTheTableAreUnknownComponents)
{
    for (const SGeneration& g : kGenerations) {
        SCOPED_TRACE(g.name);
        CSimProduct product(Sdk(g.sdk));
        ASSERT_EQ("", product.Error());
        AdapterRef adapter(KVXDIAG2_HELPER_KVXAPI);
        ASSERT_TRUE(adapter);
        EXPECT_EQ(6u, adapter->GetFiltersCount());
        std::string name = "untouched";
        EXPECT_EQ(1611u, adapter->GetFilterName(6, name));
        EXPECT_EQ(1611u, adapter->GetFilterName(7, name));
        EXPECT_EQ("untouched", name);
        EXPECT_EQ(1611u, adapter->SetFilterState(7u, 1));
        DWORD state = 0xBEEF;
        EXPECT_EQ(1611u, adapter->GetFilterState(7u, state));
        EXPECT_EQ(0xBEEFu, state);
        EXPECT_EQ(0u, adapter->GetFilterName(0, name));
        EXPECT_EQ("KVXFLTF", name);
    }
}

// The state comes from the filter's own block of the information record, whose place depends on
// the generation's block size and the filter's SDK id.
TEST(KVXApiFilters, GetFilterStateReadsTheFiltersBlock)
{
    struct SCase {
        ESimSdk sdk;
        const char* service;
    };
    const SCase cases[] = {
        {ESimSdk::V3_2, "KVXFLTC"}, // id 6, the last block
        {ESimSdk::V3_2, "KVXFLTF"}, // id 1, the first block
        {ESimSdk::V3_3, "KVXFLTC"}, // id 5 of 5
        {ESimSdk::V4_0, "KVXFLTC"}, // id 5 of 6
        {ESimSdk::V4_0, "KVXFLTE"},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(std::string(c.service) + " sdk " + std::to_string(static_cast<int>(c.sdk)));
        CSimProduct product(Sdk(c.sdk));
        ASSERT_EQ("", product.Error());
        AdapterRef adapter(KVXDIAG2_HELPER_KVXAPI);
        ASSERT_TRUE(adapter);
        struct SStateCase {
            bool enabled;
            bool loaded;
            DWORD state;
        };
        for (const SStateCase& s : {SStateCase{true, true, 2}, SStateCase{false, true, 1}, SStateCase{true, false, 3}}) {
            SCOPED_TRACE(s.state);
            product.SetFilter(c.service, s.enabled, s.loaded);
            DWORD state = 0;
            EXPECT_EQ(0u, adapter->GetFilterState(std::string(c.service), state));
            EXPECT_EQ(s.state, state);
        }
        // A filter whose service is gone is not installed, without asking the SDK.
        product.RemoveService(c.service);
        product.ClearJournal();
        DWORD state = 0;
        EXPECT_EQ(0xFFFFFFFFu, adapter->GetFilterState(std::string(c.service), state));
        EXPECT_EQ(4u, state);
        EXPECT_TRUE(product.Calls("KVXGetFiltersInfo").empty());
    }
}

TEST(KVXApiFilters, FiltersInformationRecordCarriesTheGenerationsTagAndSize)
{
    struct SCase {
        ESimSdk sdk;
        DWORD tag;
        size_t size;
    };
    for (const SCase& c : {SCase{ESimSdk::V3_2, 2, 940}, SCase{ESimSdk::V3_3, 3, 804}, SCase{ESimSdk::V4_0, 4, 964}}) {
        SCOPED_TRACE(c.tag);
        CSimProduct product(Sdk(c.sdk));
        ASSERT_EQ("", product.Error());
        AdapterRef adapter(KVXDIAG2_HELPER_KVXAPI);
        ASSERT_TRUE(adapter);
        DWORD state = 0;
        ASSERT_EQ(0u, adapter->GetFilterState(0u, state));
        const SSimSdkCall info = OnlyCall(product, "KVXGetFiltersInfo");
        EXPECT_EQ(c.size, info.record.size());
        EXPECT_EQ(c.tag, info.U32(0));
        EXPECT_EQ(1u, info.result);
    }
}

TEST(KVXApiFilters, FourPointZeroAnswersIndexTwoAsUnknown)
{
    CSimProduct product(Sdk(ESimSdk::V4_0));
    ASSERT_EQ("", product.Error());
    AdapterRef adapter(KVXDIAG2_HELPER_KVXAPI);
    ASSERT_TRUE(adapter);
    std::string name;
    EXPECT_EQ(0u, adapter->GetFilterName(2, name));
    EXPECT_EQ("KVXFLTB", name);
    DWORD state = 0xBEEF;
    EXPECT_EQ(1611u, adapter->GetFilterState(2u, state));
    EXPECT_EQ(1611u, adapter->SetFilterState(2u, 2));
}

} // namespace
