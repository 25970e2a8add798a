// The end-to-end harness: the real daemon started in a box (scripts/box) with its fixed paths,
// and access to the box's files, the daemon's log, its system-log records and its process.
#include "box.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <regex>
#include <thread>

namespace e2e {
namespace {

void Must(bool ok, const std::string& what) {
    if (!ok)
        throw std::runtime_error(what + ": " + strerror(errno));
}

// Absolute paths and every symlink resolve inside the box's root, never on the host.
int OpenIn(int root, const std::string& path, int flags) {
    open_how how{static_cast<uint64_t>(flags | O_CLOEXEC), 0,
                 RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS};
    return static_cast<int>(syscall(SYS_openat2, root, path.c_str(), &how, sizeof how));
}

std::string ReadFd(int fd) {
    std::string text;
    char buffer[65536];
    for (ssize_t n; fd >= 0 && (n = read(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, n);
    close(fd);
    return text;
}

const std::regex kPrefix(R"(^[A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d \d{4} \[(\d+)\] )");

}  // namespace

bool WaitUntil(const std::function<bool()>& done, milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(milliseconds(20));
    }
    return true;
}

// The built daemon and voice_lock_holder. VIGILERD_E2E_DAEMON replaces the built daemon
// (scripts/cross: one for another CPU); with VIGILERD_E2E_WRAPPER, the wrapper becomes
// /usr/sbin/vigilerd and execs that daemon, installed as /usr/sbin/vigilerd.real, so that the
// daemon keeps the pid the box started.
Box::Box() {
    const char* daemon = getenv("VIGILERD_E2E_DAEMON");
    const char* wrapper = getenv("VIGILERD_E2E_WRAPPER");
    daemon = daemon != nullptr && *daemon != '\0' ? daemon : VIGILERD_BIN;
    if (wrapper != nullptr && *wrapper != '\0')
        installs_ = {{daemon, "/usr/sbin/vigilerd.real"}, {wrapper, "/usr/sbin/vigilerd"}};
    else
        installs_ = {{daemon, "/usr/sbin/vigilerd"}};
    Install(TOOLS_DIR "/voice_lock_holder", "/usr/bin/voice_lock_holder");
}

Box::~Box() {
    Stop(), close(stderrFd_);
}

Box& Box::Prepare(const std::string& command) {
    return steps_.push_back([=](Box& box) {
        ExecResult result = box.Exec(command);
        Must(result.code == 0, command + " gave " + result.output);
    }),
           *this;
}

void Box::Start() {
    // Processes the daemon leaves behind come to this process, which reaps them at Stop().
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    std::vector<std::string> args = {
        "/bin/bash",    SOURCE_DIR "/scripts/box", "--sync-fd",  "3",
        "--sink",       TOOLS_DIR "/syslog_sink",  "--bbram-kb", std::to_string(bbramKb_),
        "--flashfs-kb", std::to_string(flashfsKb_), "--conf", SOURCE_DIR "/tests/e2e/conf/minimal"};
    for (const auto& [from, to] : installs_)
        args.insert(args.end(), {"--install", from + ":" + to});
    args.insert(args.end(), {"--", "/usr/sbin/vigilerd"});
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    int sync[2], devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    stderrFd_ = memfd_create("stderr", MFD_CLOEXEC);
    Must(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sync) == 0 && stderrFd_ > 0, "start");
    pid_t parent = getpid();
    if ((pid_ = fork()) == 0) {  // only async-signal-safe calls from here to exec
        setsid();
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        int fds[] = {fcntl(devNull, F_DUPFD, 10), fcntl(stderrFd_, F_DUPFD, 10),
                     fcntl(sync[1], F_DUPFD, 10)};
        if (dup2(fds[0], 0) == 0 && dup2(fds[1], 1) == 1 && dup2(fds[1], 2) == 2 &&
            dup2(fds[2], 3) == 3 && close_range(4, ~0U, 0) == 0 && getppid() == parent)
            execv(argv[0], argv.data());
        _exit(127);
    }
    close(sync[1]);
    close(devNull);
    std::string answer, proc = "/proc/" + std::to_string(pid_);
    pollfd ready{sync[0], POLLIN, 0};
    for (char c; answer.find('\n') == std::string::npos && poll(&ready, 1, 60000) == 1 &&
                 read(sync[0], &c, 1) == 1;)
        answer += c;
    rootFd_ = open((proc + "/root").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    std::string kinds[] = {"mnt", "net", "ipc"};
    for (int i = 0; i < 3; ++i)
        ns_[i] = open((proc + "/ns/" + kinds[i]).c_str(), O_RDONLY | O_CLOEXEC);
    struct stat before, now;
    try {
        Must(answer == "ready\n" && rootFd_ >= 0, "the box did not come up:\n" + Stderr());
        // Writes go only into directories of these file systems, all of them the box's own.
        for (const char* tree : {"/etc", "/usr/bin", "/usr/sbin", "/run", "/var/log", "/tmp",
                                 "/mnt", "/mnt/bbram", "/mnt/flashfs", "/"}) {
            int fd = OpenIn(rootFd_, tree, O_PATH);
            Must(fstat(fd, &now) == 0 && close(fd) == 0, tree);
            private_.push_back(now.st_dev);
        }
        Must(std::count(private_.begin(), private_.end(), now.st_dev) == 1, "no private trees");
        private_.pop_back();
        sinkPid_ = atoi(Read("/run/.box/sink.pid").c_str());
        for (auto& step : steps_)
            step(*this);
    } catch (...) {
        close(sync[0]);
        Stop();
        throw;
    }
    // "go" lets the box script exec the command; Start() returns once it has.
    stat((proc + "/exe").c_str(), &before);
    Must(write(sync[0], "go\n", 3) == 3 && close(sync[0]) == 0, "start the command");
    WaitUntil(
        [&] { return stat((proc + "/exe").c_str(), &now) != 0 || now.st_ino != before.st_ino; });
}

void Box::Stop() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        // The log listener, now a child of this process, ends the rest of the box, then itself.
        WaitUntil([&] { return sinkPid_ <= 0 || waitpid(sinkPid_, nullptr, WNOHANG) != 0; });
        while (waitpid(-1, nullptr, WNOHANG) > 0)
            continue;
    }
    for (int* fd : {&rootFd_, &ns_[0], &ns_[1], &ns_[2]})
        close(*fd), *fd = -1;
    pid_ = -1;
}

void Box::Write(const std::string& path, const std::string& content, mode_t mode) {
    size_t slash = path.rfind('/');
    Must(rootFd_ >= 0 && path[0] == '/' && slash + 1 < path.size(), "bad path " + path);
    std::string name = path.substr(slash + 1), parent = path.substr(0, std::max<size_t>(slash, 1));
    if (!Exists(parent))
        Exec("mkdir -p '" + parent + "'");
    int dir = OpenIn(rootFd_, parent, O_PATH | O_DIRECTORY);
    struct stat st;
    bool own = dir >= 0 && fstat(dir, &st) == 0 &&
               std::count(private_.begin(), private_.end(), st.st_dev) != 0;
    Must(own || (close(dir), false), "refusing to write below " + parent);
    unlinkat(dir, name.c_str(), 0);  // a link is replaced, never followed
    int fd = openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    close(dir);
    bool ok = fd >= 0 && fchmod(fd, mode) == 0 &&
              write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    Must(close(fd) == 0 && ok, "write " + path);
}

std::string Box::Read(const std::string& path) const {
    return rootFd_ < 0 ? "" : ReadFd(OpenIn(rootFd_, path, O_RDONLY));
}

bool Box::Exists(const std::string& path) const {
    return close(rootFd_ < 0 ? -1 : OpenIn(rootFd_, path, O_PATH)) == 0;
}

// `sh -c command` in the box's namespaces, entered through the descriptors this process holds.
ExecResult Box::Exec(const std::string& command, milliseconds timeout) const {
    Must(rootFd_ >= 0, "exec in a box that is not running");
    std::string quoted = std::regex_replace(command, std::regex("'"), "'\\''");
    std::string fds = "/proc/" + std::to_string(getpid()) + "/fd/";
    std::string line = "timeout -s KILL " + std::to_string(timeout.count() / 1000.0) +
                       " nsenter --mount=" + fds + std::to_string(ns_[0]) + " --net=" + fds +
                       std::to_string(ns_[1]) + " --ipc=" + fds + std::to_string(ns_[2]) +
                       " sh -c '" + quoted + "' </dev/null 2>&1";
    FILE* pipe = popen(line.c_str(), "r");
    Must(pipe != nullptr, "exec");
    std::string output = ReadFd(dup(fileno(pipe)));
    int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

void Box::Signal(int sig) const {
    Must(pid_ > 0 && kill(pid_, sig) == 0, "signal " + std::to_string(sig));
}

bool Box::Alive() const {
    std::string state = ProcField("State");
    return !state.empty() && state[0] != 'Z' && state[0] != 'X';
}

std::string Box::Stderr() const {
    std::string text(65536, '\0');
    text.resize(std::max<ssize_t>(pread(stderrFd_, &text[0], text.size(), 0), 0));
    return text;
}

std::string Box::ProcField(const std::string& key) const {
    std::string path = "/proc/" + std::to_string(pid_) + "/status";
    for (const std::string& line :
         Split(ReadFd(pid_ > 0 ? open(path.c_str(), O_RDONLY) : -1), '\n'))
        if (line.rfind(key + ":", 0) == 0)
            return line.substr(key.size() + 2);
    return "";
}

int Box::OpenFds() const {
    std::error_code error;  // -1 once the process is gone
    auto fds = std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/fd", error);
    return error ? -1 : static_cast<int>(std::distance(fds, {}));
}

std::vector<std::string> Box::Messages() const {
    std::vector<std::string> messages;
    std::smatch match;
    for (const std::string& line : Split(LogText(), '\n')) {
        if (std::regex_search(line, match, kPrefix) || messages.empty())
            messages.push_back(match.empty() ? line : match.suffix().str());
        else
            messages.back() += "\n" + line;
    }
    return messages;
}

int Box::WaitForMessage(const std::string& message, milliseconds timeout, int from) const {
    int found = -1;
    WaitUntil([&] {
        std::vector<std::string> all = Messages();
        auto at = std::find(all.begin() + std::min<size_t>(std::max(from, 0), all.size()), all.end(), message);
        return (found = at == all.end() ? -1 : static_cast<int>(at - all.begin())) >= 0;
    }, timeout);
    return found;
}

std::vector<std::string> Box::AlertRecords() const {
    return Split(Read("/run/box/syslog.log"), '\n');
}

std::vector<std::string> Box::Records() const {
    std::vector<std::string> records = AlertRecords();
    const std::regex head("^(<[0-9]+>)[A-Z][a-z]{2} [ 1-3][0-9] [0-9:]{8} vigilerd\\[" +
                          std::to_string(pid_) + "\\]: ");
    for (std::string& record : records)
        record = std::regex_replace(record, head, "$1");
    return records;
}

void BoxTest::TearDown() {
    if (HasFailure())  // log, records and standard error
        std::cerr << "=== box " << box.Pid() << (box.Alive() ? " alive" : " gone") << "\n--- log\n"
                  << box.LogText() << "--- system log\n"
                  << box.Read("/run/box/syslog.log") << "--- stderr\n"
                  << box.Stderr();
    box.Stop();
    EXPECT_FALSE(std::regex_search(box.Stderr(), std::regex("Sanitizer|runtime error:")))
        << box.Stderr();
}

}  // namespace e2e
