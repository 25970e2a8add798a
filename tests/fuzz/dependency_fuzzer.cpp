// Fuzz target for the dependency texts: the "variable KEY VALUE" split and the prefix dispatch.
// No WAN name is ever known here, so no text reaches the network; rc.conf is never opened.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "monitor/dependency.h"

namespace {

using fuzz::Check;

constexpr size_t kMaxPart = 49;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The daemon hands C strings around: the text ends at the first NUL.
    const char* bytes = reinterpret_cast<const char*>(data);
    const std::string text(bytes, strnlen(bytes, size));

    const std::string untouched = "\x01untouched";
    std::string key = untouched;
    std::string value = untouched;
    bool split = SplitVariableDependency(text.c_str(), key, value);

    size_t first = text.find(' ');
    size_t second = first == std::string::npos ? std::string::npos : text.find(' ', first + 1);
    if (second == std::string::npos || second - first - 1 > kMaxPart ||
        text.size() - second - 1 > kMaxPart) {
        Check(!split, "malformed text accepted");
        Check(key == untouched && value == untouched, "refused split changed its outputs");
    } else {
        Check(split, "well-formed text refused");
        Check(key == text.substr(first + 1, second - first - 1), "key");
        Check(value == text.substr(second + 1), "value");
    }

    // The dispatch: with no WAN name the link forms are not solved, unknown forms are not
    // solved, and a "variable" text that does not split is not solved either. A "variable"
    // text that splits would read the real rc.conf and is left to the unit tests.
    if (!(text.compare(0, 8, "variable") == 0 && split)) {
        Check(CheckDepend(text.c_str()) == 0, "dependency solved without a link or rc.conf");
    }
    Check(HasIPAddress(text.c_str()) == 0, "address without a WAN name");
    return 0;
}
