// The daemon log: one time-stamped line per Report call, written whole and at once.
// Owns the log stream, its level filter, its size limit and its copy to the system log.
#include "core/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "platform/system_log.h"

FILE* logFile = nullptr;

namespace {

// Taken by every line, by the closing and by the configuration, so no line reaches a closed
// stream, lines of two threads never mix, and a rename falls between two whole lines.
std::mutex logMutex;
// Everything below is guarded by logMutex.
bool logOpen = false;
// Written under logMutex, read without it by Report before it formats anything.
std::atomic<int32_t> logLevel{kLogDebug};
LogCopy logCopy = kLogFileOnly;
int64_t logLimit = 0;  // bytes; 0 means no limit
int64_t logSize = 0;   // the file's size as this process last knew it
bool renameFailureLogged = false;
std::string logPath, rotatedPath;

struct Beginning {
    const char* text;
    size_t length;
    int dropFrom;  // the lowest LOG_LEVEL that drops it
    int priority;
};
// Lines with another beginning are kept at every level and go to the system log as notices.
constexpr int kNever = 99;
const Beginning kBeginnings[] = {
    {"Debug:", 6, kLogInfo, LOG_DEBUG},     {"Info:", 5, kLogWarning, LOG_INFO},
    {"Warning:", 8, kNever, LOG_WARNING},   {"Error:", 6, kNever, LOG_ERR},
    {"Fatal Error:", 12, kNever, LOG_CRIT},
};

const Beginning* BeginningOf(const char* message) {
    for (const Beginning& beginning : kBeginnings) {
        if (strncmp(message, beginning.text, beginning.length) == 0) {
            return &beginning;
        }
    }
    return nullptr;
}

// The "<ctime> [<pid>] " of the current second. Working out the local time (time-zone rules,
// then formatting) is most of what a line costs, and every line of one second gets the same
// text, so the last second's prefix is kept.
std::mutex prefixMutex;
time_t prefixSecond = -1;  // under prefixMutex
char prefixText[64];       // under prefixMutex
int prefixLength = -1;     // under prefixMutex; -1 when the text did not fit

// The prefix into `buffer`; its length, or -1 when it does not fit.
int Prefix(char* buffer, size_t size) {
    time_t now = time(nullptr);
    std::lock_guard<std::mutex> lock(prefixMutex);
    if (now != prefixSecond) {
        char timeText[32];
        if (ctime_r(&now, timeText) == nullptr) {
            timeText[0] = '\0';
        } else {
            size_t length = strnlen(timeText, sizeof timeText);
            if (length > 0 && timeText[length - 1] == '\n') {
                timeText[length - 1] = '\0';
            }
        }
        // The daemon never forks, so its pid is asked for once rather than with every line.
        static const pid_t pid = getpid();
        int length = snprintf(prefixText, sizeof prefixText, "%s [%d] ", timeText, pid);
        prefixLength = length < 0 || static_cast<size_t>(length) >= sizeof prefixText ? -1 : length;
        prefixSecond = now;
    }
    if (prefixLength < 0 || static_cast<size_t>(prefixLength) >= size) {
        return -1;
    }
    memcpy(buffer, prefixText, static_cast<size_t>(prefixLength) + 1);
    return prefixLength;
}

// Writes one whole line. When the disk takes only a part of it, that part is taken back
// again: a full disk drops whole lines, and the first line written once there is room again
// does not run on from a fragment. Only the daemon writes its log, under logMutex, so the
// fragment is the end of the file.
void WriteLine(int fd, const char* data, size_t length) {
    size_t written = 0;
    while (written < length) {
        ssize_t n = write(fd, data + written, length - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;  // a full or failing disk drops the line; the daemon goes on
        }
        written += static_cast<size_t>(n);
    }
    if (written > 0 && written < length) {
        off_t end = lseek(fd, 0, SEEK_END);
        if (end >= static_cast<off_t>(written) &&
            ftruncate(fd, end - static_cast<off_t>(written)) != 0) {
            return;  // nothing more can be done about it
        }
        written = 0;
    }
    logSize += static_cast<int64_t>(written);
}

// The system log's copy of a kept line: its message without the time, pid and last newline.
void CopyToSystemLog(const char* message, size_t length, const Beginning* beginning) {
    if (length > 0 && message[length - 1] == '\n') {
        --length;
    }
    SendSystemLog(LOG_DAEMON | (beginning != nullptr ? beginning->priority : LOG_NOTICE), message,
                  length);
}

// Renames the log to rotatedPath and goes on in a new file at logPath. On failure the log
// goes on growing; the first failure in a row is logged, in the old file.
void Rotate(int fd) {
    int error = 0;
    if (rename(logPath.c_str(), rotatedPath.c_str()) != 0) {
        error = errno;
    } else {
        int fresh = open(logPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fresh < 0 || dup3(fresh, fd, O_CLOEXEC) < 0) {
            // The lines go on where they were, under the old name.
            error = errno;
            if (rename(rotatedPath.c_str(), logPath.c_str()) != 0) {
                error = errno;
            }
        }
        if (fresh >= 0) {
            close(fresh);
        }
    }
    if (error == 0) {
        logSize = 0;
        renameFailureLogged = false;
        return;
    }
    if (renameFailureLogged) {
        return;
    }
    renameFailureLogged = true;
    char line[512];
    int prefix = Prefix(line, sizeof line);
    if (prefix < 0) {
        return;
    }
    int body = snprintf(line + prefix, sizeof line - prefix,
                        "Warning: could not rename %s to %s (%d = %s)\n", logPath.c_str(),
                        rotatedPath.c_str(), error, strerror(error));
    if (body > 0 && static_cast<size_t>(prefix + body) < sizeof line) {
        WriteLine(fd, line, static_cast<size_t>(prefix + body));
        if (logCopy == kLogFileAndSystem) {
            CopyToSystemLog(line + prefix, static_cast<size_t>(body), BeginningOf(line + prefix));
        }
    }
}

// Writes a formatted line (its message from `prefix` on, beginning with `beginning`, null
// for none of the level words) where the settings send it.
void Emit(const char* line, size_t length, size_t prefix, const Beginning* beginning) {
    std::lock_guard<std::mutex> lock(logMutex);
    if (!logOpen || (beginning != nullptr && logLevel.load() >= beginning->dropFrom)) {
        return;
    }
    if (logFile != nullptr) {
        int fd = fileno(logFile);
        // The size known here runs ahead of the file's when something else truncated it
        // (copytruncate), so the file itself is asked before the log is renamed.
        if (logLimit > 0 && logSize + static_cast<int64_t>(length) > logLimit) {
            struct stat st;
            if (fstat(fd, &st) == 0) {
                logSize = st.st_size;
            }
            if (logSize > 0 && logSize + static_cast<int64_t>(length) > logLimit) {
                Rotate(fd);
            }
        }
        WriteLine(fd, line, length);
    }
    if (logCopy != kLogFileOnly) {
        CopyToSystemLog(line + prefix, length - prefix, beginning);
    }
}

}  // namespace

bool OpenLog(const char* path) {
    FILE* stream = fopen(path, "ae");
    if (stream == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> lock(logMutex);
    logFile = stream;
    logOpen = true;
    logPath = path;
    rotatedPath = logPath + ".1";
    return true;
}

void ConfigureLog(LogLevel level, int64_t maxBytes, LogCopy copy) {
    std::lock_guard<std::mutex> lock(logMutex);
    logLevel = level;
    logLimit = maxBytes;
    logCopy = copy;
    struct stat st;
    if (logFile != nullptr && fstat(fileno(logFile), &st) == 0) {
        logSize = st.st_size;
    }
    if (copy == kLogSystemOnly && logFile != nullptr) {
        fclose(logFile);
        logFile = nullptr;
    }
}

void Report(const char* format, ...) {
    // The daemon's formats begin with their level word, so a line the level drops is known
    // before any time is looked up or anything formatted (a format that begins with a
    // conversion is judged once formatted, in Emit).
    const Beginning* beginning = BeginningOf(format);
    if (beginning != nullptr && logLevel.load() >= beginning->dropFrom) {
        return;
    }
    char stackLine[1024];
    int prefix = Prefix(stackLine, sizeof stackLine);
    if (prefix < 0) {
        return;
    }
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int body = vsnprintf(stackLine + prefix, sizeof stackLine - prefix, format, args);
    va_end(args);

    char* line = stackLine;
    char* heapLine = nullptr;
    size_t total = static_cast<size_t>(prefix);
    if (body > 0) {
        total += static_cast<size_t>(body);
        if (total >= sizeof stackLine) {
            // Long lines (command output in them) are built on the heap, still written whole.
            heapLine = static_cast<char*>(malloc(total + 1));
            if (heapLine != nullptr) {
                memcpy(heapLine, stackLine, prefix);
                vsnprintf(heapLine + prefix, total + 1 - prefix, format, again);
                line = heapLine;
            } else {
                total = sizeof stackLine - 1;
            }
        }
    }
    va_end(again);

    // A format that begins with a level word gives its message the same beginning.
    Emit(line, total, static_cast<size_t>(prefix),
         beginning != nullptr ? beginning : BeginningOf(line + prefix));
    free(heapLine);
}

void CloseLog() {
    std::lock_guard<std::mutex> lock(logMutex);
    logOpen = false;
    if (logFile != nullptr) {
        fclose(logFile);
        logFile = nullptr;
    }
}
