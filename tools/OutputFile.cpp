#include "tools/OutputFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kwb {

namespace {

std::string SystemError(const std::string& what, int error) { return what + ": " + std::strerror(error); }

bool SameFile(const struct stat& a, const struct stat* b) {
    return b && a.st_dev == b->st_dev && a.st_ino == b->st_ino;
}

}  // namespace

OutputFile::~OutputFile() {
    if (!file_) return;
    std::fclose(file_);
    if (!temp_.empty()) unlink(temp_.c_str());
}

bool OutputFile::Open(const std::string& path, const struct stat* input, std::string& error) {
    const std::string cannot = "cannot write '" + path + "'";
    if (path == "-") {
        struct stat st {};
        if (fstat(STDOUT_FILENO, &st) != 0) return error = SystemError("cannot write standard output", errno), false;
        if (SameFile(st, input)) return error = "standard output is the input document", false;
        const int fd = dup(STDOUT_FILENO);
        if (fd < 0) return error = SystemError("cannot write standard output", errno), false;
        return OpenDirect(fd, error);
    }

    std::string target = path;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) return error = SystemError(cannot, errno), false;
        return OpenReplacing(target, nullptr, error);
    }
    if (S_ISLNK(st.st_mode)) {
        // Written through: the link stays and its target gets the thumbnail.
        char resolved[PATH_MAX];
        if (!realpath(path.c_str(), resolved) || stat(resolved, &st) != 0)
            return error = SystemError(cannot + " (a symbolic link)", errno), false;
        target = resolved;
    }
    if (S_ISDIR(st.st_mode)) return error = SystemError(cannot, EISDIR), false;
    if (SameFile(st, input)) return error = "'" + path + "' is the input document; give another OUTPUT", false;
    if (S_ISREG(st.st_mode)) return OpenReplacing(target, &st, error);

    // A device, FIFO or socket is written as it is, never replaced.
    const int fd = open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return error = SystemError(cannot, errno), false;
    return OpenDirect(fd, error);
}

bool OutputFile::OpenReplacing(const std::string& target, const struct stat* existing, std::string& error) {
    const size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash == 0 ? 1 : slash);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string name = dir + "/." + base + ".XXXXXX";
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back(0);
    const int fd = mkostemp(buffer.data(), O_CLOEXEC);
    if (fd < 0) return error = SystemError("cannot write '" + target + "'", errno), false;
    temp_.assign(buffer.data());
    target_ = target;
    // A replaced file keeps its permissions; a new one gets what the umask allows.
    mode_t mode;
    if (existing) {
        mode = existing->st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    fchmod(fd, mode);
    file_ = fdopen(fd, "wb");
    if (!file_) {
        error = SystemError("cannot write '" + target + "'", errno);
        close(fd);
        unlink(temp_.c_str());
        temp_.clear();
        return false;
    }
    return true;
}

bool OutputFile::OpenDirect(int fd, std::string& error) {
    file_ = fdopen(fd, "wb");
    if (file_) return true;
    error = SystemError("cannot write the output", errno);
    close(fd);
    return false;
}

bool OutputFile::Commit(std::string& error) {
    const std::string name = target_.empty() ? "the output" : "'" + target_ + "'";
    int failure = 0;
    if (std::fflush(file_) != 0) failure = errno;
    if (!failure && !temp_.empty() && fsync(fileno(file_)) != 0) failure = errno;
    if (std::fclose(file_) != 0 && !failure) failure = errno;
    file_ = nullptr;
    if (!failure && !temp_.empty() && std::rename(temp_.c_str(), target_.c_str()) != 0) failure = errno;
    if (failure) {
        if (!temp_.empty()) unlink(temp_.c_str());
        error = SystemError("cannot write " + name, failure);
        return false;
    }
    temp_.clear();
    return true;
}

}  // namespace kwb
