// Replacing a small file whole, through a temporary file in the same directory and a rename;
// used for the state file and for the reboot record on the flash.
#include "platform/replace_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

int WriteAll(int fd, const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        ssize_t written = write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno != EINTR) {
            return errno;
        }
        done += written > 0 ? static_cast<size_t>(written) : 0;
    }
    return 0;
}

}  // namespace

int ReplaceFile(const char* path, const char* temp, const std::string& text, bool durable) {
    int fd = open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        return errno;
    }
    int error = WriteAll(fd, text);
    if (error == 0 && durable && fsync(fd) != 0) {
        error = errno;
    }
    if (close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && rename(temp, path) != 0) {
        error = errno;
    }
    if (error != 0) {
        unlink(temp);
        return error;
    }
    if (durable) {
        const char* slash = strrchr(path, '/');
        std::string dir = slash == nullptr ? "." : slash == path ? "/" : std::string(path, slash);
        int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd < 0 || fsync(dirFd) != 0) {
            error = errno;
        }
        if (dirFd >= 0) {
            close(dirFd);
        }
    }
    return error;
}
