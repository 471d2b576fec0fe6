// The SDK adapter choice and the adapters' life cycle, against the SDK doubles installed as a
// simulated product in the test prefix.
#include "core/helpers/HelperRef.h"
#include "core/helpers/HelpersFactory.h"
#include "core/helpers/KVXApiFactory.h"
#include "core/helpers/KVXApiHelper.h"
#include "core/helpers/KVXApiHelper32.h"
#include "core/helpers/KVXApiHelper33.h"
#include "core/helpers/KVXApiHelper40.h"
#include "tests/support/SimProduct.h"

#include <gtest/gtest.h>

#include <chrono>
#include <typeinfo>

using kvxtest::CSimProduct;
using kvxtest::ESimSdk;
using kvxtest::SSimProductOptions;

namespace {

using AdapterRef = kvx::CHelperRef<CKVXApiHelper>;

SSimProductOptions Sdk(ESimSdk sdk)
{
    SSimProductOptions options;
    options.sdk = sdk;
    return options;
}

TEST(KVXApiFactory, ChoosesTheAdapterOfExactlyTheInstalledVersion)
{
    enum class EInject { NONE, GETVERSION_FAILS, REPORTS_3_1 };
    struct SCase {
        const char* name;
        ESimSdk sdk;
        EInject inject;
        WORD expectedVersion;
        const std::type_info* expectedClass; // none: no adapter
    };
    const SCase cases[] = {
        {"no KVX_GetVersion", ESimSdk::V3_2_NO_VERSION, EInject::NONE, 0x0302, &typeid(CKVXApiHelper32)},
        {"3.2", ESimSdk::V3_2, EInject::NONE, 0x0302, &typeid(CKVXApiHelper32)},
        {"3.3", ESimSdk::V3_3, EInject::NONE, 0x0303, &typeid(CKVXApiHelper33)},
        {"KVX_GetVersion failing", ESimSdk::V4_0, EInject::GETVERSION_FAILS, 0x0303, &typeid(CKVXApiHelper33)},
        {"4.0", ESimSdk::V4_0, EInject::NONE, 0x0400, &typeid(CKVXApiHelper40)},
        {"4.1", ESimSdk::V4_1, EInject::NONE, 0x0401, nullptr},
        {"3.1", ESimSdk::V3_2, EInject::REPORTS_3_1, 0x0301, nullptr},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        CSimProduct product(Sdk(c.sdk));
        ASSERT_EQ("", product.Error());
        if (c.inject == EInject::GETVERSION_FAILS) {
            product.FailFunction("KVX_GetVersion", 0x32F3);
        } else if (c.inject == EInject::REPORTS_3_1) {
            product.ReportVersion(0x0301);
        }
        WORD wVersion = 0xBEEF;
        EXPECT_EQ(0u, CKVXApiFactory::GetInstalledKVXApiVersion(wVersion));
        EXPECT_EQ(c.expectedVersion, wVersion);

        AdapterRef adapter(KVXDIAG2_HELPER_KVXAPI);
        if (c.expectedClass == nullptr) {
            EXPECT_FALSE(adapter);
            continue;
        }
        ASSERT_TRUE(adapter);
        EXPECT_EQ(*c.expectedClass, typeid(*adapter.get()));
        std::string name;
        EXPECT_EQ(0u, adapter->GetName(name));
        EXPECT_EQ("KVXAPI", name);
    }
}

TEST(KVXApiFactory, WithoutAProductThereIsNoVersionAndNoAdapter)
{
    CSimProduct::RemoveAll();
    WORD wVersion = 0xBEEF;
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), CKVXApiFactory::GetInstalledKVXApiVersion(wVersion));
    EXPECT_EQ(0xBEEF, wVersion);
    EXPECT_EQ(nullptr, CKVXApiFactory::GetKVXApi());
    EXPECT_FALSE(AdapterRef(KVXDIAG2_HELPER_KVXAPI));
}

TEST(KVXApiFactory, AMainPathWithoutTheLibraryGivesModNotFound)
{
    CSimProduct product(Sdk(ESimSdk::V4_0));
    ASSERT_EQ("", product.Error());
    ASSERT_TRUE(::DeleteFileA(product.LibraryPath().c_str()));
    WORD wVersion = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), CKVXApiFactory::GetInstalledKVXApiVersion(wVersion));
    EXPECT_FALSE(AdapterRef(KVXDIAG2_HELPER_KVXAPI));
}

// An installer may write the path with a variable in it; it is a path only once expanded.
TEST(KVXApiFactory, AnExpandableMainPathIsExpandedBeforeTheLibraryIsLoaded)
{
    CSimProduct product(Sdk(ESimSdk::V4_0));
    ASSERT_EQ("", product.Error());
    ASSERT_TRUE(::SetEnvironmentVariableA("KVXTEST_PRODUCT_DIR", product.ProductDir().c_str()));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, KVXAPI_PRODUCT_KEY, 0,
                                             KEY_SET_VALUE | KEY_WOW64_32KEY, &key));
    const char value[] = "%KVXTEST_PRODUCT_DIR%";
    ::RegSetValueExA(key, KVXAPI_PRODUCT_PATH_VALUE, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(value),
                     sizeof value);
    ::RegCloseKey(key);
    WORD wVersion = 0;
    EXPECT_EQ(0u, CKVXApiFactory::GetInstalledKVXApiVersion(wVersion));
    EXPECT_EQ(KVXAPI_VERSION_4_0, wVersion);
    ::SetEnvironmentVariableA("KVXTEST_PRODUCT_DIR", nullptr);
}

TEST(KVXApiFactory, ASecondSubscriptionOfAVersionIsRefusedAndTheFirstStays)
{
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS),
              CKVXApiFactory::Subscribe(KVXAPI_VERSION_4_0, &CKVXApiHelper33::AutoCreation));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), CKVXApiFactory::Subscribe(0x0501, nullptr));
    CSimProduct product(Sdk(ESimSdk::V4_0));
    ASSERT_EQ("", product.Error());
    AdapterRef adapter(KVXDIAG2_HELPER_KVXAPI);
    ASSERT_TRUE(adapter);
    EXPECT_EQ(typeid(CKVXApiHelper40), typeid(*adapter.get()));
}

// The library stays loaded (and a 3.x session open) exactly as long as someone holds the adapter.
TEST(KVXApiAdapter, IsSharedAndUnloadsAfterTheLastDestroy)
{
    for (ESimSdk sdk : {ESimSdk::V3_2, ESimSdk::V3_3, ESimSdk::V4_0}) {
        SCOPED_TRACE(static_cast<int>(sdk));
        CSimProduct product(Sdk(sdk));
        ASSERT_EQ("", product.Error());
        ASSERT_EQ(nullptr, ::GetModuleHandleA(product.LibraryPath().c_str()));

        IHelper* pFirst = CHelpersFactory::GetHelper(KVXDIAG2_HELPER_KVXAPI);
        IHelper* pSecond = CHelpersFactory::GetHelper(KVXDIAG2_HELPER_KVXAPI);
        ASSERT_NE(nullptr, pFirst);
        EXPECT_EQ(pFirst, pSecond);
        // The library loaded is the one in the product directory, of this process's bitness.
        EXPECT_NE(nullptr, ::GetModuleHandleA(product.LibraryPath().c_str()));

        pFirst->Destroy();
        EXPECT_NE(nullptr, ::GetModuleHandleA(product.LibraryPath().c_str()));
        EXPECT_TRUE(product.Calls("KVX_End").empty());

        pSecond->Destroy();
        EXPECT_EQ(nullptr, ::GetModuleHandleA(product.LibraryPath().c_str()));

        const bool b3x = sdk != ESimSdk::V4_0;
        const auto inits = product.Calls("KVX_Init");
        const auto ends = product.Calls("KVX_End");
        ASSERT_EQ(b3x ? 1u : 0u, inits.size());
        EXPECT_EQ(b3x ? 1u : 0u, ends.size());
        if (b3x) {
            EXPECT_EQ(sdk == ESimSdk::V3_2 ? "_0069_" : "_0067_", inits[0].exportName);
            EXPECT_EQ("0x00000002", inits[0].args.at("mode"));
            EXPECT_EQ(16u, inits[0].record.size()) << "application identifier";
            EXPECT_EQ(1u, inits[0].result);
            EXPECT_EQ(1u, ends[0].result);
        }
    }
}

TEST(KVXApiAdapter, InitRetriesWhileTheServiceIsBusy)
{
    CSimProduct product(Sdk(ESimSdk::V3_3));
    ASSERT_EQ("", product.Error());
    product.SetInitBusy(1);
    AdapterRef adapter(KVXDIAG2_HELPER_KVXAPI);
    ASSERT_TRUE(adapter);
    const auto inits = product.Calls("KVX_Init");
    ASSERT_EQ(2u, inits.size());
    EXPECT_EQ(13050u, inits[0].error);
    EXPECT_EQ(1u, inits[1].result);
}

TEST(KVXApiAdapter, InitDoesNotRetryOtherErrors)
{
    CSimProduct product(Sdk(ESimSdk::V3_2));
    ASSERT_EQ("", product.Error());
    AdapterRef adapter(KVXDIAG2_HELPER_KVXAPI);
    ASSERT_TRUE(adapter);
    auto& adapter32 = static_cast<CKVXApiHelper32&>(*adapter.get());
    product.ClearJournal();
    product.FailFunction("KVX_Init", 0x32F3);
    EXPECT_EQ(0x32F3u, adapter32.Init());
    EXPECT_EQ(1u, product.Calls("KVX_Init").size());
}

// Eleven "busy" answers: the first call and ten retries, one second apart, then the busy code.
TEST(KVXApiAdapter, InitGivesUpAfterTenRetries)
{
    CSimProduct product(Sdk(ESimSdk::V3_3));
    ASSERT_EQ("", product.Error());
    AdapterRef adapter(KVXDIAG2_HELPER_KVXAPI);
    ASSERT_TRUE(adapter);
    auto& adapter33 = static_cast<CKVXApiHelper33&>(*adapter.get());
    product.ClearJournal();
    product.SetInitBusy(11);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(13050u, adapter33.Init());
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const auto inits = product.Calls("KVX_Init");
    EXPECT_EQ(11u, inits.size());
    for (const auto& call : inits) {
        EXPECT_EQ(13050u, call.error);
    }
    EXPECT_GE(elapsed, std::chrono::milliseconds(9900)) << "ten pauses of one second";
    EXPECT_LT(elapsed, std::chrono::seconds(20));
}

TEST(KVXApiAdapter, MissingExportsAnswerOneWithoutStoppingTheAdapter)
{
    CSimProduct product(Sdk(ESimSdk::V4_0));
    ASSERT_EQ("", product.Error());
    product.HideExports("_0101_;_0111_");
    AdapterRef adapter(KVXDIAG2_HELPER_KVXAPI);
    ASSERT_TRUE(adapter);
    EXPECT_EQ(1u, adapter->EnableIMPCap("KVXPcapTmp", 8192, false));
    EXPECT_EQ(1u, adapter->SnapShot(product.ProductDir() + "snap.txt"));
    // The other exports still work.
    EXPECT_EQ(0u, adapter->DisableIMPcap(false));
    EXPECT_TRUE(product.Calls("KVXPCapSetConfig").empty());
    EXPECT_TRUE(product.Calls("KVX_TakeSConfigSnapShot").empty());
    EXPECT_EQ(1u, product.Calls("KVXPCapSetStatus").size());
}

TEST(KVXApiAdapter, ModuleIdsMapToTheSdkModules)
{
    struct SCase {
        DWORD id;
        DWORD result;
        DWORD module;
        DWORD level;
    };
    const SCase cases[] = {
        {0, 0, 0, 0},
        {1, 0, 0x01010001, 0x80000000},
        {2, 0, 0x01010002, 0x80000000},
        {3, 0, 0x01020004, 5},
        {12, 0, 0x0202000F, 5},
        {13, 0, 0x020300A0, 5},
        {15, 0, 0x020300A2, 5},
        {16, 87, 0, 0},
        {19, 87, 0, 0},
        {20, 0, 0x0101FFFF, 0x80000000},
        {21, 0, 0x0102FFFF, 5},
        {24, 0, 0x0203FFFF, 5},
        {25, 87, 0, 0},
        {0xFFFFFFFF, 87, 0, 0},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.id);
        DWORD module = 0xDEADBEEF;
        DWORD level = 0xDEADBEEF;
        EXPECT_EQ(c.result, CKVXApiHelper::GetModuleID(c.id, module, level));
        EXPECT_EQ(c.module, module);
        EXPECT_EQ(c.level, level);
    }
}

} // namespace
