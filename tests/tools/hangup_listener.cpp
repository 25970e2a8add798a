// A system-log listener of the stream kind that hangs up on every client after one record,
// so tests can see what a logger that goes away in the middle of a connection costs a sender.
//
// Usage: hangup_listener SOCKET OUTPUT
// Binds a stream socket at SOCKET (replacing what was there), and for every connection reads
// what arrives within a short while, appends it to OUTPUT as one line (a NUL record end and a
// newline dropped), and closes the connection. Runs until it is killed.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

void WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        done += static_cast<size_t>(n);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: hangup_listener SOCKET OUTPUT\n");
        return 2;
    }
    sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (strlen(argv[1]) >= sizeof address.sun_path) {
        fprintf(stderr, "hangup_listener: socket path too long\n");
        return 1;
    }
    strcpy(address.sun_path, argv[1]);

    int out = open(argv[2], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    int sock = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (out < 0 || sock < 0) {
        perror("hangup_listener");
        return 1;
    }
    unlink(argv[1]);
    mode_t old = umask(0);
    int bound = bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address);
    umask(old);
    if (bound != 0 || listen(sock, 16) != 0) {
        perror("hangup_listener: bind");
        return 1;
    }

    for (;;) {
        int client = accept4(sock, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            perror("hangup_listener: accept");
            return 1;
        }
        // One record, or whatever came within half a second; then the line goes dead.
        timeval timeout{0, 500000};
        setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        char buffer[65536];
        ssize_t n;
        do {
            n = recv(client, buffer, sizeof buffer, 0);
        } while (n < 0 && errno == EINTR);
        close(client);
        if (n <= 0) {
            continue;
        }
        std::string record(buffer, static_cast<size_t>(n));
        while (!record.empty() && (record.back() == '\0' || record.back() == '\n')) {
            record.pop_back();
        }
        WriteAll(out, record + "\n");
    }
}
