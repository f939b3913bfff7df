#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
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
    EXPECT_FALSE(platform::registry::KeyExists(u".kwb\\shellex"));  // left empty, so it goes too
    EXPECT_TRUE(platform::registry::KeyExists(u".kwb"));
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

// Removal deletes a handler key only where it names our class, under the ProgID that .kwb
// names at removal time and under .kwb itself, and then a shellex key it left empty.
TEST_F(ServerTest, RemovalDeletesOnlyOurHandlers) {
    const std::u16string foreignClsid = u"{0B1C2D3E-4F50-6172-8394-A5B6C7D8E9F0}";
    const std::u16string kwbHandler = u".kwb" + kHandlerSuffix;
    const std::u16string progIdHandler = u"Other.Document" + kHandlerSuffix;
    struct Case {
        const char* what;
        std::u16string progIdBefore, progIdAfter;  // default value of .kwb before / after we register
        std::vector<std::pair<std::u16string, std::u16string>> extra;  // handler keys others write after us
        std::vector<std::u16string> expected;                           // every key left after removal
    } cases[] = {
        {"no ProgID", u"", u"", {}, {u".kwb", u"CLSID"}},
        {"a ProgID before us", u"Other.Document", u"Other.Document", {}, {u".kwb", u"CLSID", u"Other.Document"}},
        {"a ProgID with its own handler after us", u"", u"Other.Document", {{progIdHandler, foreignClsid}},
         {u".kwb", u"CLSID", u"Other.Document", u"Other.Document\\shellex", progIdHandler}},
        {"a ProgID after us, no handler of its own", u"", u"Other.Document", {}, {u".kwb", u"CLSID", u"Other.Document"}},
        {"another handler replaced ours", u"", u"", {{kwbHandler, foreignClsid}},
         {u".kwb", u".kwb\\shellex", kwbHandler, u"CLSID"}},
        {"ours written in lower case", u"", u"", {{kwbHandler, u"{7a3c51e2-4b9d-4f06-9c18-2d5e8b0f6a47}"}}, {u".kwb", u"CLSID"}},
        {"our CLSID with more after it", u"", u"", {{kwbHandler, kClsid + u"x"}},
         {u".kwb", u".kwb\\shellex", kwbHandler, u"CLSID"}},
        {"another shell extension beside ours", u"", u"", {{u".kwb\\shellex\\{BB2E617C-0920-11D1-9A0B-00C04FC2D6C1}", foreignClsid}},
         {u".kwb", u".kwb\\shellex", u".kwb\\shellex\\{BB2E617C-0920-11D1-9A0B-00C04FC2D6C1}", u"CLSID"}},
    };
    for (const Case& c : cases) {
        platform::registry::Clear();
        if (!c.progIdBefore.empty()) {
            platform::registry::PutValue(u".kwb", u"", REG_SZ, Utf16Bytes(c.progIdBefore));
            platform::registry::PutValue(c.progIdBefore, u"", REG_SZ, Utf16Bytes(u"A document"));
        }
        ASSERT_EQ(DllRegisterServer(), S_OK) << c.what;
        if (c.progIdAfter != c.progIdBefore) {
            platform::registry::PutValue(u".kwb", u"", REG_SZ, Utf16Bytes(c.progIdAfter));
            platform::registry::PutValue(c.progIdAfter, u"", REG_SZ, Utf16Bytes(u"A document"));
        }
        for (const auto& [key, clsid] : c.extra) platform::registry::PutValue(key, u"", REG_SZ, Utf16Bytes(clsid));

        EXPECT_EQ(DllUnregisterServer(), S_OK) << c.what;
        std::vector<std::u16string> expected = c.expected;
        std::sort(expected.begin(), expected.end(), [](const std::u16string& a, const std::u16string& b) {
            return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char16_t x, char16_t y) {
                return std::toupper(x) < std::toupper(y);
            });
        });
        auto left = platform::registry::ListKeys();
        EXPECT_EQ(left, expected) << c.what;
        for (const auto& [key, clsid] : c.extra) {
            if (clsid == foreignClsid) ExpectValue(key, u"", clsid);
        }
    }
}

// Windows keeps a class key in each view but shares .kwb between them, so the 64- and 32-bit
// removals each find their class key and only the first finds the handler key.
TEST_F(ServerTest, BothArchitecturesRemoveInEitherOrder) {
    for (const char16_t* progId : {u"", u"Kwb.Document"}) {
        platform::registry::Clear();
        if (*progId) platform::registry::PutValue(u".kwb", u"", REG_SZ, Utf16Bytes(progId));
        ASSERT_EQ(DllRegisterServer(), S_OK);  // one architecture
        ASSERT_EQ(DllRegisterServer(), S_OK);  // the other: the same keys
        EXPECT_EQ(DllUnregisterServer(), S_OK);
        // The other view's class key, still there when its removal runs.
        platform::registry::PutValue(kClassKey, u"", REG_SZ, Utf16Bytes(u"KwbThumbDll.KwbThumbnailProvider Class"));
        EXPECT_EQ(DllUnregisterServer(), S_OK);
        std::vector<std::u16string> expected{u".kwb", u"CLSID"};
        if (*progId) expected.push_back(progId);  // the ProgID's own key stays, without shellex
        EXPECT_EQ(platform::registry::ListKeys(), expected);
        // A third removal finds its class key gone, as before.
        EXPECT_EQ(DllUnregisterServer(), MakeHr(0x80070002));
    }
}

TEST_F(ServerTest, RemovalFailuresAreReported) {
    struct Case {
        const char* call;
        std::u16string path;
        size_t keysLeft;  // CLSID, .kwb, shellex and the handler, or all but the handler
    } cases[] = {
        {"RegOpenKeyExW", u".kwb" + kHandlerSuffix, 4},
        {"RegQueryValueExW", u".kwb" + kHandlerSuffix, 4},
        {"RegDeleteTreeW", u".kwb" + kHandlerSuffix, 4},
        {"RegQueryInfoKeyW", u".kwb\\shellex", 3},
        // ERROR_ACCESS_DENIED here means a subkey came meanwhile: the key stays, no failure.
        {"RegDeleteKeyW", u".kwb\\shellex", 3},
    };
    for (const Case& c : cases) {
        platform::registry::Clear();
        ASSERT_EQ(DllRegisterServer(), S_OK);
        platform::registry::SetFailureHook([&](const char* call, const std::u16string& path) -> LSTATUS {
            return std::string(call) == c.call && path == c.path ? ERROR_NOT_ENOUGH_MEMORY : ERROR_SUCCESS;
        });
        EXPECT_EQ(DllUnregisterServer(), HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY)) << c.call;
        platform::registry::SetFailureHook(nullptr);
        EXPECT_FALSE(platform::registry::KeyExists(kClassKey)) << c.call;
        EXPECT_EQ(platform::registry::ListKeys().size(), c.keysLeft) << c.call;
    }
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
