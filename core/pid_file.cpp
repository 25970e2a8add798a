// The pid file and the lock on it that keeps a second daemon from starting beside the first.
// Owns opening, locking and writing /var/run/vigilerd.pid.
#include "core/pid_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "core/daemon.h"

namespace {

struct flock WholeFile(short type) {
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return lock;  // l_start and l_len 0: the whole file, however long it grows
}

// The holder as the kernel names it; from the file when it lives in another pid namespace.
pid_t Holder(int fd) {
    struct flock lock = WholeFile(F_WRLCK);
    if (fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK && lock.l_pid > 0) {
        return lock.l_pid;
    }
    char text[16] = {};
    return pread(fd, text, sizeof text - 1, 0) > 0 ? static_cast<pid_t>(atoi(text)) : 0;
}

}  // namespace

int LockPidFile(bool create, pid_t& holder) {
    // Never truncated on opening: a second start must leave the first one's pid in place.
    int fd = open(kPidPath, O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
    if (fd < 0) {
        return -1;
    }
    struct flock lock = WholeFile(F_WRLCK);
    // A file system without locks (ENOLCK) must not keep the daemon from starting at all.
    if (fcntl(fd, F_SETLK, &lock) != 0 && (errno == EACCES || errno == EAGAIN)) {
        holder = Holder(fd);
        close(fd);
        return kPidFileHeld;
    }
    return fd;
}

void WritePid(int fd) {
    char text[24];
    int length = snprintf(text, sizeof text, "%d\n", static_cast<int>(getpid()));
    // Errors are not looked at: the daemon runs on without a readable pid file.
    if (ftruncate(fd, 0) == 0 && pwrite(fd, text, static_cast<size_t>(length), 0) < 0) {
        return;
    }
}
