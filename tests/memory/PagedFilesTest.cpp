// The file and mapping calls of the platform layer that the pager is built on.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "PagedTestSupport.h"
#include "platform/Platform.h"

using paged_test::ScopedTempDir;
using paged_test::Wide;

namespace {

std::string TempPath() {
    WCHAR buffer[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
    return std::string(buffer, buffer + n);
}

void WriteFile(const std::string& path, const std::string& content) { std::ofstream(path) << content; }

HANDLE Open(const std::string& path, DWORD disposition, DWORD access = GENERIC_READ | GENERIC_WRITE) {
    return CreateFileW(Wide(path).c_str(), access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

bool Grow(HANDLE file, int64_t size) {
    LARGE_INTEGER end;
    end.QuadPart = size;
    return SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

}  // namespace

TEST(PagedFiles, TempPathFollowsTmpdirWithTrailingSeparator) {
    ScopedTempDir keep;  // restores TMPDIR afterwards
    struct Case {
        const char* tmpdir;  // null: unset
        const char* expected;
    };
    const Case cases[] = {
        {"/var/x", "/var/x/"},
        {"/var/x/", "/var/x/"},
        {"", "/tmp/"},
        {nullptr, "/tmp/"},
    };
    for (const Case& c : cases) {
        if (c.tmpdir)
            setenv("TMPDIR", c.tmpdir, 1);
        else
            unsetenv("TMPDIR");
        EXPECT_EQ(TempPath(), c.expected) << (c.tmpdir ? c.tmpdir : "(unset)");
    }
    // Too small a buffer: the size needed, terminator included, and nothing written.
    setenv("TMPDIR", "/var/x", 1);
    WCHAR small[4] = {'z', 'z', 'z', 'z'};
    EXPECT_EQ(GetTempPathW(4, small), 8u);
    EXPECT_EQ(small[0], 'z');
}

TEST(PagedFiles, CreateDispositionsAndTheirErrors) {
    ScopedTempDir dir;
    const std::string existing = dir.Path() + "/existing";
    const std::string missing = dir.Path() + "/missing";
    struct Case {
        const char* name;
        std::string path;
        DWORD disposition;
        bool opens;
        DWORD error;
    };
    const Case cases[] = {
        {"create new over existing", existing, CREATE_NEW, false, ERROR_FILE_EXISTS},
        {"open existing, missing", missing, OPEN_EXISTING, false, ERROR_FILE_NOT_FOUND},
        {"open always, existing", existing, OPEN_ALWAYS, true, ERROR_ALREADY_EXISTS},
        {"create always, existing", existing, CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS},
        {"open always, missing", missing, OPEN_ALWAYS, true, ERROR_SUCCESS},
        {"a directory", dir.Path(), OPEN_EXISTING, false, ERROR_ACCESS_DENIED},
        {"missing folder", dir.Path() + "/no/such", OPEN_ALWAYS, false, ERROR_PATH_NOT_FOUND},
    };
    for (const Case& c : cases) {
        WriteFile(existing, "leftover");
        unlink(missing.c_str());
        HANDLE h = Open(c.path, c.disposition);
        const DWORD error = GetLastError();
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens) << c.name;
        EXPECT_EQ(error, static_cast<DWORD>(c.error)) << c.name;
        if (h != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(CloseHandle(h));
        }
    }
    // CREATE_ALWAYS empties the file it finds.
    WriteFile(existing, "leftover");
    HANDLE h = Open(existing, CREATE_ALWAYS);
    LARGE_INTEGER size;
    ASSERT_TRUE(GetFileSizeEx(h, &size));
    EXPECT_EQ(size.QuadPart, 0);
    CloseHandle(h);
}

TEST(PagedFiles, ViewsShareTheFileAndOutliveTheirHandles) {
    ScopedTempDir dir;
    const std::string path = dir.Path() + "/mapped";
    HANDLE file = Open(path, OPEN_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    // An empty file cannot be mapped with its own size.
    EXPECT_EQ(CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_INVALID));

    ASSERT_TRUE(Grow(file, 0x20000));
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
    ASSERT_NE(mapping, nullptr);
    auto* first = static_cast<char*>(MapViewOfFileEx(mapping, FILE_MAP_WRITE, 0, 0, 0x10000, nullptr));
    auto* second = static_cast<char*>(MapViewOfFileEx(mapping, FILE_MAP_WRITE, 0, 0x10000, 0, nullptr));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);

    struct Bad {
        const char* name;
        DWORD offset;
        SIZE_T bytes;
        DWORD error;
    };
    const Bad bad[] = {
        {"offset off the 64 KiB grid", 0x1000, 0x1000, ERROR_MAPPED_ALIGNMENT},
        {"past the end", 0x10000, 0x10001, ERROR_ACCESS_DENIED},
        {"starting at the end", 0x20000, 0, ERROR_ACCESS_DENIED},
    };
    for (const Bad& b : bad) {
        EXPECT_EQ(MapViewOfFileEx(mapping, FILE_MAP_WRITE, 0, b.offset, b.bytes, nullptr), nullptr) << b.name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(b.error)) << b.name;
    }

    EXPECT_TRUE(CloseHandle(mapping));
    EXPECT_TRUE(CloseHandle(file));
    std::memcpy(first, "head", 4);
    std::memcpy(second + 0xFFFC, "tail", 4);
    EXPECT_TRUE(UnmapViewOfFile(first));
    EXPECT_TRUE(UnmapViewOfFile(second));
    EXPECT_FALSE(UnmapViewOfFile(second));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));

    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 0x20000u);
    EXPECT_EQ(bytes.substr(0, 4), "head");
    EXPECT_EQ(bytes.substr(0x1FFFC, 4), "tail");
}

TEST(PagedFiles, FileCannotShrinkUnderAView) {
    ScopedTempDir dir;
    HANDLE file = Open(dir.Path() + "/shrink", OPEN_ALWAYS);
    ASSERT_TRUE(Grow(file, 0x20000));
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
    void* view = MapViewOfFileEx(mapping, FILE_MAP_WRITE, 0, 0x10000, 0, nullptr);
    ASSERT_NE(view, nullptr);
    CloseHandle(mapping);
    // A shrink would leave the view over missing pages (a fault on the next touch).
    EXPECT_FALSE(Grow(file, 0x10000));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_USER_MAPPED_FILE));
    UnmapViewOfFile(view);
    EXPECT_TRUE(Grow(file, 0x10000));
    CloseHandle(file);
}

TEST(PagedFiles, ForeignAndMismatchedHandlesAreRefused) {
    ScopedTempDir dir;
    int local = 0;
    EXPECT_FALSE(CloseHandle(&local));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(CreateFileMappingW(&local, nullptr, PAGE_READWRITE, 0, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    HANDLE file = Open(dir.Path() + "/f", OPEN_ALWAYS);
    EXPECT_FALSE(FindClose(file));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_FALSE(CloseHandle(file));  // already closed

    // A read-only file gives no writable mapping.
    HANDLE readOnly = Open(dir.Path() + "/f", OPEN_EXISTING, GENERIC_READ);
    ASSERT_NE(readOnly, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileMappingW(readOnly, nullptr, PAGE_READWRITE, 0, 0x10000, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(readOnly);
}

TEST(PagedFiles, FindByNameAndByPattern) {
    ScopedTempDir dir;
    WriteFile(dir.Path() + "/a.dat", "12345");
    WriteFile(dir.Path() + "/b.dat", "");
    WriteFile(dir.Path() + "/c.txt", "");

    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(Wide(dir.Path() + "/a.dat").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_EQ(std::basic_string<WCHAR>(data.cFileName), Wide("a.dat"));
    EXPECT_EQ(data.nFileSizeLow, 5u);
    EXPECT_TRUE(FindClose(find));

    EXPECT_EQ(FindFirstFileW(Wide(dir.Path() + "/none.dat").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FindFirstFileW(Wide(dir.Path() + "/none/*.dat").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    find = FindFirstFileW(Wide(dir.Path() + "/*.dat").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    std::set<std::basic_string<WCHAR>> names{data.cFileName};
    while (FindNextFileW(find, &data)) names.insert(data.cFileName);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_EQ(names, (std::set<std::basic_string<WCHAR>>{Wide("a.dat"), Wide("b.dat")}));
    FindClose(find);

    EXPECT_TRUE(DeleteFileW(Wide(dir.Path() + "/a.dat").c_str()));
    EXPECT_FALSE(DeleteFileW(Wide(dir.Path() + "/a.dat").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}
