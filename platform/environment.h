// Environment and OS-description rules both platform layers share, as pure
// functions over text and numbers so they are tested natively.
#pragma once
#include <cstdint>
#include <string>
#include <utility>

namespace platform::environment {

// Splits one "NAME=VALUE" entry of an environment block. The name ends at
// the first "=" that is not the entry's first character, so the per-drive
// entries ("=C:=C:\dir") keep their leading sign. An entry without such a
// sign is a name with an empty value.
std::pair<std::string, std::string> split_entry(const std::string& entry);

// The edition after "Windows " for a version: workstation editions by
// major.minor, server editions likewise, and from major 10 on the build
// number decides ("10" below 22000, "11" from it; servers 2016/2019/2022).
// Null for the minor versions of 5 and 6 that have no name.
const char* edition_name(uint32_t major, uint32_t minor, bool workstation, uint32_t build);

// The architecture word for a processor-architecture number.
const char* arch_name(uint32_t architecture);

}  // namespace platform::environment
