// The daemon log: one time-stamped line per Report call, written whole and at once.
// Owns the log stream and the lock that keeps lines whole and closing safe.
#include "core/log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

FILE* logFile = nullptr;

namespace {

// Taken by every line and by the closing, so no line reaches a closed stream and lines of
// two threads never mix.
std::mutex logMutex;

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
    return true;
}

void Report(const char* format, ...) {
    time_t now = time(nullptr);
    char timeText[32];
    if (ctime_r(&now, timeText) == nullptr) {
        timeText[0] = '\0';
    } else {
        size_t length = strnlen(timeText, sizeof timeText);
        if (length > 0 && timeText[length - 1] == '\n') {
            timeText[length - 1] = '\0';
        }
    }

    char stackLine[1024];
    // The daemon never forks, so its pid is asked for once rather than with every line.
    static const pid_t pid = getpid();
    int prefix = snprintf(stackLine, sizeof stackLine, "%s [%d] ", timeText, pid);
    if (prefix < 0 || static_cast<size_t>(prefix) >= sizeof stackLine) {
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

    {
        std::lock_guard<std::mutex> lock(logMutex);
        if (logFile != nullptr) {
            WriteLine(fileno(logFile), line, total);
        }
    }
    free(heapLine);
}

void CloseLog() {
    std::lock_guard<std::mutex> lock(logMutex);
    if (logFile != nullptr) {
        fclose(logFile);
        logFile = nullptr;
    }
}
