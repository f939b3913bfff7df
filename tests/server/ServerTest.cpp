#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "server/ClassFactory.h"
#include "server/Exports.h"
#include "server/Module.h"
#include "server/Registration.h"

namespace {

const std::u16string kClsid = u"{7A3C51E2-4B9D-4F06-9C18-2D5E8B0F6A47}";
const std::u16string kClassKey = u"CLSID\\" + kClsid;
const std::u16string kServerKey = kClassKey + u"\\InprocServer32";
const std::u16string kHandlerSuffix = u"\\shellex\\{e357fccd-a995-4576-b01f-234630154e96}";

std::vector<BYTE> Utf16Bytes(const std::u16string& s) {
    auto p = reinterpret_cast<const BYTE*>(s.data());
    return std::vector<BYTE>(p, p + s.size() * 2);
}

// REG_SZ data exactly as registration writes it: no terminating null.
void ExpectValue(const std::u16string& key, const std::u16string& name, const std::u16string& text) {
    platform::registry::Value v;
    ASSERT_TRUE(platform::registry::GetValue(key, name, v)) << std::string(key.begin(), key.end());
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(v.data, Utf16Bytes(text)) << std::string(key.begin(), key.end());
}

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::registry::Clear();
        platform::registry::SetFailureHook(nullptr);
        platform::shell::ClearChangeNotifications();
        baseCount = ModuleObjectCount();
    }
    void TearDown() override {
        platform::registry::SetFailureHook(nullptr);
        EXPECT_EQ(platform::registry::OpenHandleCount(), 0u);  // every key was closed
        EXPECT_EQ(ModuleObjectCount(), baseCount);
    }
    LONG baseCount = 0;
};

TEST_F(ServerTest, ClassObjectOnlyForTheOneClsid) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(DllGetClassObject(IID_IStream, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, reinterpret_cast<void*>(1));

    EXPECT_EQ(DllGetClassObject(CLSID_KwbThumbnailProvider, IID_IThumbnailProvider, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(ModuleObjectCount(), baseCount);
    EXPECT_EQ(DllCanUnloadNow(), baseCount ? S_FALSE : S_OK);
}

TEST_F(ServerTest, FactoryKeepsTheModuleLoaded) {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(DllGetClassObject(CLSID_KwbThumbnailProvider, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(ModuleObjectCount(), baseCount + 1);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);

    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(ModuleObjectCount(), baseCount + 2);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(ModuleObjectCount(), baseCount + 1);

    IUnknown* unknown = nullptr;
    ASSERT_EQ(factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(factory));
    unknown->Release();

    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(ModuleObjectCount(), baseCount);
    if (baseCount == 0) {
        EXPECT_EQ(DllCanUnloadNow(), S_OK);
    }
}

TEST_F(ServerTest, CreateInstance) {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(DllGetClassObject(CLSID_KwbThumbnailProvider, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);

    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(factory, IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, reinterpret_cast<void*>(1));

    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(ModuleObjectCount(), baseCount + 1);  // the refused provider is gone again

    IUnknown* unknown = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(ModuleObjectCount(), baseCount + 2);
    IThumbnailProvider* thumbs = nullptr;
    ASSERT_EQ(unknown->QueryInterface(IID_IThumbnailProvider, reinterpret_cast<void**>(&thumbs)), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(thumbs));
    thumbs->Release();
    EXPECT_EQ(unknown->Release(), 0u);
    factory->Release();
}

// Apartment threads create and release objects at the same time; the count stays exact.
TEST_F(ServerTest, ObjectCountIsExactAcrossThreads) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 500; ++i) {
                IClassFactory* factory = nullptr;
                if (DllGetClassObject(CLSID_KwbThumbnailProvider, IID_IClassFactory,
                                      reinterpret_cast<void**>(&factory)) != S_OK)
                    return;
                IUnknown* provider = nullptr;
                if (factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&provider)) == S_OK) {
                    provider->AddRef();
                    provider->Release();
                    provider->Release();
                }
                factory->LockServer(TRUE);
                factory->LockServer(FALSE);
                factory->Release();
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(ModuleObjectCount(), baseCount);
}

TEST_F(ServerTest, FactoryKinds) {
    for (int32_t kind : {0, 1}) {
        IClassFactory* factory = nullptr;
        ASSERT_EQ(CreateClassFactory(kind, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
        IInitializeWithStream* init = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IInitializeWithStream, reinterpret_cast<void**>(&init)), S_OK);
        init->Release();
        factory->Release();
    }
    for (int32_t kind : {-1, 2, 1000}) {
        IClassFactory* factory = nullptr;
        ASSERT_EQ(CreateClassFactory(kind, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &out), E_OUTOFMEMORY) << kind;
        factory->Release();
    }
}

TEST_F(ServerTest, RegistrationWritesTheFourValues) {
    ASSERT_EQ(DllRegisterServer(), S_OK);
    WCHAR modulePath[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(ModuleHandle(), modulePath, MAX_PATH), 0u);
    ExpectValue(kClassKey, u"", u"KwbThumbDll.KwbThumbnailProvider Class");
    ExpectValue(kServerKey, u"", modulePath);
    ExpectValue(kServerKey, u"ThreadingModel", u"Apartment");
    ExpectValue(u".kwb" + kHandlerSuffix, u"", kClsid);
    EXPECT_EQ(platform::registry::ListKeys().size(), 6u);  // CLSID, class, server, .kwb, shellex, handler

    auto notes = platform::shell::ChangeNotifications();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].eventId, SHCNE_ASSOCCHANGED);
    EXPECT_EQ(notes[0].flags, 0u);
    EXPECT_EQ(notes[0].item1, nullptr);
    EXPECT_EQ(notes[0].item2, nullptr);

    ASSERT_EQ(DllUnregisterServer(), S_OK);
    EXPECT_FALSE(platform::registry::KeyExists(kClassKey));
    EXPECT_FALSE(platform::registry::KeyExists(u".kwb" + kHandlerSuffix));
    EXPECT_TRUE(platform::registry::KeyExists(u".kwb\\shellex"));  // only the handler key goes
    EXPECT_EQ(platform::shell::ChangeNotifications().size(), 1u);  // removal does not notify
}

TEST_F(ServerTest, HandlerFollowsTheProgId) {
    struct Case {
        std::vector<BYTE> defaultValue;  // of HKCR\.kwb; empty vector: no value at all
        std::u16string target;
    } cases[] = {
        {Utf16Bytes(u"Kwb.Document.1"), u"Kwb.Document.1"},
        {Utf16Bytes(std::u16string(u"Kwb.Doc\0ignored", 15)), u"Kwb.Doc"},  // up to the first null
        {Utf16Bytes(u""), u".kwb"},                                          // empty text
        {{}, u".kwb"},                                                       // no default value
        {Utf16Bytes(std::u16string(260, u'P')), std::u16string(260, u'P')},  // 520 bytes fit
        {Utf16Bytes(std::u16string(261, u'P')), u".kwb"},                     // longer than the buffer
    };
    for (const Case& c : cases) {
        platform::registry::Clear();
        if (!c.defaultValue.empty() || c.target == u".kwb")
            platform::registry::PutValue(u".kwb", u"", REG_SZ, c.defaultValue);
        WCHAR target[261];
        FindHandlerTarget(target);
        EXPECT_EQ(std::u16string(target), c.target);
    }

    platform::registry::Clear();
    platform::registry::PutValue(u".kwb", u"", REG_SZ, Utf16Bytes(u"Kwb.Document"));
    ASSERT_EQ(DllRegisterServer(), S_OK);
    ExpectValue(u"Kwb.Document" + kHandlerSuffix, u"", kClsid);
    EXPECT_FALSE(platform::registry::KeyExists(u".kwb\\shellex"));
    ASSERT_EQ(DllUnregisterServer(), S_OK);
    EXPECT_FALSE(platform::registry::KeyExists(u"Kwb.Document" + kHandlerSuffix));
    EXPECT_TRUE(platform::registry::KeyExists(u".kwb"));
}

TEST_F(ServerTest, LongProgIdStopsRegistrationAfterTheClassKeys) {
    // 212 + 47 characters of handler key path fill the 260-unit buffer exactly.
    platform::registry::PutValue(u".kwb", u"", REG_SZ, Utf16Bytes(std::u16string(212, u'p')));
    EXPECT_EQ(DllRegisterServer(), S_OK);
    EXPECT_TRUE(platform::registry::KeyExists(std::u16string(212, u'p') + kHandlerSuffix));

    platform::registry::Clear();
    platform::shell::ClearChangeNotifications();
    platform::registry::PutValue(u".kwb", u"", REG_SZ, Utf16Bytes(std::u16string(213, u'p')));
    EXPECT_EQ(DllRegisterServer(), MakeHr(0x8007007A));
    ExpectValue(kServerKey, u"ThreadingModel", u"Apartment");
    EXPECT_EQ(platform::registry::ListKeys().size(), 4u);  // .kwb and the three class keys
    EXPECT_TRUE(platform::shell::ChangeNotifications().empty());
    EXPECT_EQ(DllUnregisterServer(), MakeHr(0x8007007A));  // class key removed, then the same stop
    EXPECT_FALSE(platform::registry::KeyExists(kClassKey));
}

TEST_F(ServerTest, ModulePathFailureEndsRegistration) {
    // An address inside no loaded object has no file name.
    EXPECT_EQ(RegisterServer(reinterpret_cast<HMODULE>(uintptr_t{16})), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    EXPECT_TRUE(platform::registry::ListKeys().empty());
    EXPECT_TRUE(platform::shell::ChangeNotifications().empty());
}

TEST_F(ServerTest, RemovalStopsWhenTheClassKeyIsGone) {
    ASSERT_EQ(DllRegisterServer(), S_OK);
    HKEY root = HKEY_CLASSES_ROOT;
    ASSERT_EQ(RegDeleteTreeW(root, kClassKey.c_str()), ERROR_SUCCESS);
    EXPECT_EQ(DllUnregisterServer(), MakeHr(0x80070002));
    EXPECT_TRUE(platform::registry::KeyExists(u".kwb" + kHandlerSuffix));
}

TEST_F(ServerTest, RegistryFailureEndsRegistration) {
    struct Case {
        const char* call;
        std::u16string path;
        LSTATUS error;
        size_t keysLeft;
    } cases[] = {
        {"RegCreateKeyExW", kClassKey, ERROR_ACCESS_DENIED, 0},
        {"RegSetValueExW", kServerKey, ERROR_ACCESS_DENIED, 3},
        {"RegSetValueExW", u".kwb" + kHandlerSuffix, ERROR_NOT_ENOUGH_MEMORY, 6},
    };
    for (const Case& c : cases) {
        platform::registry::Clear();
        platform::shell::ClearChangeNotifications();
        int calls = 0;
        platform::registry::SetFailureHook([&](const char* call, const std::u16string& path) -> LSTATUS {
            // The server key is written twice; fail its first value only.
            if (std::string(call) == c.call && path == c.path && calls++ == 0) return c.error;
            return ERROR_SUCCESS;
        });
        EXPECT_EQ(DllRegisterServer(), HRESULT_FROM_WIN32(c.error)) << c.call;
        EXPECT_EQ(platform::registry::ListKeys().size(), c.keysLeft) << c.call;
        EXPECT_TRUE(platform::shell::ChangeNotifications().empty());
        platform::registry::SetFailureHook(nullptr);
    }
}

TEST(FormatKey, BoundsTheResult) {
    WCHAR buffer[16];
    EXPECT_EQ(FormatKey(buffer, 0, u"x"), E_INVALIDARG);
    buffer[0] = u'z';
    EXPECT_EQ(FormatKey(buffer, size_t{0x80000000}, u"x"), E_INVALIDARG);
    EXPECT_EQ(buffer[0], 0);

    struct Case {
        size_t capacity;
        const WCHAR* arg;
        HRESULT hr;
        std::u16string text;
    } cases[] = {
        {16, u"abc", S_OK, u"K\\abc\\%"},
        {9, u"abcd", S_OK, u"K\\abcd\\%"},              // capacity - 1 characters fit
        {9, u"abcde", MakeHr(0x8007007A), u"K\\abcde\\"},  // cut to capacity - 1
        {1, u"abc", MakeHr(0x8007007A), u""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatKey(buffer, c.capacity, u"K\\%s\\%%", c.arg), c.hr) << c.capacity;
        EXPECT_EQ(std::u16string(buffer), c.text) << c.capacity;
    }
}

TEST(StringFromGUID2, UpperCaseWithBraces) {
    WCHAR text[39];
    EXPECT_EQ(StringFromGUID2(CLSID_KwbThumbnailProvider, text, 39), 39);
    EXPECT_EQ(std::u16string(text), kClsid);
    EXPECT_EQ(StringFromGUID2(CLSID_KwbThumbnailProvider, text, 38), 0);
}

}  // namespace
