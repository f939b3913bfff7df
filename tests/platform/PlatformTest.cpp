#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "platform/Platform.h"

namespace {

TEST(VirtualAlloc2, HonoursSixteenMiBAlignment) {
    using Fn = PVOID (*)(HANDLE, PVOID, SIZE_T, ULONG, ULONG, MEM_EXTENDED_PARAMETER*, ULONG);
    auto fn = reinterpret_cast<Fn>(GetProcAddress(LoadLibraryW(WSTR("kernelbase.dll")), "VirtualAlloc2"));
    ASSERT_NE(fn, nullptr);
    MEM_ADDRESS_REQUIREMENTS req{nullptr, nullptr, 0x1000000};
    MEM_EXTENDED_PARAMETER param{};
    param.Type = MemExtendedParameterAddressRequirements;
    param.Pointer = &req;
    for (int i = 0; i < 4; ++i) {
        void* p = fn(nullptr, nullptr, 0x1000000, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE, &param, 1);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) & 0xFFFFFF, 0u);
        std::memset(p, 0xAB, 0x1000000);  // committed: every byte writable
        EXPECT_TRUE(VirtualFree(p, 0, MEM_RELEASE));
    }
}

TEST(VirtualAlloc2, RejectsBadArgumentsLikeWindows) {
    MEM_ADDRESS_REQUIREMENTS req{nullptr, nullptr, 0x1234};
    MEM_EXTENDED_PARAMETER param{};
    param.Type = MemExtendedParameterAddressRequirements;
    param.Pointer = &req;
    EXPECT_EQ(VirtualAlloc2(nullptr, nullptr, 0x10000, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE, &param, 1), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    int local = 0;
    EXPECT_FALSE(VirtualFree(&local, 0, MEM_RELEASE));
    EXPECT_EQ(GetProcAddress(LoadLibraryW(WSTR("kernelbase.dll")), "NoSuchExport"), nullptr);
    EXPECT_EQ(LoadLibraryW(WSTR("nosuch.dll")), nullptr);
}

TEST(Fls, CallbackRunsAtThreadExitWithTheThreadsValue) {
    static std::atomic<intptr_t> seen{0};
    DWORD slot = FlsAlloc([](PVOID v) { seen += reinterpret_cast<intptr_t>(v); });
    ASSERT_NE(slot, FLS_OUT_OF_INDEXES);
    std::thread([&] { FlsSetValue(slot, reinterpret_cast<PVOID>(intptr_t{5})); }).join();
    std::thread([&] { FlsSetValue(slot, reinterpret_cast<PVOID>(intptr_t{7})); }).join();
    std::thread([] {}).join();  // no value, no callback
    EXPECT_EQ(seen.load(), 12);
    FlsFree(slot);
}

TEST(CriticalSection, IsRecursiveForItsOwner) {
    CRITICAL_SECTION cs;
    ASSERT_TRUE(InitializeCriticalSectionAndSpinCount(&cs, 1024));
    EnterCriticalSection(&cs);
    EXPECT_TRUE(TryEnterCriticalSection(&cs));
    LeaveCriticalSection(&cs);
    bool other = true;
    std::thread([&] { other = TryEnterCriticalSection(&cs); }).join();
    EXPECT_FALSE(other);
    LeaveCriticalSection(&cs);
    DeleteCriticalSection(&cs);
}

TEST(HresultFromWin32, MapsPositiveCodesOnly) {
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED), MakeHr(0x800704DF));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), MakeHr(0x8007007A));
    EXPECT_EQ(HRESULT_FROM_WIN32(0), S_OK);
    EXPECT_EQ(HRESULT_FROM_WIN32(-5), -5);
}

TEST(MemStream, ReadSeekStatBehaveAsTheShellsStream) {
    const BYTE data[] = {1, 2, 3, 4, 5};
    IStream* s = SHCreateMemStream(data, sizeof data);
    ASSERT_NE(s, nullptr);
    STATSTG st{};
    ASSERT_EQ(s->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.cbSize.QuadPart, 5u);
    BYTE buf[8] = {};
    ULONG got = 0;
    LARGE_INTEGER to{};
    to.QuadPart = 3;
    ASSERT_EQ(s->Seek(to, STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(s->Read(buf, 4, &got), S_FALSE);  // short read is a success code
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(buf[0], 4);
    to.QuadPart = -1;
    EXPECT_TRUE(FAILED(s->Seek(to, STREAM_SEEK_SET, nullptr)));
    to.QuadPart = 100;  // past the end is allowed; reads then give 0 bytes
    ASSERT_EQ(s->Seek(to, STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(s->Read(buf, 1, &got), S_FALSE);
    EXPECT_EQ(got, 0u);
    IStream* again = nullptr;
    ASSERT_EQ(s->QueryInterface(IID_IStream, reinterpret_cast<void**>(&again)), S_OK);
    EXPECT_EQ(again->Release(), 1u);
    EXPECT_EQ(s->Release(), 0u);
}

TEST(FileStream, MissingFileGivesFileNotFound) {
    IStream* s = reinterpret_cast<IStream*>(1);
    EXPECT_EQ(SHCreateStreamOnFileEx(WSTR("/nonexistent/x.kwb"), STGM_READ, 0, FALSE, nullptr, &s),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(s, nullptr);
}

}  // namespace
