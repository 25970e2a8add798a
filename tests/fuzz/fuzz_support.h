// Helpers the fuzz targets share: an in-memory file for the path-taking readers and checks.
// Owns the one memfd each fuzz process rewrites per input, so no descriptor or file piles up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

// Replaces the contents of the process's in-memory file with the input and returns a path
// under which a fresh open reads them ("/proc/self/fd/N").
const std::string& WriteMemoryFile(const uint8_t* data, size_t size);

// Aborts, so libFuzzer keeps the input, when a property of the code under test fails.
void Check(bool holds, const char* what);

// The input's lines as the readers see them: split at '\n', a trailing '\r' dropped.
std::vector<std::string> Lines(const std::string& text);

// Blanks (space, tab) cut from both ends.
std::string TrimBlanks(const std::string& text);

// True for a key the reader must take as written: a letter or '_', then letters, digits, '_'.
bool IsPlainKey(const std::string& key);

}  // namespace fuzz
