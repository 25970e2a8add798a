// Reader for the box's key/value configuration files, flat and sectioned.
// Owns the file syntax, value parsing and the absent-value sentinels every reader tests for.
#include "platform/config_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

const std::string ConfigBuffer::ENTRY_NOT_FOUND = "\x01<entry not found>\x01";

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

// A value wholly enclosed in matching quotes loses them and keeps its inside exactly. A value
// whose quote also stands inside ("/opt/my tool/fix" "now") is several quoted words for the
// shell, not one enclosed value, so it keeps every quote.
std::string Unquote(const std::string& value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front() &&
        value.find(value.front(), 1) == value.size() - 1) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// Calls `line` for each line of the file, without its newline and trailing CR. A line holding
// a NUL byte is not text and is passed over: every value ends up in a C string somewhere (a
// path to stat, a command for the shell, a log line), where it would stop at the NUL and mean
// something else than the value that was compared ("reboot", NUL, "now" is not "reboot" to a
// comparison, but runs as reboot).
template <typename LineFn>
void ForEachLine(const std::string& path, LineFn line) {
    int number = 0;
    int fd = OpenRegularFile(path);
    FILE* stream = fd < 0 ? nullptr : fdopen(fd, "r");
    if (stream == nullptr) {
        int error = errno;
        if (fd >= 0) {
            close(fd);
        }
        // A directory, FIFO, socket or device reads as unreadable, as a directory always did.
        bool opened = error == 0 || error == EISDIR;
        throw std::runtime_error((opened ? "cannot read " : "cannot open ") + path + ": " +
                                 (error == 0 ? "not a regular file" : strerror(error)));
    }
    char* buffer = nullptr;
    size_t capacity = 0;
    ssize_t length;
    while ((length = getline(&buffer, &capacity, stream)) >= 0) {
        ++number;
        std::string text(buffer, static_cast<size_t>(length));
        if (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
        }
        if (text.find('\0') != std::string::npos) {
            continue;
        }
        line(text, number);
    }
    bool failed = ferror(stream) != 0;
    int error = errno;
    free(buffer);
    fclose(stream);
    if (failed) {
        throw std::runtime_error("cannot read " + path + ": " + strerror(error));
    }
}

// Splits a KEY=value line; false for comments, blank lines and lines that are no entry.
bool SplitEntry(const std::string& line, std::string& key, std::string& value) {
    std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == '#') {
        return false;
    }
    size_t equals = line.find('=');
    if (equals == std::string::npos) {
        return false;
    }
    key = Trim(line.substr(0, equals));
    if (key.empty()) {
        return false;
    }
    value = Unquote(Trim(line.substr(equals + 1)));
    return true;
}

}  // namespace

int OpenRegularFile(const std::string& path) {
    // Opened without waiting: a FIFO would otherwise block until a writer comes, for ever.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat info = {};
    int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        errno = S_ISDIR(info.st_mode) ? EISDIR : 0;
        return -1;
    }
    return fd;
}

std::string ConfigBuffer::GetEntry(const std::string& key) const {
    auto found = entries_.find(key);
    return found == entries_.end() ? ENTRY_NOT_FOUND : found->second.value;
}

int32_t ConfigBuffer::GetValue(const std::string& key) const {
    auto found = entries_.find(key);
    return found == entries_.end() ? VALUE_NOT_FOUND : ParseNumber(found->second.value);
}

void ConfigBuffer::Set(const std::string& key, const std::string& value, int line) {
    auto found = entries_.find(key);
    if (found != entries_.end()) {
        replaced_.emplace_back(key, found->second.line);  // a later line with the same key wins
    }
    entries_[key] = Entry{value, line};
}

std::vector<std::string> ConfigBuffer::Keys() const {
    std::vector<std::string> keys;
    for (const auto& entry : entries_) {
        keys.push_back(entry.first);
    }
    return keys;
}

int ConfigBuffer::LineOf(const std::string& key) const {
    auto found = entries_.find(key);
    return found == entries_.end() ? 0 : found->second.line;
}

int32_t ConfigBuffer::ParseNumber(const std::string& text) {
    std::string number = Trim(text);
    size_t at = 0;
    bool negative = false;
    if (at < number.size() && (number[at] == '+' || number[at] == '-')) {
        negative = number[at] == '-';
        ++at;
    }
    if (at == number.size()) {
        return VALUE_NOT_FOUND;
    }
    int64_t magnitude = 0;
    for (; at < number.size(); ++at) {
        char c = number[at];
        if (c < '0' || c > '9') {
            return VALUE_NOT_FOUND;
        }
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > int64_t{2147483648}) {
            return VALUE_NOT_FOUND;  // stop before thousands of digits could overflow
        }
    }
    int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX || value < INT32_MIN) {
        return VALUE_NOT_FOUND;
    }
    return static_cast<int32_t>(value);
}

ConfigFile::ConfigFile(const std::string& path, bool, bool) : path_(path) {}

void ConfigFile::ReadFile() {
    buffer_.Clear();
    ForEachLine(path_, [this](const std::string& line, int number) {
        std::string key;
        std::string value;
        if (SplitEntry(line, key, value)) {
            buffer_.Set(key, value, number);
        }
    });
    read_ = true;
}

std::string ConfigFile::GetEntry(const std::string& key) {
    if (!read_) {
        ReadFile();
    }
    return buffer_.GetEntry(key);
}

int32_t ConfigFile::GetValue(const std::string& key) {
    if (!read_) {
        ReadFile();
    }
    return buffer_.GetValue(key);
}

MultiSectionConfigFile::MultiSectionConfigFile(const std::string& path, bool, bool, bool) {
    ConfigBuffer* section = nullptr;  // lines before the first header belong to no section
    ForEachLine(path, [&](const std::string& line, int number) {
        std::string trimmed = Trim(line);
        if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']') {
            std::string name = trimmed.substr(1, trimmed.size() - 2);
            if (sections_.count(name) != 0) {
                repeated_.emplace_back(name, number);
            }
            section = &sections_[name];
            return;
        }
        std::string key;
        std::string value;
        if (section != nullptr && SplitEntry(line, key, value)) {
            section->Set(key, value, number);
        }
    });
}

int MultiSectionConfigFile::GotoSection(const std::string& name) {
    auto found = sections_.find(name);
    if (found == sections_.end()) {
        return 0;
    }
    current_ = &found->second;
    return 1;
}

std::string MultiSectionConfigFile::GetSectionEntry(const std::string& key) const {
    return current_ == nullptr ? ConfigBuffer::ENTRY_NOT_FOUND : current_->GetEntry(key);
}

int32_t MultiSectionConfigFile::GetSectionValue(const std::string& key) const {
    return current_ == nullptr ? ConfigBuffer::VALUE_NOT_FOUND : current_->GetValue(key);
}
