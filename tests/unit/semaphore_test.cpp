// Voice lock: taking and giving back, holders in other processes, crashed holders, re-creation.
// The test process has its own IPC namespace, so the sets made here never reach the host.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/semaphore.h"
#include "platform/system.h"

extern char** environ;

namespace {

const std::string kHolder = std::string(TOOLS_DIR) + "/voice_lock_holder";

int VoiceSetId() {
    return semget(ftok("/bin/ls", 37), 1, 0);
}

// Current value of the voice lock's semaphore: 1 free, 0 held, -1 when there is no set.
int VoiceLockValue() {
    int semId = VoiceSetId();
    return semId < 0 ? -1 : semctl(semId, 0, GETVAL);
}

void RemoveVoiceSet() {
    int semId = VoiceSetId();
    if (semId >= 0) {
        semctl(semId, 0, IPC_RMID);
    }
}

// The holder tool running in a process of its own, as the voice subsystem would.
class HolderProcess {
  public:
    explicit HolderProcess(const std::vector<std::string>& arguments = {}) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "pipe2";
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
        std::vector<std::string> words = {kHolder};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(&word[0]);
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, kHolder.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            ADD_FAILURE() << "cannot start " << kHolder;
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(ends[1]);
        out_ = ends[0];
    }

    ~HolderProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            Wait();
        }
        if (out_ >= 0) {
            close(out_);
        }
    }

    // The first line the holder prints ("locked" or "busy"), waiting at most 10 s for it.
    std::string FirstLine() {
        std::string line;
        char c;
        while (line.empty() || line.back() != '\n') {
            struct pollfd ready = {out_, POLLIN, 0};
            if (poll(&ready, 1, 10000) <= 0 || read(out_, &c, 1) != 1) {
                break;
            }
            line += c;
        }
        return line;
    }

    void Kill(int signal) { kill(pid_, signal); }

    // The raw wait status.
    int Wait() {
        int status = -1;
        if (pid_ > 0) {
            while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            pid_ = -1;
        }
        return status;
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
};

class SemaphoreTest : public testing::Test {
  protected:
    void SetUp() override { RemoveVoiceSet(); }
    void TearDown() override { RemoveVoiceSet(); }
};

TEST_F(SemaphoreTest, FreeLockIsTakenOnceAndGivenBack) {
    Semaphore lock(37, "/bin/ls");
    ASSERT_NE(lock.TryLock(true), 0);
    EXPECT_EQ(VoiceLockValue(), 0);

    // The holder nests (a reboot that failed must not lock its own daemon out); another
    // handle is somebody else and gets 0.
    EXPECT_NE(lock.TryLock(true), 0);
    Semaphore other(37, "/bin/ls");
    EXPECT_EQ(other.TryLock(true), 0);
    other.Unlock();  // it took nothing, so it gives nothing back
    EXPECT_EQ(VoiceLockValue(), 0);

    lock.Unlock();
    EXPECT_EQ(VoiceLockValue(), 0) << "one level of nesting is still held";
    lock.Unlock();
    EXPECT_EQ(VoiceLockValue(), 1);
    lock.Unlock();  // a second release must not make room for two holders
    EXPECT_EQ(VoiceLockValue(), 1);

    EXPECT_NE(other.TryLock(true), 0);
    other.Unlock();
    EXPECT_EQ(VoiceLockValue(), 1);
}

TEST_F(SemaphoreTest, HeldByAnotherProcessIsBusyUntilThatProcessIsKilled) {
    Semaphore lock(37, "/bin/ls");
    HolderProcess holder;
    ASSERT_EQ(holder.FirstLine(), "locked\n");
    EXPECT_EQ(lock.TryLock(true), 0);
    EXPECT_EQ(lock.TryLock(true), 0);

    holder.Kill(SIGKILL);
    int status = holder.Wait();
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(VoiceLockValue(), 1);  // the kernel undid the dead holder's hold
    EXPECT_NE(lock.TryLock(true), 0);
    lock.Unlock();
}

TEST_F(SemaphoreTest, HolderThatGivesItBackLeavesItFreeOnce) {
    HolderProcess holder({"1"});
    ASSERT_EQ(holder.FirstLine(), "locked\n");
    Semaphore lock(37, "/bin/ls");
    EXPECT_EQ(lock.TryLock(true), 0);
    int status = holder.Wait();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // Unlock balanced the recorded undo: the exit did not add a second +1.
    EXPECT_EQ(VoiceLockValue(), 1);
    EXPECT_NE(lock.TryLock(true), 0);
    lock.Unlock();
}

TEST_F(SemaphoreTest, UnlockMakesItFreeForAnotherProcess) {
    Semaphore lock(37, "/bin/ls");
    ASSERT_NE(lock.TryLock(true), 0);
    std::string output;
    EXPECT_EQ(System(kHolder + " 0", output), 1);
    EXPECT_EQ(output, "busy\n");

    lock.Unlock();
    EXPECT_EQ(System(kHolder + " 0", output), 0);
    EXPECT_EQ(output, "locked\n");
    EXPECT_EQ(VoiceLockValue(), 1);
}

TEST_F(SemaphoreTest, SetRemovedWhileOpenIsCreatedAgain) {
    Semaphore lock(37, "/bin/ls");
    ASSERT_NE(lock.TryLock(true), 0);
    lock.Unlock();
    RemoveVoiceSet();
    ASSERT_EQ(VoiceLockValue(), -1);

    EXPECT_NE(lock.TryLock(true), 0);
    EXPECT_EQ(VoiceLockValue(), 0);
    std::string output;
    EXPECT_EQ(System(kHolder + " 0", output), 1);
    EXPECT_EQ(output, "busy\n");
    lock.Unlock();
    EXPECT_EQ(VoiceLockValue(), 1);
}

TEST_F(SemaphoreTest, FreshSetRacedForByManyProcessesHasExactlyOneHolder) {
    // Every holder starts before the set exists; one creates it, the others must neither see
    // a fresh lock as busy for good nor initialise it a second time.
    std::vector<std::unique_ptr<HolderProcess>> holders;
    for (int i = 0; i < 8; ++i) {
        holders.push_back(std::make_unique<HolderProcess>());
    }
    int locked = 0;
    int busy = 0;
    for (auto& holder : holders) {
        std::string line = holder->FirstLine();
        locked += line == "locked\n";
        busy += line == "busy\n";
    }
    EXPECT_EQ(locked, 1);
    EXPECT_EQ(busy, 7);
    holders.clear();  // kills the holders; the kernel frees the hold
    EXPECT_EQ(VoiceLockValue(), 1);
}

// A set that someone else created and set up with semctl(SETVAL) is usable at once; one that
// its creator has not made free yet is busy.
TEST_F(SemaphoreTest, SetMadeByAnotherIsTakenAsItStands) {
    for (int value : {1, 0}) {
        RemoveVoiceSet();
        int semId = semget(ftok("/bin/ls", 37), 1, IPC_CREAT | IPC_EXCL | 0666);
        ASSERT_GE(semId, 0);
        ASSERT_EQ(semctl(semId, 0, SETVAL, value), 0);
        Semaphore lock(37, "/bin/ls");
        EXPECT_EQ(lock.TryLock(true) != 0, value == 1) << "value " << value;
        lock.Unlock();
        EXPECT_EQ(VoiceLockValue(), value);
    }
}

TEST_F(SemaphoreTest, KeyPathThatDoesNotExistAnswersBusy) {
    Semaphore lock(37, "/no/such/key/path");
    EXPECT_EQ(lock.TryLock(true), 0);
    lock.Unlock();
    EXPECT_EQ(VoiceLockValue(), -1);
}

}  // namespace
