// Event channel: the alert message's form and the record that reaches the system log socket.
// /dev/log here is the test's private overlay, so the listener never meets the host's logger.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/alert_event.h"

namespace {

using testing::HasSubstr;
using testing::StartsWith;

constexpr const char* kLogSocket = "/dev/log";

// A system-log reader bound at /dev/log for the life of the object.
class LogSocket {
  public:
    explicit LogSocket(int type) {
        unlink(kLogSocket);
        fd_ = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
        struct sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        strncpy(address.sun_path, kLogSocket, sizeof address.sun_path - 1);
        bound_ = fd_ >= 0 &&
                 bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                 (type != SOCK_STREAM || listen(fd_, 4) == 0);
    }
    ~LogSocket() { Close(); }

    bool Bound() const { return bound_; }
    int Fd() const { return fd_; }

    void Close() {
        if (fd_ >= 0) {
            close(fd_);
            unlink(kLogSocket);
            fd_ = -1;
        }
    }

    // One datagram, or "" when none comes within `ms`.
    std::string Receive(int ms) const { return ReceiveFrom(fd_, ms); }

    static std::string ReceiveFrom(int fd, int ms) {
        struct pollfd ready = {fd, POLLIN, 0};
        if (poll(&ready, 1, ms) <= 0) {
            return "";
        }
        char record[8192];
        ssize_t got = recv(fd, record, sizeof record, 0);
        return got > 0 ? std::string(record, static_cast<size_t>(got)) : "";
    }

  private:
    int fd_ = -1;
    bool bound_ = false;
};

std::string ExpectedTail(const std::string& message) {
    return "vigilerd[" + std::to_string(getpid()) + "]: " + message;
}

TEST(AlertEvent, ComposeJoinsSourceTextAndTheExtrasThatHoldSomething) {
    AlertEvent alert;
    alert.Register("system", "Software Watchdog");
    struct Case {
        const char* text;
        const char* a;
        const char* b;
        const char* message;
    } cases[] = {
        {"Warning: Running low on file system space for voice mails. 8.0 percent left.", nullptr,
         nullptr,
         "Software Watchdog: Warning: Running low on file system space for voice mails. 8.0 "
         "percent left."},
        {"reboot", "", "", "Software Watchdog: reboot"},
        {"reboot", "first", nullptr, "Software Watchdog: reboot first"},
        {"reboot", nullptr, "second", "Software Watchdog: reboot second"},
        {"reboot", "", "second", "Software Watchdog: reboot second"},
        {"reboot", "first", "second", "Software Watchdog: reboot first second"},
        {" 100% %s %n ", " a ", nullptr, "Software Watchdog:  100% %s %n   a "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(alert.Compose(c.text, c.a, c.b), c.message) << c.text;
    }
}

TEST(AlertEvent, RaiseSendsOneDaemonAlertRecordHoldingTheMessageVerbatim) {
    LogSocket reader(SOCK_DGRAM);
    ASSERT_TRUE(reader.Bound()) << strerror(errno);
    AlertEvent alert;
    alert.Register("system", "Software Watchdog");

    const char* text =
        "Warning: Running low on file system space for voice mails. 8.0 percent left.";
    EXPECT_NE(alert.Raise(text, nullptr, nullptr), 0);
    std::string record = reader.Receive(5000);
    EXPECT_THAT(record, StartsWith("<25>"));  // LOG_DAEMON (3) * 8 + LOG_ALERT (1)
    EXPECT_THAT(record, HasSubstr(ExpectedTail(alert.Compose(text, nullptr, nullptr))));
    EXPECT_EQ(reader.Receive(200), "") << "more than one record for one Raise";

    // Conversion characters in the text are sent as they are, never interpreted.
    alert.Raise("Error: 100% full %s %n %d", "", "");
    record = reader.Receive(5000);
    EXPECT_THAT(record, StartsWith("<25>"));
    EXPECT_THAT(record, HasSubstr(ExpectedTail("Software Watchdog: Error: 100% full %s %n %d")));
}

TEST(AlertEvent, LogReaderThatGoesAwayNeitherKillsNorBlocksTheRaiser) {
    struct sigaction fatal = {};
    struct sigaction saved;
    fatal.sa_handler = SIG_DFL;  // a SIGPIPE now would end this test process
    sigaction(SIGPIPE, &fatal, &saved);

    AlertEvent alert;
    alert.Register("system", "Software Watchdog");
    {
        LogSocket listener(SOCK_STREAM);
        ASSERT_TRUE(listener.Bound()) << strerror(errno);
        alert.Raise("first", nullptr, nullptr);
        struct pollfd ready = {listener.Fd(), POLLIN, 0};
        ASSERT_EQ(poll(&ready, 1, 5000), 1);
        int connection = accept4(listener.Fd(), nullptr, nullptr, SOCK_CLOEXEC);
        ASSERT_GE(connection, 0);
        EXPECT_THAT(LogSocket::ReceiveFrom(connection, 5000),
                    HasSubstr(ExpectedTail("Software Watchdog: first")));
        close(connection);
    }
    // The reader is gone: these records are lost, quietly.
    alert.Raise("second", nullptr, nullptr);
    alert.Raise("third", nullptr, nullptr);

    // A new reader gets the next record.
    LogSocket reader(SOCK_DGRAM);
    ASSERT_TRUE(reader.Bound());
    alert.Raise("fourth", nullptr, nullptr);
    EXPECT_THAT(reader.Receive(5000), HasSubstr(ExpectedTail("Software Watchdog: fourth")));
    sigaction(SIGPIPE, &saved, nullptr);
}

}  // namespace
