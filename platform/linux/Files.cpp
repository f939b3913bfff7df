#include "Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "Sync.h"
#include "Utf16.h"
#include "VirtualMemory.h"

namespace {

constexpr uint64_t kAllocationGranularity = 0x10000;

enum class Kind { File, Mapping, Find };

// Every HANDLE this layer gives out points at one of these; the registry below tells live
// handles from stale or foreign ones, so a bad handle fails with ERROR_INVALID_HANDLE.
struct Object {
    explicit Object(Kind k) : kind(k) {}
    virtual ~Object() = default;
    Kind kind;
};

struct FileObject final : Object {
    explicit FileObject(int f) : Object(Kind::File), fd(f) {}
    ~FileObject() override { close(fd); }
    int fd;
};

struct MappingObject final : Object {
    MappingObject(int f, uint64_t s, bool w, bool c, dev_t d, ino_t i)
        : Object(Kind::Mapping), fd(f), size(s), writable(w), copyOnWrite(c), device(d), inode(i) {}
    ~MappingObject() override { close(fd); }
    int fd;  // own duplicate: the mapping outlives the file handle
    uint64_t size;
    bool writable;
    bool copyOnWrite;
    dev_t device;
    ino_t inode;
};

struct FindObject final : Object {
    FindObject() : Object(Kind::Find) {}
    std::vector<WIN32_FIND_DATAW> entries;
    size_t next = 0;
};

struct View {
    size_t length;
    uint64_t end;  // file offset just past the view
    dev_t device;
    ino_t inode;
};

// One lock over handles and views: none of these calls is on a hot path.
struct Registry {
    std::mutex mutex;
    std::unordered_map<Object*, Kind> objects;
    std::map<uintptr_t, View> views;
};
Registry& TheRegistry() {
    static Registry* r = new Registry();
    return *r;
}

HANDLE Publish(Object* o) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.objects.emplace(o, o->kind);
    return static_cast<HANDLE>(o);
}

// Looks a live handle of the given kind up. The caller holds the registry lock.
template <typename T>
T* Find(Registry& r, HANDLE h, Kind kind) {
    auto it = r.objects.find(static_cast<Object*>(h));
    if (it == r.objects.end() || it->second != kind) return nullptr;
    return static_cast<T*>(it->first);
}

DWORD ErrorFromErrno(int e) {
    switch (e) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return ERROR_DISK_FULL;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    default: return ERROR_GEN_FAILURE;
    }
}

// ENOENT means a missing file or a missing folder on the way; Windows tells the two apart.
DWORD ErrorForPath(int e, const std::string& path) {
    if (e != ENOENT) return ErrorFromErrno(e);
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return ERROR_FILE_NOT_FOUND;
    struct stat st;
    return stat(path.substr(0, slash).c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND
                                                                                 : ERROR_PATH_NOT_FOUND;
}

BOOL FailWith(DWORD error) {
    SetLastError(error);
    return FALSE;
}

FILETIME ToFileTime(const struct timespec& t) {
    // 100 ns ticks since 1601-01-01.
    const uint64_t ticks = (static_cast<uint64_t>(t.tv_sec) + 11644473600ull) * 10000000ull +
                           static_cast<uint64_t>(t.tv_nsec) / 100;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

bool FillFindData(const std::string& path, const std::string& name, WIN32_FIND_DATAW& out) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return false;
    std::u16string wide = platform::ToUtf16(name);
    if (wide.size() >= 260) return false;
    std::memset(&out, 0, sizeof out);
    out.dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : 0;
    if (!(st.st_mode & S_IWUSR)) out.dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
    if (out.dwFileAttributes == 0) out.dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
    out.ftCreationTime = ToFileTime(st.st_ctim);
    out.ftLastAccessTime = ToFileTime(st.st_atim);
    out.ftLastWriteTime = ToFileTime(st.st_mtim);
    const uint64_t size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    out.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    out.nFileSizeLow = static_cast<DWORD>(size);
    std::memcpy(out.cFileName, wide.data(), wide.size() * sizeof(WCHAR));
    return true;
}

// Size changes must not cut under a live view or mapping object: on Windows that is
// ERROR_USER_MAPPED_FILE, here it would be a SIGBUS on the next touch of the view.
bool ShrinkWouldCutMapping(Registry& r, dev_t device, ino_t inode, uint64_t newSize) {
    for (const auto& [address, v] : r.views)
        if (v.device == device && v.inode == inode && v.end > newSize) return true;
    for (const auto& [object, kind] : r.objects) {
        if (kind != Kind::Mapping) continue;
        auto* m = static_cast<MappingObject*>(object);
        if (m->device == device && m->inode == inode && m->size > newSize) return true;
    }
    return false;
}

// Sets the file size, reserving the blocks of any growth. The caller holds the registry lock.
DWORD Resize(Registry& r, int fd, uint64_t newSize) {
    struct stat st;
    if (fstat(fd, &st) != 0) return ErrorFromErrno(errno);
    const uint64_t oldSize = static_cast<uint64_t>(st.st_size);
    if (newSize > static_cast<uint64_t>(INT64_MAX)) return ERROR_INVALID_PARAMETER;
    if (newSize > oldSize) {
        int rc = posix_fallocate(fd, static_cast<off_t>(oldSize), static_cast<off_t>(newSize - oldSize));
        if (rc == 0) return ERROR_SUCCESS;
        if (rc != EOPNOTSUPP && rc != EINVAL) return ErrorFromErrno(rc);
        // A file system without block reservation: a sparse extension is the best available.
    } else if (newSize < oldSize && ShrinkWouldCutMapping(r, st.st_dev, st.st_ino, newSize)) {
        return ERROR_USER_MAPPED_FILE;
    }
    if (newSize != oldSize && ftruncate(fd, static_cast<off_t>(newSize)) != 0) return ErrorFromErrno(errno);
    return ERROR_SUCCESS;
}

}  // namespace

DWORD GetTempPathW(DWORD bufferLength, LPWSTR buffer) {
    const char* dir = std::getenv("TMPDIR");
    std::string path = dir && *dir ? dir : "/tmp";
    if (path.back() != '/') path += '/';
    std::u16string wide = platform::ToUtf16(path);
    const DWORD needed = static_cast<DWORD>(wide.size()) + 1;
    if (!buffer || bufferLength < needed) return needed;
    std::memcpy(buffer, wide.data(), wide.size() * sizeof(WCHAR));
    buffer[wide.size()] = 0;
    SetLastError(ERROR_SUCCESS);
    return needed - 1;
}

HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData) {
    if (!fileName || !*fileName || !findData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string path = platform::ToUtf8(fileName);
    const size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    std::string pattern = slash == std::string::npos ? path : path.substr(slash + 1);
    if (pattern.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const std::string prefix = dir == "/" ? "/" : dir + "/";
    auto* find = new FindObject();
    if (pattern.find_first_of("*?") == std::string::npos) {
        WIN32_FIND_DATAW data;
        if (FillFindData(path, pattern, data)) find->entries.push_back(data);
    } else {
        if (pattern == "*.*") pattern.resize(1);  // Windows' "every name", dotted or not: "*"
        DIR* d = opendir(dir.c_str());
        if (!d) {
            delete find;
            SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno));
            return INVALID_HANDLE_VALUE;
        }
        while (struct dirent* e = readdir(d)) {
            WIN32_FIND_DATAW data;
            if (fnmatch(pattern.c_str(), e->d_name, 0) == 0 && FillFindData(prefix + e->d_name, e->d_name, data))
                find->entries.push_back(data);
        }
        closedir(d);
    }
    if (find->entries.empty()) {
        delete find;
        struct stat st;
        SetLastError(stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    *findData = find->entries[0];
    find->next = 1;
    return Publish(find);
}

BOOL FindNextFileW(HANDLE handle, LPWIN32_FIND_DATAW findData) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto* find = Find<FindObject>(r, handle, Kind::Find);
    if (!find) return FailWith(ERROR_INVALID_HANDLE);
    if (!findData) return FailWith(ERROR_INVALID_PARAMETER);
    if (find->next >= find->entries.size()) return FailWith(ERROR_NO_MORE_FILES);
    *findData = find->entries[find->next++];
    return TRUE;
}

BOOL FindClose(HANDLE handle) {
    Registry& r = TheRegistry();
    FindObject* find;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        find = Find<FindObject>(r, handle, Kind::Find);
        if (!find) return FailWith(ERROR_INVALID_HANDLE);
        r.objects.erase(find);
    }
    delete find;
    return TRUE;
}

BOOL DeleteFileW(LPCWSTR fileName) {
    if (!fileName || !*fileName) return FailWith(ERROR_PATH_NOT_FOUND);
    const std::string path = platform::ToUtf8(fileName);
    if (unlink(path.c_str()) != 0) return FailWith(ErrorForPath(errno, path));
    return TRUE;
}

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD, LPSECURITY_ATTRIBUTES, DWORD creationDisposition,
                   DWORD, HANDLE) {
    if (!fileName || !*fileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const bool read = desiredAccess & (GENERIC_READ | GENERIC_ALL);
    const bool write = desiredAccess & (GENERIC_WRITE | GENERIC_ALL);
    int flags = O_CLOEXEC | (read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY);
    const std::string path = platform::ToUtf8(fileName);

    int fd = -1;
    bool existed = false;
    switch (creationDisposition) {
    case CREATE_NEW: fd = open(path.c_str(), flags | O_CREAT | O_EXCL, 0666); break;
    case OPEN_EXISTING: fd = open(path.c_str(), flags); break;
    case TRUNCATE_EXISTING:
        if (!write) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        fd = open(path.c_str(), flags | O_TRUNC);
        break;
    case CREATE_ALWAYS:
    case OPEN_ALWAYS:
        // Windows reports whether the file was already there; a bounded retry covers a file
        // that appears or vanishes between the two attempts.
        for (int attempt = 0; attempt < 4 && fd < 0; ++attempt) {
            fd = open(path.c_str(), flags | O_CREAT | O_EXCL, 0666);
            if (fd >= 0 || errno != EEXIST) break;
            fd = open(path.c_str(), flags | (creationDisposition == CREATE_ALWAYS ? O_TRUNC : 0));
            if (fd >= 0) existed = true;
            else if (errno != ENOENT) break;
        }
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (fd < 0) {
        SetLastError(ErrorForPath(errno, path));
        return INVALID_HANDLE_VALUE;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE h = Publish(new FileObject(fd));
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER newPosition, DWORD moveMethod) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto* f = Find<FileObject>(r, file, Kind::File);
    if (!f) return FailWith(ERROR_INVALID_HANDLE);
    int whence = moveMethod == FILE_BEGIN ? SEEK_SET : moveMethod == FILE_CURRENT ? SEEK_CUR
               : moveMethod == FILE_END   ? SEEK_END : -1;
    if (whence < 0) return FailWith(ERROR_INVALID_PARAMETER);
    off_t base = whence == SEEK_SET ? 0 : lseek(f->fd, 0, whence);
    if (base < 0) return FailWith(ErrorFromErrno(errno));
    if ((distance.QuadPart < 0 && -static_cast<uint64_t>(distance.QuadPart) > static_cast<uint64_t>(base)) ||
        (distance.QuadPart > 0 && static_cast<uint64_t>(distance.QuadPart) > static_cast<uint64_t>(INT64_MAX - base)))
        return FailWith(ERROR_NEGATIVE_SEEK);
    off_t pos = lseek(f->fd, base + distance.QuadPart, SEEK_SET);
    if (pos < 0) return FailWith(ErrorFromErrno(errno));
    if (newPosition) newPosition->QuadPart = pos;
    return TRUE;
}

BOOL SetEndOfFile(HANDLE file) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto* f = Find<FileObject>(r, file, Kind::File);
    if (!f) return FailWith(ERROR_INVALID_HANDLE);
    off_t pos = lseek(f->fd, 0, SEEK_CUR);
    if (pos < 0) return FailWith(ErrorFromErrno(errno));
    DWORD error = Resize(r, f->fd, static_cast<uint64_t>(pos));
    return error == ERROR_SUCCESS ? TRUE : FailWith(error);
}

BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto* f = Find<FileObject>(r, file, Kind::File);
    if (!f) return FailWith(ERROR_INVALID_HANDLE);
    struct stat st;
    if (!size) return FailWith(ERROR_INVALID_PARAMETER);
    if (fstat(f->fd, &st) != 0) return FailWith(ErrorFromErrno(errno));
    size->QuadPart = st.st_size;
    return TRUE;
}

HANDLE CreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCWSTR name) {
    const uint64_t maximum = (static_cast<uint64_t>(maximumSizeHigh) << 32) | maximumSizeLow;
    if (name) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    if (protect != PAGE_READONLY && protect != PAGE_READWRITE && protect != PAGE_WRITECOPY) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (maximum > static_cast<uint64_t>(INT64_MAX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }

    if (file == INVALID_HANDLE_VALUE) {
        if (maximum == 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        int fd = memfd_create("mapping", MFD_CLOEXEC);
        if (fd < 0 || ftruncate(fd, static_cast<off_t>(maximum)) != 0) {
            SetLastError(ErrorFromErrno(errno));
            if (fd >= 0) close(fd);
            return nullptr;
        }
        struct stat st;
        fstat(fd, &st);
        return Publish(new MappingObject(fd, maximum, protect == PAGE_READWRITE, protect == PAGE_WRITECOPY,
                                         st.st_dev, st.st_ino));
    }

    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto* f = Find<FileObject>(r, file, Kind::File);
    if (!f) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const int mode = fcntl(f->fd, F_GETFL) & O_ACCMODE;
    if (mode == O_WRONLY || (protect == PAGE_READWRITE && mode != O_RDWR)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    struct stat st;
    if (fstat(f->fd, &st) != 0) {
        SetLastError(ErrorFromErrno(errno));
        return nullptr;
    }
    uint64_t size = maximum ? maximum : static_cast<uint64_t>(st.st_size);
    if (size == 0) {
        SetLastError(ERROR_FILE_INVALID);
        return nullptr;
    }
    if (size > static_cast<uint64_t>(st.st_size)) {
        // A writable mapping larger than its file extends the file, as on Windows.
        if (protect != PAGE_READWRITE) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        DWORD error = Resize(r, f->fd, size);
        if (error != ERROR_SUCCESS) {
            SetLastError(error);
            return nullptr;
        }
    }
    int fd = fcntl(f->fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        SetLastError(ErrorFromErrno(errno));
        return nullptr;
    }
    auto* m = new MappingObject(fd, size, protect == PAGE_READWRITE, protect == PAGE_WRITECOPY, st.st_dev, st.st_ino);
    r.objects.emplace(m, m->kind);
    SetLastError(ERROR_SUCCESS);
    return static_cast<HANDLE>(m);
}

LPVOID MapViewOfFileEx(HANDLE mapping, DWORD desiredAccess, DWORD fileOffsetHigh, DWORD fileOffsetLow,
                       SIZE_T bytesToMap, LPVOID baseAddress) {
    const uint64_t offset = (static_cast<uint64_t>(fileOffsetHigh) << 32) | fileOffsetLow;
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto* m = Find<MappingObject>(r, mapping, Kind::Mapping);
    if (!m) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const bool copy = desiredAccess & FILE_MAP_COPY;
    const bool write = (desiredAccess & FILE_MAP_WRITE) && !copy;
    if ((write && !m->writable) || (copy && !m->writable && !m->copyOnWrite)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (offset % kAllocationGranularity != 0 ||
        reinterpret_cast<uintptr_t>(baseAddress) % kAllocationGranularity != 0) {
        SetLastError(ERROR_MAPPED_ALIGNMENT);
        return nullptr;
    }
    if (offset >= m->size || bytesToMap > m->size - offset) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    const uint64_t length = bytesToMap ? bytesToMap : m->size - offset;
    int prot = PROT_READ | (write || copy ? PROT_WRITE : 0);
    int flags = (copy ? MAP_PRIVATE : MAP_SHARED) | (baseAddress ? MAP_FIXED_NOREPLACE : 0);
    void* view = mmap(baseAddress, length, prot, flags, m->fd, static_cast<off_t>(offset));
    if (view == MAP_FAILED) {
        SetLastError(errno == EEXIST ? ERROR_INVALID_ADDRESS : ErrorFromErrno(errno));
        return nullptr;
    }
    if (baseAddress && view != baseAddress) {  // kernels without MAP_FIXED_NOREPLACE treat it as a hint
        munmap(view, length);
        SetLastError(ERROR_INVALID_ADDRESS);
        return nullptr;
    }
    r.views.emplace(reinterpret_cast<uintptr_t>(view), View{length, offset + length, m->device, m->inode});
    SetLastError(ERROR_SUCCESS);
    return view;
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD fileOffsetHigh, DWORD fileOffsetLow,
                     SIZE_T bytesToMap) {
    return MapViewOfFileEx(mapping, desiredAccess, fileOffsetHigh, fileOffsetLow, bytesToMap, nullptr);
}

BOOL UnmapViewOfFile(LPCVOID baseAddress) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.views.find(reinterpret_cast<uintptr_t>(baseAddress));
    if (it == r.views.end()) return FailWith(ERROR_INVALID_ADDRESS);
    munmap(const_cast<void*>(baseAddress), it->second.length);
    r.views.erase(it);
    return TRUE;
}

BOOL CloseHandle(HANDLE object) {
    Registry& r = TheRegistry();
    Object* o;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        auto it = r.objects.find(static_cast<Object*>(object));
        if (it == r.objects.end() || it->second == Kind::Find) return FailWith(ERROR_INVALID_HANDLE);
        o = it->first;
        r.objects.erase(it);
    }
    delete o;
    return TRUE;
}
