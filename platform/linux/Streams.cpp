#include "Streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "Sync.h"
#include "Utf16.h"

namespace {

// Reference counting and interface lookup shared by both stream kinds.
class StreamBase : public IStream {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISequentialStream) || IsEqualIID(riid, IID_IStream)) {
            AddRef();
            *ppv = static_cast<IStream*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

protected:
    virtual ~StreamBase() = default;

    // New position for a Seek, or a failure code; positions before 0 are invalid.
    static HRESULT Reposition(uint64_t current, uint64_t size, LARGE_INTEGER move, DWORD origin, uint64_t& out) {
        int64_t base;
        switch (origin) {
            case STREAM_SEEK_SET: base = 0; break;
            case STREAM_SEEK_CUR: base = static_cast<int64_t>(current); break;
            case STREAM_SEEK_END: base = static_cast<int64_t>(size); break;
            default: return STG_E_INVALIDFUNCTION;
        }
        int64_t target;
        if (__builtin_add_overflow(base, move.QuadPart, &target) || target < 0) return STG_E_INVALIDFUNCTION;
        out = static_cast<uint64_t>(target);
        return S_OK;
    }

    static void FillStat(STATSTG* st, uint64_t size, DWORD mode) {
        std::memset(st, 0, sizeof *st);
        st->type = STGTY_STREAM;
        st->cbSize.QuadPart = size;
        st->grfMode = mode;
    }

private:
    std::atomic<ULONG> refs_{1};
};

class MemStream final : public StreamBase {
public:
    explicit MemStream(std::vector<BYTE> data) : data_(std::move(data)) {}

    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        if (!pv) return STG_E_INVALIDPOINTER;
        uint64_t avail = pos_ < data_.size() ? data_.size() - pos_ : 0;
        ULONG n = static_cast<ULONG>(cb < avail ? cb : avail);
        if (n) std::memcpy(pv, data_.data() + pos_, n);
        pos_ += n;
        if (pcbRead) *pcbRead = n;
        return n == cb ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        if (!pv) return STG_E_INVALIDPOINTER;
        if (pos_ + cb > data_.size()) data_.resize(pos_ + cb);
        std::memcpy(data_.data() + pos_, pv, cb);
        pos_ += cb;
        if (pcbWritten) *pcbWritten = cb;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPos) override {
        uint64_t target;
        HRESULT hr = Reposition(pos_, data_.size(), move, origin, target);
        if (FAILED(hr)) return hr;
        pos_ = target;
        if (newPos) newPos->QuadPart = pos_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override {
        try {
            data_.resize(size.QuadPart);
        } catch (const std::exception&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* st, DWORD) override {
        if (!st) return STG_E_INVALIDPOINTER;
        FillStat(st, data_.size(), STGM_READWRITE);
        return S_OK;
    }

private:
    std::vector<BYTE> data_;
    uint64_t pos_ = 0;
};

class FileStream final : public StreamBase {
public:
    FileStream(int fd, DWORD mode) : fd_(fd), mode_(mode) {}
    ~FileStream() override { close(fd_); }

    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        if (!pv) return STG_E_INVALIDPOINTER;
        ULONG total = 0;
        while (total < cb) {
            ssize_t n = ::read(fd_, static_cast<BYTE*>(pv) + total, cb - total);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                if (pcbRead) *pcbRead = total;
                return STG_E_READFAULT;
            }
            if (n == 0) break;
            total += static_cast<ULONG>(n);
        }
        if (pcbRead) *pcbRead = total;
        return total == cb ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        if (!pv) return STG_E_INVALIDPOINTER;
        if ((mode_ & 3) == STGM_READ) return STG_E_ACCESSDENIED;
        ULONG total = 0;
        while (total < cb) {
            ssize_t n = ::write(fd_, static_cast<const BYTE*>(pv) + total, cb - total);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            total += static_cast<ULONG>(n);
        }
        if (pcbWritten) *pcbWritten = total;
        return total == cb ? S_OK : STG_E_ACCESSDENIED;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPos) override {
        struct stat st {};
        if (fstat(fd_, &st) != 0) return STG_E_INVALIDFUNCTION;
        off_t cur = lseek(fd_, 0, SEEK_CUR);
        uint64_t target;
        HRESULT hr = Reposition(static_cast<uint64_t>(cur), static_cast<uint64_t>(st.st_size), move, origin, target);
        if (FAILED(hr)) return hr;
        if (lseek(fd_, static_cast<off_t>(target), SEEK_SET) < 0) return STG_E_INVALIDFUNCTION;
        if (newPos) newPos->QuadPart = target;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override {
        return ftruncate(fd_, static_cast<off_t>(size.QuadPart)) == 0 ? S_OK : STG_E_ACCESSDENIED;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* out, DWORD) override {
        if (!out) return STG_E_INVALIDPOINTER;
        struct stat st {};
        if (fstat(fd_, &st) != 0) return STG_E_ACCESSDENIED;
        FillStat(out, static_cast<uint64_t>(st.st_size), mode_);
        return S_OK;
    }

private:
    int fd_;
    DWORD mode_;
};

}  // namespace

IStream* SHCreateMemStream(const BYTE* pInit, UINT cbInit) {
    try {
        std::vector<BYTE> data;
        if (pInit) data.assign(pInit, pInit + cbInit);
        return new MemStream(std::move(data));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

HRESULT SHCreateStreamOnFileEx(LPCWSTR pszFile, DWORD grfMode, DWORD, BOOL fCreate, IStream* pstmTemplate,
                               IStream** ppstm) {
    if (!ppstm) return E_INVALIDARG;
    *ppstm = nullptr;
    if (!pszFile || pstmTemplate) return E_INVALIDARG;
    int flags = O_CLOEXEC;
    switch (grfMode & 3) {
        case STGM_READ: flags |= O_RDONLY; break;
        case STGM_WRITE: flags |= O_WRONLY; break;
        default: flags |= O_RDWR; break;
    }
    if (grfMode & STGM_CREATE) flags |= O_CREAT | O_TRUNC;
    else if (fCreate) flags |= O_CREAT;
    std::string path = platform::ToUtf8(pszFile);
    int fd = open(path.c_str(), flags, 0666);
    if (fd < 0) return HRESULT_FROM_WIN32(errno == ENOENT ? ERROR_FILE_NOT_FOUND
                                          : errno == EACCES ? ERROR_ACCESS_DENIED
                                                            : ERROR_PATH_NOT_FOUND);
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    }
    *ppstm = new (std::nothrow) FileStream(fd, grfMode);
    if (!*ppstm) {
        close(fd);
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
