// The end-to-end harness: the real daemon started in a box (scripts/box) with its fixed paths,
// and exact access to its files, log, system-log records, standard streams and process state.
#include "box.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <mutex>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace e2e {

namespace {

constexpr milliseconds kPollStep{50};
constexpr milliseconds kSetupTimeout{60000};

std::string ErrnoText(const std::string& what) {
    return what + ": " + strerror(errno);
}

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what);
}

// Closes a descriptor when it goes out of scope.
class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_;
};

// Pids of boxes that are running in this process; the reaping at Stop() leaves them alone.
std::mutex liveMutex;
std::set<pid_t> liveBoxes;

int OpenAt2(int dirFd, const std::string& path, int flags) {
    open_how how;
    memset(&how, 0, sizeof how);
    how.flags = static_cast<uint64_t>(flags | O_CLOEXEC);
    // Absolute paths and every symlink resolve inside the box, never on the host.
    how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
    for (;;) {
        long fd = syscall(SYS_openat2, dirFd, path.c_str(), &how, sizeof how);
        if (fd >= 0 || errno != EAGAIN) {
            return static_cast<int>(fd);
        }
    }
}

// "/a/b/c" -> "/a/b" and "c". Only plain absolute paths are accepted.
void SplitPath(const std::string& path, std::string* parent, std::string* name) {
    std::string clean = path;
    while (clean.size() > 1 && clean.back() == '/') {
        clean.pop_back();
    }
    if (clean.empty() || clean[0] != '/' || clean == "/") {
        Fail("not an absolute path below /: '" + path + "'");
    }
    size_t slash = clean.rfind('/');
    *parent = slash == 0 ? "/" : clean.substr(0, slash);
    *name = clean.substr(slash + 1);
    if (*name == "." || *name == "..") {
        Fail("path must not end in . or ..: '" + path + "'");
    }
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return text;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
}

void WriteAll(int fd, const std::string& text, const std::string& what) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            Fail(ErrnoText("write " + what));
        }
        done += static_cast<size_t>(n);
    }
}

std::string MemfdText(int fd) {
    if (fd < 0) {
        return "";
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        return "";
    }
    std::string text(static_cast<size_t>(st.st_size), '\0');
    ssize_t n = pread(fd, &text[0], text.size(), 0);
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return text;
}

// Fields of /proc/PID/stat after the command name: state and ppid.
bool ProcStat(pid_t pid, char* state, pid_t* ppid) {
    std::string text = HostFileText("/proc/" + std::to_string(pid) + "/stat");
    size_t close = text.rfind(')');
    if (close == std::string::npos) {
        return false;
    }
    std::istringstream fields(text.substr(close + 1));
    long parent = 0;
    fields >> *state >> parent;
    *ppid = static_cast<pid_t>(parent);
    return static_cast<bool>(fields);
}

std::vector<pid_t> AllPids() {
    std::vector<pid_t> pids;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return pids;
    }
    while (dirent* entry = readdir(proc)) {
        if (entry->d_name[0] >= '1' && entry->d_name[0] <= '9') {
            pids.push_back(static_cast<pid_t>(atoi(entry->d_name)));
        }
    }
    closedir(proc);
    return pids;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void RemoveAt(int dirFd, const std::string& name, const std::string& shown) {
    struct stat st;
    if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) {
            return;
        }
        Fail(ErrnoText("stat " + shown));
    }
    if (S_ISDIR(st.st_mode)) {
        int fd = openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            Fail(ErrnoText("open " + shown));
        }
        DIR* dir = fdopendir(fd);
        if (dir == nullptr) {
            close(fd);
            Fail(ErrnoText("read " + shown));
        }
        std::vector<std::string> entries;
        while (dirent* entry = readdir(dir)) {
            std::string child = entry->d_name;
            if (child != "." && child != "..") {
                entries.push_back(child);
            }
        }
        for (const std::string& child : entries) {
            RemoveAt(dirfd(dir), child, shown + "/" + child);
        }
        closedir(dir);
        if (unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
            Fail(ErrnoText("remove " + shown));
        }
    } else if (unlinkat(dirFd, name.c_str(), 0) != 0 && errno != ENOENT) {
        Fail(ErrnoText("remove " + shown));
    }
}

// Matches the whole prefix "<ctime text> [<pid>] " at the start of a line.
const std::regex& PrefixPattern() {
    static const std::regex pattern(
        R"(^[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d \d{4} \[(\d+)\] )");
    return pattern;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// A descriptor number of at least 10, so the child's dup2 onto 0 to 3 never meets itself.
int HighCopy(int fd) {
    int copy = fcntl(fd, F_DUPFD_CLOEXEC, 10);
    if (copy < 0) {
        Fail(ErrnoText("dup"));
    }
    return copy;
}

}  // namespace

std::string HostFileText(const std::string& path) {
    Fd file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    return file.get() >= 0 ? ReadAll(file.get()) : "";
}

bool WaitUntil(const std::function<bool()>& done, milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(kPollStep);
    }
    return done();
}

// ------------------------------------------------------------------ configuration

// VIGILERD_E2E_DAEMON replaces the built daemon (scripts/cross: one for another CPU); with
// VIGILERD_E2E_WRAPPER, the wrapper becomes /usr/sbin/vigilerd and execs that daemon, installed
// as /usr/sbin/vigilerd.real, so that the daemon keeps the pid the box started.
Box::Box() {
    confs_.push_back(SOURCE_DIR "/tests/e2e/conf/minimal");
    const char* daemon = getenv("VIGILERD_E2E_DAEMON");
    const char* wrapper = getenv("VIGILERD_E2E_WRAPPER");
    daemon = daemon != nullptr && *daemon != '\0' ? daemon : VIGILERD_BIN;
    if (wrapper != nullptr && *wrapper != '\0') {
        installs_.emplace_back(daemon, "/usr/sbin/vigilerd.real");
        daemon = wrapper;
    }
    installs_.emplace_back(daemon, "/usr/sbin/vigilerd");
}

Box::~Box() {
    Stop();
    for (int* fd : {&stdoutFd_, &stderrFd_}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
}

Box& Box::ClearConf() {
    confs_.clear();
    return *this;
}

Box& Box::AddConf(const std::string& dir) {
    confs_.push_back(dir);
    return *this;
}

Box& Box::Install(const std::string& hostFile, const std::string& boxPath) {
    installs_.emplace_back(hostFile, boxPath);
    return *this;
}

Box& Box::InstallTool(const std::string& name) {
    return Install(std::string(TOOLS_DIR) + "/" + name, "/usr/bin/" + name);
}

Box& Box::Place(const std::string& path, const std::string& content, mode_t mode) {
    steps_.push_back({Step::kPlace, path, content, mode, nullptr});
    return *this;
}

Box& Box::PlaceDir(const std::string& path, mode_t mode) {
    steps_.push_back({Step::kPlaceDir, path, "", mode, nullptr});
    return *this;
}

Box& Box::Unplace(const std::string& path) {
    steps_.push_back({Step::kUnplace, path, "", 0, nullptr});
    return *this;
}

Box& Box::Prepare(const std::string& command) {
    steps_.push_back({Step::kPrepare, "", command, 0, nullptr});
    return *this;
}

Box& Box::BeforeCommand(std::function<void(Box&)> hook) {
    steps_.push_back({Step::kCall, "", "", 0, std::move(hook)});
    return *this;
}

Box& Box::BbramKb(int kb) {
    bbramKb_ = kb;
    return *this;
}

Box& Box::FlashfsKb(int kb) {
    flashfsKb_ = kb;
    return *this;
}

Box& Box::Command(const std::vector<std::string>& argv) {
    command_ = argv;
    return *this;
}

// ------------------------------------------------------------------ start and stop

void Box::Start() {
    if (pid_ > 0 || stderrFd_ >= 0) {
        Fail("a box starts only once");
    }
    if (command_.empty()) {
        Fail("no command");
    }
    // Processes the daemon leaves behind come to this process, which reaps them at Stop().
    prctl(PR_SET_CHILD_SUBREAPER, 1);

    std::vector<std::string> args = {
        "/bin/bash",    SOURCE_DIR "/scripts/box", "--sync-fd",  "3",
        "--sink",       TOOLS_DIR "/syslog_sink",  "--bbram-kb", std::to_string(bbramKb_),
        "--flashfs-kb", std::to_string(flashfsKb_)};
    for (const std::string& conf : confs_) {
        args.insert(args.end(), {"--conf", conf});
    }
    for (const auto& install : installs_) {
        args.insert(args.end(), {"--install", install.first + ":" + install.second});
    }
    args.push_back("--");
    args.insert(args.end(), command_.begin(), command_.end());
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(&arg[0]);
    }
    argv.push_back(nullptr);

    stdoutFd_ = memfd_create("box-stdout", MFD_CLOEXEC);
    stderrFd_ = memfd_create("box-stderr", MFD_CLOEXEC);
    if (stdoutFd_ < 0 || stderrFd_ < 0) {
        Fail(ErrnoText("memfd_create"));
    }
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        Fail(ErrnoText("socketpair"));
    }
    Fd sync(pair[0]);
    Fd boxEnd(HighCopy(pair[1]));
    close(pair[1]);
    Fd devNull(open("/dev/null", O_RDONLY | O_CLOEXEC));
    Fd nullIn(HighCopy(devNull.get()));
    Fd out(HighCopy(stdoutFd_));
    Fd err(HighCopy(stderrFd_));

    pid_t parent = getpid();
    pid_t child = fork();
    if (child < 0) {
        Fail(ErrnoText("fork"));
    }
    if (child == 0) {
        // Only async-signal-safe calls from here to exec.
        setsid();
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(126);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (dup2(nullIn.get(), 0) < 0 || dup2(out.get(), 1) < 0 || dup2(err.get(), 2) < 0 ||
            dup2(boxEnd.get(), 3) < 0) {
            _exit(126);
        }
        close_range(4, ~0U, 0);
        execv(argv[0], argv.data());
        _exit(127);
    }
    pid_ = child;
    {
        std::lock_guard<std::mutex> lock(liveMutex);
        liveBoxes.insert(pid_);
    }
    close(boxEnd.release());

    // The box script says "ready" once the root is built, then waits for "go".
    std::string answer;
    auto deadline = std::chrono::steady_clock::now() + kSetupTimeout;
    while (answer.find('\n') == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) {
            Abort("the box was not ready in time");
        }
        timeval step{0, 50000};
        setsockopt(sync.get(), SOL_SOCKET, SO_RCVTIMEO, &step, sizeof step);
        char c;
        ssize_t n = recv(sync.get(), &c, 1, 0);
        if (n == 1) {
            answer += c;
        } else if (n == 0) {
            Abort("the box script ended before the box was ready");
        }
    }
    if (answer != "ready\n") {
        Abort("unexpected answer from the box script: " + answer);
    }

    std::string proc = "/proc/" + std::to_string(pid_);
    rootFd_ = open((proc + "/root").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    mntNs_ = open((proc + "/ns/mnt").c_str(), O_RDONLY | O_CLOEXEC);
    netNs_ = open((proc + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
    ipcNs_ = open((proc + "/ns/ipc").c_str(), O_RDONLY | O_CLOEXEC);
    if (rootFd_ < 0 || mntNs_ < 0 || netNs_ < 0 || ipcNs_ < 0) {
        Abort(ErrnoText("open the box's namespaces"));
    }
    // Writes are allowed only into directories of these file systems, all of them the box's own.
    for (const char* tree : {"/etc", "/usr/bin", "/usr/sbin", "/run", "/var/log", "/tmp", "/mnt",
                             "/mnt/bbram", "/mnt/flashfs"}) {
        Fd dir(OpenAt2(rootFd_, tree, O_PATH | O_DIRECTORY));
        struct stat st;
        if (dir.get() < 0 || fstat(dir.get(), &st) != 0) {
            Abort(ErrnoText(std::string("open ") + tree + " in the box"));
        }
        privateDevices_.insert(st.st_dev);
    }
    Fd rootDir(OpenAt2(rootFd_, "/", O_PATH | O_DIRECTORY));
    struct stat rootStat;
    if (rootDir.get() < 0 || fstat(rootDir.get(), &rootStat) != 0 ||
        privateDevices_.count(rootStat.st_dev) != 0) {
        Abort("the box's private trees are not mounted");
    }
    std::string sinkPid;
    if (TryRead("/run/.box/sink.pid", &sinkPid)) {
        sinkPid_ = static_cast<pid_t>(atoi(sinkPid.c_str()));
    }

    try {
        for (const Step& step : steps_) {
            switch (step.kind) {
                case Step::kPlace:
                    Write(step.path, step.content, step.mode);
                    break;
                case Step::kPlaceDir:
                    Mkdir(step.path, step.mode);
                    break;
                case Step::kUnplace:
                    Remove(step.path);
                    break;
                case Step::kPrepare: {
                    ExecResult result = Exec(step.content);
                    if (result.code != 0) {
                        Fail("preparation '" + step.content + "' exited with " +
                             std::to_string(result.code) + ": " + result.output);
                    }
                    break;
                }
                case Step::kCall:
                    step.call(*this);
                    break;
            }
        }
    } catch (const std::exception& e) {
        Abort(e.what());
    }

    struct stat scriptExe;
    bool haveScriptExe = stat((proc + "/exe").c_str(), &scriptExe) == 0;
    if (send(sync.get(), "go\n", 3, MSG_NOSIGNAL) != 3) {
        Abort(ErrnoText("start the command"));
    }
    // The script closes its end right before it execs the command: wait for that, then for
    // the new process image.
    WaitUntil(
        [&] {
            char c;
            return recv(sync.get(), &c, 1, MSG_DONTWAIT) == 0 || !Alive();
        },
        kSetupTimeout);
    WaitUntil(
        [&] {
            struct stat now;
            return !Alive() || !haveScriptExe || stat((proc + "/exe").c_str(), &now) != 0 ||
                   !SameFile(now, scriptExe);
        },
        milliseconds(5000));
}

void Box::Abort(const std::string& why) {
    std::string err = MemfdText(stderrFd_);
    Stop();
    Fail("box: " + why + (err.empty() ? "" : "\n--- box standard error:\n" + err));
}

void Box::KillEverything() {
    kill(-pid_, SIGKILL);
    struct stat net {
    }, mnt{};
    bool haveNet = netNs_ >= 0 && fstat(netNs_, &net) == 0;
    bool haveMnt = mntNs_ >= 0 && fstat(mntNs_, &mnt) == 0;
    std::set<pid_t> found = {pid_};
    if (sinkPid_ > 0) {
        found.insert(sinkPid_);
    }
    // Whatever left the process group is still in the box's namespaces.
    pid_t self = getpid();
    for (int round = 0; round < 500 && (haveNet || haveMnt); ++round) {
        bool any = false;
        for (pid_t pid : AllPids()) {
            if (pid == self) {
                continue;
            }
            std::string ns = "/proc/" + std::to_string(pid) + "/ns/";
            struct stat st;
            bool member = (haveNet && stat((ns + "net").c_str(), &st) == 0 && SameFile(st, net)) ||
                          (haveMnt && stat((ns + "mnt").c_str(), &st) == 0 && SameFile(st, mnt));
            if (member) {
                kill(pid, SIGKILL);
                found.insert(pid);
                any = true;
            }
        }
        if (!any) {
            break;
        }
        std::this_thread::sleep_for(milliseconds(10));
    }

    int status;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    // Every dead box process is now a zombie of this process (the subreaper) or gone.
    std::set<pid_t> others;
    {
        std::lock_guard<std::mutex> lock(liveMutex);
        liveBoxes.erase(pid_);
        others = liveBoxes;
    }
    auto deadline = std::chrono::steady_clock::now() + milliseconds(5000);
    for (;;) {
        bool pending = false;
        for (pid_t pid : found) {
            if (pid == pid_ || others.count(pid) != 0) {
                continue;
            }
            pid_t reaped = waitpid(pid, &status, WNOHANG);
            if (reaped == 0 || (reaped < 0 && errno == ECHILD &&
                                access(("/proc/" + std::to_string(pid)).c_str(), F_OK) == 0)) {
                pending = true;  // still dying, or not yet handed to this process
            }
        }
        for (pid_t pid : AllPids()) {
            char state;
            pid_t ppid;
            if (others.count(pid) == 0 && ProcStat(pid, &state, &ppid) && ppid == self &&
                state == 'Z' && found.count(pid) == 0) {
                waitpid(pid, &status, WNOHANG);
            }
        }
        if (!pending || std::chrono::steady_clock::now() > deadline) {
            break;
        }
        std::this_thread::sleep_for(milliseconds(10));
    }
}

void Box::CloseAll() {
    for (int* fd : {&rootFd_, &mntNs_, &netNs_, &ipcNs_}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
    privateDevices_.clear();
}

void Box::Stop() {
    if (pid_ <= 0) {
        return;
    }
    KillEverything();
    CloseAll();
    pid_ = -1;
    sinkPid_ = -1;
}

void Box::CheckRunning(const char* what) const {
    if (rootFd_ < 0) {
        Fail(std::string(what) + ": the box is not running");
    }
}

// ------------------------------------------------------------------ files

int Box::OpenPath(const std::string& path, int flags) const {
    CheckRunning("open");
    if (path.empty() || path[0] != '/') {
        Fail("not an absolute path: '" + path + "'");
    }
    return OpenAt2(rootFd_, path, flags);
}

int Box::OpenDirForWriting(const std::string& path) const {
    Fd dir(OpenPath(path, O_PATH | O_DIRECTORY));
    if (dir.get() < 0) {
        Fail(ErrnoText("open " + path + " in the box"));
    }
    struct stat st;
    if (fstat(dir.get(), &st) != 0) {
        Fail(ErrnoText("stat " + path));
    }
    if (privateDevices_.count(st.st_dev) == 0) {
        Fail("refusing to write " + path + ": outside the box's private trees");
    }
    return dir.release();
}

void Box::Mkdir(const std::string& path, mode_t mode) {
    if (IsDir(path)) {
        return;
    }
    std::string parent, name;
    SplitPath(path, &parent, &name);
    if (parent != "/") {
        Mkdir(parent, 0755);
    }
    Fd dir(OpenDirForWriting(parent));
    if (mkdirat(dir.get(), name.c_str(), mode) != 0) {
        Fail(ErrnoText("mkdir " + path));
    }
    fchmodat(dir.get(), name.c_str(), mode, 0);
}

void Box::Write(const std::string& path, const std::string& content, mode_t mode) {
    std::string parent, name;
    SplitPath(path, &parent, &name);
    Mkdir(parent, 0755);
    Fd dir(OpenDirForWriting(parent));
    Fd file(openat(dir.get(), name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                   mode));
    if (file.get() < 0) {
        Fail(ErrnoText("create " + path));
    }
    fchmod(file.get(), mode);
    WriteAll(file.get(), content, path);
}

void Box::Append(const std::string& path, const std::string& content) {
    std::string parent, name;
    SplitPath(path, &parent, &name);
    Mkdir(parent, 0755);
    Fd dir(OpenDirForWriting(parent));
    Fd file(openat(dir.get(), name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC,
                   0644));
    if (file.get() < 0) {
        Fail(ErrnoText("open " + path));
    }
    WriteAll(file.get(), content, path);
}

bool Box::TryRead(const std::string& path, std::string* content) const {
    Fd file(OpenPath(path, O_RDONLY));
    if (file.get() < 0) {
        return false;
    }
    *content = ReadAll(file.get());
    return true;
}

std::string Box::Read(const std::string& path) const {
    std::string content;
    if (!TryRead(path, &content)) {
        Fail(ErrnoText("read " + path + " in the box"));
    }
    return content;
}

bool Box::Exists(const std::string& path) const {
    return Fd(OpenPath(path, O_PATH)).get() >= 0;
}

bool Box::IsDir(const std::string& path) const {
    return Fd(OpenPath(path, O_PATH | O_DIRECTORY)).get() >= 0;
}

void Box::Remove(const std::string& path) {
    std::string parent, name;
    SplitPath(path, &parent, &name);
    if (!IsDir(parent)) {
        return;
    }
    Fd dir(OpenDirForWriting(parent));
    RemoveAt(dir.get(), name, path);
}

// ------------------------------------------------------------------ commands in the box

ExecResult Box::Exec(const std::string& command, milliseconds timeout) const {
    CheckRunning("exec");
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        Fail(ErrnoText("pipe"));
    }
    Fd reader(pipeFds[0]);
    Fd writer(HighCopy(pipeFds[1]));
    close(pipeFds[1]);
    Fd devNull(open("/dev/null", O_RDONLY | O_CLOEXEC));
    Fd nullIn(HighCopy(devNull.get()));
    pid_t parent = getpid();
    pid_t child = fork();
    if (child < 0) {
        Fail(ErrnoText("fork"));
    }
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(126);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (dup2(nullIn.get(), 0) < 0 || dup2(writer.get(), 1) < 0 || dup2(writer.get(), 2) < 0) {
            _exit(126);
        }
        // A sanitizer runtime may run a thread of its own in the child; joining a mount
        // namespace needs file-system attributes that no other thread shares.
        const char* failed = unshare(CLONE_FS) != 0             ? "fs"
                             : setns(ipcNs_, CLONE_NEWIPC) != 0 ? "ipc"
                             : setns(netNs_, CLONE_NEWNET) != 0 ? "net"
                             : setns(mntNs_, CLONE_NEWNS) != 0  ? "mnt"
                                                                : nullptr;
        if (failed != nullptr) {
            dprintf(2, "box: cannot enter the box's %s namespace: %s\n", failed, strerror(errno));
            _exit(126);
        }
        close_range(3, ~0U, 0);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(writer.release());

    ExecResult result;
    fcntl(reader.get(), F_SETFL, O_NONBLOCK);
    auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    bool exited = false;
    bool eof = false;
    char buffer[65536];
    while (!eof) {
        ssize_t n = read(reader.get(), buffer, sizeof buffer);
        if (n > 0) {
            result.output.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n == 0) {
            eof = true;
            break;
        }
        if (errno != EAGAIN && errno != EINTR) {
            break;
        }
        if (exited) {
            break;  // drained; a background process may still hold the pipe
        }
        if (waitpid(child, &status, WNOHANG) == child) {
            exited = true;
            continue;  // read what it wrote last
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            result.code = -1;
            return result;
        }
        std::this_thread::sleep_for(milliseconds(5));
    }
    if (!exited) {
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

// ------------------------------------------------------------------ the daemon process

void Box::Signal(int sig) const {
    if (pid_ <= 0 || kill(pid_, sig) != 0) {
        Fail(ErrnoText("signal " + std::to_string(sig)));
    }
}

bool Box::Alive() const {
    char state;
    pid_t ppid;
    return pid_ > 0 && ProcStat(pid_, &state, &ppid) && state != 'Z' && state != 'X';
}

bool Box::WaitForDeath(milliseconds timeout) const {
    return WaitUntil([&] { return !Alive(); }, timeout);
}

int Box::ThreadCount() const {
    if (pid_ <= 0) {
        return -1;
    }
    std::istringstream in(HostFileText("/proc/" + std::to_string(pid_) + "/status"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 8, "Threads:") == 0) {
            return atoi(line.c_str() + 8);
        }
    }
    return -1;
}

std::vector<pid_t> Box::Children() const {
    std::vector<pid_t> children;
    if (pid_ <= 0) {
        return children;
    }
    for (pid_t pid : AllPids()) {
        char state;
        pid_t ppid;
        if (pid != sinkPid_ && ProcStat(pid, &state, &ppid) && ppid == pid_) {
            children.push_back(pid);
        }
    }
    return children;
}

std::string Box::Stdout() const {
    return MemfdText(stdoutFd_);
}

std::string Box::Stderr() const {
    return MemfdText(stderrFd_);
}

// ------------------------------------------------------------------ the log

std::string Box::LogText() const {
    std::string text;
    return TryRead("/var/log/vigilerd.log", &text) ? text : "";
}

std::vector<std::string> Box::LogLines() const {
    return SplitLines(LogText());
}

std::vector<std::string> Box::Messages() const {
    std::vector<std::string> messages;
    std::smatch match;
    for (const std::string& line : LogLines()) {
        if (std::regex_search(line, match, PrefixPattern())) {
            messages.push_back(line.substr(match.length(0)));
        } else if (!messages.empty()) {
            messages.back() += "\n" + line;
        } else {
            messages.push_back(line);
        }
    }
    return messages;
}

int Box::Count(const std::string& message) const {
    int count = 0;
    for (const std::string& m : Messages()) {
        count += m == message ? 1 : 0;
    }
    return count;
}

int Box::WaitForMessage(const std::string& message, milliseconds timeout, int from) const {
    int found = -1;
    WaitUntil(
        [&] {
            std::vector<std::string> messages = Messages();
            for (size_t i = std::max(from, 0); i < messages.size(); ++i) {
                if (messages[i] == message) {
                    found = static_cast<int>(i);
                    return true;
                }
            }
            return false;
        },
        timeout);
    return found;
}

int Box::WaitForMessageContaining(const std::string& part, milliseconds timeout, int from) const {
    int found = -1;
    WaitUntil(
        [&] {
            std::vector<std::string> messages = Messages();
            for (size_t i = std::max(from, 0); i < messages.size(); ++i) {
                if (messages[i].find(part) != std::string::npos) {
                    found = static_cast<int>(i);
                    return true;
                }
            }
            return false;
        },
        timeout);
    return found;
}

bool Box::WaitForCount(const std::string& message, int count, milliseconds timeout) const {
    return WaitUntil([&] { return Count(message) >= count; }, timeout);
}

::testing::AssertionResult Box::LogLinesWhole(size_t fromLine) const {
    std::string text = LogText();
    if (!text.empty() && text.back() != '\n') {
        return ::testing::AssertionFailure() << "the log does not end in a newline:\n" << text;
    }
    std::vector<std::string> lines = SplitLines(text);
    std::smatch match;
    for (size_t i = fromLine; i < lines.size(); ++i) {
        if (!std::regex_search(lines[i], match, PrefixPattern())) {
            return ::testing::AssertionFailure()
                   << "log line " << i << " has no time and pid prefix: '" << lines[i] << "'";
        }
        if (match[1].str() != std::to_string(pid_)) {
            return ::testing::AssertionFailure()
                   << "log line " << i << " names pid " << match[1] << ", the daemon is " << pid_
                   << ": '" << lines[i] << "'";
        }
    }
    return ::testing::AssertionSuccess();
}

// ------------------------------------------------------------------ system log

std::vector<std::string> Box::AlertRecords() const {
    std::string text;
    return TryRead("/run/box/syslog.log", &text) ? SplitLines(text) : std::vector<std::string>();
}

int Box::WaitForAlert(const std::string& part, milliseconds timeout, int from) const {
    int found = -1;
    WaitUntil(
        [&] {
            std::vector<std::string> records = AlertRecords();
            for (size_t i = std::max(from, 0); i < records.size(); ++i) {
                if (records[i].find(part) != std::string::npos) {
                    found = static_cast<int>(i);
                    return true;
                }
            }
            return false;
        },
        timeout);
    return found;
}

// ------------------------------------------------------------------ diagnostics

std::string Box::Dump() const {
    auto tail = [](const std::string& text) {
        const size_t keep = 16384;
        return text.size() <= keep ? text : "[...]\n" + text.substr(text.size() - keep);
    };
    std::ostringstream out;
    out << "=== box: pid " << pid_ << (Alive() ? " alive" : " not running");
    if (Alive()) {
        out << ", " << ThreadCount() << " threads, children:";
        for (pid_t child : Children()) {
            out << ' ' << child;
        }
    }
    out << "\n";
    if (rootFd_ >= 0) {
        out << "--- /var/log/vigilerd.log\n" << tail(LogText());
        std::string text;
        if (TryRead("/run/box/syslog.log", &text)) {
            out << "--- system log records\n" << tail(text);
        }
    }
    out << "--- standard output\n" << tail(Stdout()) << "--- standard error\n" << tail(Stderr());
    return out.str();
}

void BoxTest::TearDown() {
    if (HasFailure()) {
        std::cerr << box.Dump();
    }
    box.Stop();
    std::string err = box.Stderr();
    EXPECT_EQ(err.find("Sanitizer"), std::string::npos) << err;
    EXPECT_EQ(err.find("runtime error:"), std::string::npos) << err;
}

}  // namespace e2e
