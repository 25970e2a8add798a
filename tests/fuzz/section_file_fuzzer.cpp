// Fuzz target for the sectioned reader: [section] headers, GotoSection and the section lookups.
// The input is the whole file; every header and key it seems to name is looked up.
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "platform/config_file.h"

namespace {

using fuzz::Check;

// The string and the numeric lookup of one key agree within the current section.
void CheckKey(const MultiSectionConfigFile& file, const std::string& key) {
    std::string entry = file.GetSectionEntry(key);
    int32_t value = file.GetSectionValue(key);
    if (entry == ConfigBuffer::ENTRY_NOT_FOUND) {
        Check(value == ConfigBuffer::VALUE_NOT_FOUND, "absent key has a number");
    } else {
        Check(value == ConfigBuffer::ParseNumber(entry), "GetSectionValue differs");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = fuzz::WriteMemoryFile(data, size);
    const std::string input(reinterpret_cast<const char*>(data), size);
    // A value spelled like the absent-entry sentinel reads as absent; such inputs say nothing
    // about lost lines.
    const bool namesSentinel = input.find(ConfigBuffer::ENTRY_NOT_FOUND) != std::string::npos;

    // Headers and keys as the input seems to give them; plain keys under a header must be
    // found in that section.
    std::vector<std::string> sections;
    std::set<std::string> sectionNames;
    std::vector<std::string> keys;
    std::vector<std::pair<std::string, std::string>> plainEntries;
    const std::string* current = nullptr;
    for (const std::string& line : fuzz::Lines(input)) {
        if (line.find('\0') != std::string::npos) {
            continue;  // a line with a NUL byte is passed over as a whole, headers included
        }
        std::string trimmed = fuzz::TrimBlanks(line);
        if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']') {
            sections.push_back(trimmed.substr(1, trimmed.size() - 2));
            current = &*sectionNames.insert(sections.back()).first;
            continue;
        }
        size_t equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        std::string key = fuzz::TrimBlanks(line.substr(0, equals));
        if (current != nullptr && fuzz::IsPlainKey(key) && !namesSentinel) {
            plainEntries.emplace_back(*current, key);
        }
        keys.push_back(std::move(key));
    }

    MultiSectionConfigFile file(path, false, true, false);

    // Until a section is chosen nothing is found.
    for (const std::string& key : keys) {
        Check(file.GetSectionEntry(key) == ConfigBuffer::ENTRY_NOT_FOUND, "entry without section");
        Check(file.GetSectionValue(key) == ConfigBuffer::VALUE_NOT_FOUND, "value without section");
    }

    for (const std::string& section : sections) {
        Check(file.GotoSection(section) != 0, "a [section] header was lost");
        // A bounded share of the keys keeps one input from costing sections times keys.
        for (size_t i = 0; i < keys.size() && i < 64; ++i) {
            CheckKey(file, keys[i]);
        }
        CheckKey(file, "");
    }
    for (const auto& [section, key] : plainEntries) {
        Check(file.GotoSection(section) != 0, "section of an entry was lost");
        Check(file.GetSectionEntry(key) != ConfigBuffer::ENTRY_NOT_FOUND,
              "a KEY=value line under a header was lost");
    }

    // A name no header gives is not found, and leaves the chosen section as it was.
    const std::string missing = "\x02no such section";
    if (sectionNames.count(missing) == 0) {
        std::vector<std::string> before;
        for (const std::string& key : keys) {
            before.push_back(file.GetSectionEntry(key));
        }
        Check(file.GotoSection(missing) == 0, "an absent section was found");
        for (size_t i = 0; i < keys.size(); ++i) {
            Check(file.GetSectionEntry(keys[i]) == before[i], "failed GotoSection moved");
        }
    }
    return 0;
}
