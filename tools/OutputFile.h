// Where kwbthumb writes: a path or standard output, opened so that nothing but a regular file
// is ever replaced and the document itself is never the output.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <string>

namespace kwb {

class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // An output that was never committed leaves nothing behind: its temporary file goes.
    ~OutputFile();

    // "-" is standard output. A regular file, or a name that does not exist yet, is written to
    // a temporary file in the same folder that replaces it on Commit; a symbolic link is
    // followed to its target and that is treated the same way; a device or FIFO is written
    // directly. Refuses folders and the file `input` is (same device and inode), naming the
    // cause in `error`.
    bool Open(const std::string& path, const struct stat* input, std::string& error);

    FILE* File() const { return file_; }

    // Flushes what was written and puts it in place.
    bool Commit(std::string& error);

private:
    bool OpenReplacing(const std::string& target, const struct stat* existing, std::string& error);
    bool OpenDirect(int fd, std::string& error);

    FILE* file_ = nullptr;
    std::string target_;  // the file a temporary replaces; empty when written directly
    std::string temp_;
};

}  // namespace kwb
