// Replacing a small file whole: readers see the old text or the new one, never a mix, and a
// durable replacement also survives a power cut at any moment.
#pragma once

#include <string>

// Writes text to temp (never through a link), then renames it over path. With durable, the
// data is synced before the rename and the directory after it. 0, or the errno of the step
// that failed; a failed attempt leaves no temp file behind.
int ReplaceFile(const char* path, const char* temp, const std::string& text, bool durable);
