// Two images compared by their structure rather than byte by byte, so that one record
// that grew does not make every byte behind it a difference: the boot region, the entry
// word and the records, matched by destination address and, for what remains, by their
// place in the chain.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Compares the image at `old_path` with the one at `new_path` (text read from `base`)
// and writes what changed to `out`, as lines or with `json` as one JSON object. Returns
// 0 when they are the same, 1 when they differ. Throws Failure of status 2 when either
// cannot be read or is malformed: nothing could be compared.
int diff_images(const std::string& old_path, const std::string& new_path, std::uint32_t base,
                bool json, std::FILE* out);
