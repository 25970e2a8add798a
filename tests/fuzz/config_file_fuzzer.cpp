// Fuzz target for the flat KEY=value reader: ReadFile, its lookups and the number parser.
// The input is the whole file; every key it seems to name is looked up and cross-checked.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/config_file.h"

namespace {

using fuzz::Check;

// What ParseNumber must give, found another way: strtoll on the trimmed text once its shape
// (optional sign, then only digits) is known, so no white space or junk can slip through.
int32_t ExpectedNumber(const std::string& text) {
    std::string number = fuzz::TrimBlanks(text);
    size_t digits = (!number.empty() && (number[0] == '+' || number[0] == '-')) ? 1 : 0;
    if (digits == number.size() ||
        number.find_first_not_of("0123456789", digits) != std::string::npos) {
        return ConfigBuffer::VALUE_NOT_FOUND;
    }
    errno = 0;
    long long value = strtoll(number.c_str(), nullptr, 10);
    if (errno == ERANGE || value > INT32_MAX || value < INT32_MIN) {
        return ConfigBuffer::VALUE_NOT_FOUND;
    }
    return static_cast<int32_t>(value);
}

// A NUL counts as junk for both: the shape test sees the whole text, NULs included.
void CheckNumber(const std::string& text) {
    Check(ConfigBuffer::ParseNumber(text) == ExpectedNumber(text), "ParseNumber");
}

// The string and the numeric lookup of one key agree, in the buffer and through the file.
void CheckKey(ConfigFile& file, const std::string& key) {
    std::string entry = file.Buffer().GetEntry(key);
    int32_t value = file.Buffer().GetValue(key);
    if (entry == ConfigBuffer::ENTRY_NOT_FOUND) {
        Check(value == ConfigBuffer::VALUE_NOT_FOUND, "absent key has a number");
    } else {
        Check(value == ConfigBuffer::ParseNumber(entry), "GetValue differs from ParseNumber");
        CheckNumber(entry);
    }
    Check(file.GetEntry(key) == entry, "ConfigFile::GetEntry differs from the buffer");
    Check(file.GetValue(key) == value, "ConfigFile::GetValue differs from the buffer");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = fuzz::WriteMemoryFile(data, size);
    const std::string input(reinterpret_cast<const char*>(data), size);
    // A value spelled like the absent-entry sentinel reads as absent; such inputs say nothing
    // about lost lines.
    const bool namesSentinel = input.find(ConfigBuffer::ENTRY_NOT_FOUND) != std::string::npos;
    const std::vector<std::string> lines = fuzz::Lines(input);

    ConfigFile file(path, false, false);
    Check(!file.IsRead(), "read before ReadFile");
    file.ReadFile();
    Check(file.IsRead(), "not read after ReadFile");

    // Keys the input seems to name: the text before each line's first '=', trimmed.
    std::vector<std::string> keys;
    for (const std::string& line : lines) {
        CheckNumber(line);
        if (line.find('\0') != std::string::npos) {
            continue;  // a line with a NUL byte is passed over as a whole
        }
        size_t equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        std::string key = fuzz::TrimBlanks(line.substr(0, equals));
        keys.push_back(key);
        CheckNumber(line.substr(equals + 1));
        if (fuzz::IsPlainKey(key) && !namesSentinel) {
            Check(file.Buffer().GetEntry(key) != ConfigBuffer::ENTRY_NOT_FOUND,
                  "a KEY=value line was lost");
        }
    }
    for (const std::string& key : keys) {
        CheckKey(file, key);
    }
    CheckKey(file, "");
    CheckKey(file, ConfigBuffer::ENTRY_NOT_FOUND);

    // A second object reads lazily on its first lookup and must see the same entries.
    ConfigFile again(path, false, false);
    for (const std::string& key : keys) {
        Check(again.GetEntry(key) == file.Buffer().GetEntry(key), "second reading differs");
    }
    // Reading the same object again replaces its entries with equal ones.
    file.ReadFile();
    for (const std::string& key : keys) {
        Check(again.GetValue(key) == file.Buffer().GetValue(key), "reread differs");
    }
    return 0;
}
