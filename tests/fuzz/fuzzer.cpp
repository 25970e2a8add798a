// The libFuzzer targets, one per reader of outside text, all from this source: FUZZ_TARGET
// names the reader. Beyond crashes, leaks and sanitizer findings, each input is checked
// against a promise of its reader; a broken promise aborts, so libFuzzer keeps the input.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "config/return_lists.h"
#include "monitor/dependency.h"
#include "platform/config_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string target = FUZZ_TARGET;
    static const int fd = memfd_create("fuzz", 0);  // the input as a file, for the readers
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        abort();
    bool holds = true;
    if (target == "config_file_fuzzer") {  // a number reads back as it was parsed
        int32_t number = ConfigBuffer::ParseNumber(text);
        holds = number == ConfigBuffer::VALUE_NOT_FOUND ||
                ConfigBuffer::ParseNumber(std::to_string(number)) == number;
        ConfigFile file(path, false, false);
        std::string value = file.GetEntry("KEY");
        holds &= value == ConfigBuffer::ENTRY_NOT_FOUND ||
                 ConfigBuffer::ParseNumber(value) == file.GetValue("KEY");
    } else if (target == "return_lists_fuzzer") {  // one value per comma
        GoodCmdStructure* good = GetNumbers(text);
        size_t count = 0;
        for (GoodCmdStructure* node = good; node != nullptr; node = node->next)
            ++count;
        holds = count == static_cast<size_t>(std::count(text.begin(), text.end(), ','));
        DeleteGoodCmdStructure(good);
        MultiSectionConfigFile file(path, false, false, false);  // the input as a service file
        DeleteFailCmdStructure(GetNumbers(text, "fuzz", file));
        if (file.GotoSection("basic"))
            file.GetSectionValue("MAX_FAIL");
    } else {
        // The daemon hands C strings around. No WAN name is known here, so no link is solved;
        // a "variable" text that splits would read the host's rc.conf and is left out.
        const char* cut = text.c_str();
        std::string key, value;
        bool split = SplitVariableDependency(cut, key, value);
        holds = !split || strstr(cut, (' ' + key + ' ' + value).c_str()) != nullptr;
        if (!split || strncmp(cut, "variable", 8) != 0)
            holds &= CheckDepend(cut) == 0;
    }
    if (!holds)
        abort();
    return 0;
}
