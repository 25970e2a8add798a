// Reader for the box's key/value configuration files, flat and sectioned.
// Owns the file syntax, value parsing and the absent-value sentinels every reader tests for.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

// Opens a regular file for reading, close-on-exec, without ever blocking on the way: a FIFO,
// socket, device or directory is refused. -1 on failure, with errno EISDIR
// for a directory and 0 for the others.
int OpenRegularFile(const std::string& path);

// Parsed entries of one file (or of one section) and their lookups.
class ConfigBuffer {
public:
    // A string lookup that finds nothing returns a string equal to this.
    static const std::string ENTRY_NOT_FOUND;
    // A numeric lookup that finds nothing (or finds no usable number) returns this.
    static constexpr int32_t VALUE_NOT_FOUND = 2147483647;

    std::string GetEntry(const std::string& key) const;
    int32_t GetValue(const std::string& key) const;

    // `line` is the 1-based line the entry came from (0: none), kept for the checking tool.
    void Set(const std::string& key, const std::string& value, int line = 0);
    void Clear() { entries_.clear(), replaced_.clear(); }

    // Every key, in byte order, and the line its winning entry stood on (0 when unknown).
    std::vector<std::string> Keys() const;
    int LineOf(const std::string& key) const;
    // Each entry that a later one of the same key replaced: its key and line.
    const std::vector<std::pair<std::string, int>>& Replaced() const { return replaced_; }

    // Parses a number: optional blanks, optional sign, decimal digits, optional blanks.
    // Anything else, or a value outside the signed 32-bit range, gives VALUE_NOT_FOUND.
    static int32_t ParseNumber(const std::string& text);

private:
    struct Entry {
        std::string value;
        int line;
    };
    std::map<std::string, Entry> entries_;
    std::vector<std::pair<std::string, int>> replaced_;
};

// A flat file of KEY=value lines. Construction does not touch the file; ReadFile() does,
// and throws a std::runtime_error when the file cannot be opened or read.
class ConfigFile {
public:
    ConfigFile(const std::string& path, bool createIfMissing, bool readOnly);

    void ReadFile();
    bool IsRead() const { return read_; }
    ConfigBuffer& Buffer() { return buffer_; }

    // Convenience: reads the file first when it has not been read yet.
    std::string GetEntry(const std::string& key);
    int32_t GetValue(const std::string& key);

private:
    std::string path_;
    bool read_ = false;
    ConfigBuffer buffer_;
};

// A file of [section] headers, each followed by KEY=value lines. The constructor reads the
// file and throws a std::runtime_error when it cannot be opened or read.
class MultiSectionConfigFile {
public:
    MultiSectionConfigFile(const std::string& path, bool createIfMissing, bool readOnly,
                           bool keepComments);

    // Non-zero when the section exists; it then becomes the current section.
    int GotoSection(const std::string& name);
    std::string GetSectionEntry(const std::string& key) const;
    int32_t GetSectionValue(const std::string& key) const;

    // Every section, by name, for a caller that walks them all.
    const std::map<std::string, ConfigBuffer>& Sections() const { return sections_; }
    // Each header of a section given before: its name and line (the two are read as one).
    const std::vector<std::pair<std::string, int>>& Repeated() const { return repeated_; }

private:
    std::map<std::string, ConfigBuffer> sections_;
    std::vector<std::pair<std::string, int>> repeated_;
    const ConfigBuffer* current_ = nullptr;
};
