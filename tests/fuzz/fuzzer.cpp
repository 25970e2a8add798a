// The libFuzzer targets, one per reader of outside text, all from this source: FUZZ_TARGET
// names the reader. Beyond crashes, leaks and sanitizer findings, each input is checked
// against the promises its reader makes; a broken promise aborts, so libFuzzer keeps it.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "config/return_lists.h"
#include "monitor/dependency.h"
#include "platform/config_file.h"

namespace {

void Check(bool holds) {
    if (!holds)
        abort();
}

// The input as a file; one in-memory file per process, rewritten for each input.
std::string File(const std::string& text) {
    static int fd = memfd_create("fuzz", 0);
    Check(ftruncate(fd, 0) == 0 &&
          pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()));
    return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string target = FUZZ_TARGET;
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (target == "config_file_fuzzer") {
        // Numbers read back as they were parsed; the file's value of a key is a number only
        // when that text parses.
        int32_t number = ConfigBuffer::ParseNumber(text);
        Check(number == ConfigBuffer::VALUE_NOT_FOUND ||
              ConfigBuffer::ParseNumber(std::to_string(number)) == number);
        ConfigFile file(File(text), false, false);
        file.ReadFile();
        std::string value = file.Buffer().GetEntry("KEY");
        Check(file.Buffer().GetValue("KEY") == (value == ConfigBuffer::ENTRY_NOT_FOUND
                                                    ? ConfigBuffer::VALUE_NOT_FOUND
                                                    : ConfigBuffer::ParseNumber(value)));
    } else if (target == "section_file_fuzzer") {
        // Every header line of a NUL-free input names a section that can be gone to.
        MultiSectionConfigFile file(File(text), false, false, false);
        std::istringstream lines(text);
        for (std::string line; text.find('\0') == std::string::npos && std::getline(lines, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            size_t open = line.find_first_not_of(" \t"), close = line.find_last_not_of(" \t");
            if (open != std::string::npos && close > open && line[open] == '[' &&
                line[close] == ']') {
                Check(file.GotoSection(line.substr(open + 1, close - open - 1)) == 1);
            }
        }
        file.GetSectionEntry("FAIL_CMD");
    } else if (target == "return_lists_fuzzer") {
        // One value per comma; the fail list reads its sections from the same text.
        GoodCmdStructure* good = GetNumbers(text);
        size_t count = 0;
        for (GoodCmdStructure* node = good; node != nullptr; node = node->next)
            ++count;
        Check(count == static_cast<size_t>(std::count(text.begin(), text.end(), ',')));
        DeleteGoodCmdStructure(good);
        MultiSectionConfigFile file(File(text), false, false, false);
        FailCmdStructure* failing = GetNumbers(text, "fuzz", file);
        for (FailCmdStructure* node = failing; node != nullptr; node = node->next) {
            Check(GetFailCommand(failing, node->returnValue) != nullptr);
        }
        DeleteFailCmdStructure(failing);
    } else {
        // The daemon hands C strings around. No WAN name is known here, so no link is ever
        // solved; a "variable" text that splits would read the host's rc.conf and is skipped.
        const std::string cut = text.substr(0, strnlen(text.c_str(), text.size()));
        std::string key, value;
        bool split = SplitVariableDependency(cut.c_str(), key, value);
        Check(!split || cut.find(' ' + key + ' ' + value) != std::string::npos);
        if (!(split && cut.compare(0, 8, "variable") == 0))
            Check(CheckDepend(cut.c_str()) == 0);
    }
    return 0;
}
