// Helpers the fuzz targets share: an in-memory file for the path-taking readers and checks.
// Owns the one memfd each fuzz process rewrites per input, so no descriptor or file piles up.
#include "fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

namespace {

struct MemoryFile {
    int fd = -1;
    std::string path;
};

MemoryFile& TheFile() {
    static MemoryFile file = [] {
        MemoryFile created;
        created.fd = memfd_create("fuzz-input", MFD_CLOEXEC);
        if (created.fd < 0) {
            perror("memfd_create");
            abort();
        }
        created.path = "/proc/self/fd/" + std::to_string(created.fd);
        return created;
    }();
    return file;
}

}  // namespace

const std::string& WriteMemoryFile(const uint8_t* data, size_t size) {
    MemoryFile& file = TheFile();
    if (ftruncate(file.fd, 0) != 0) {
        perror("ftruncate");
        abort();
    }
    size_t done = 0;
    while (done < size) {
        ssize_t n = pwrite(file.fd, data + done, size - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            perror("pwrite");
            abort();
        }
        done += static_cast<size_t>(n);
    }
    return file.path;
}

void Check(bool holds, const char* what) {
    if (!holds) {
        fprintf(stderr, "fuzz check failed: %s\n", what);
        abort();
    }
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::string TrimBlanks(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) {
        return "";
    }
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

bool IsPlainKey(const std::string& key) {
    if (key.empty() || !(isalpha(static_cast<unsigned char>(key[0])) || key[0] == '_')) {
        return false;
    }
    for (char c : key) {
        if (!(isalnum(static_cast<unsigned char>(c)) || c == '_')) {
            return false;
        }
    }
    return true;
}

}  // namespace fuzz
