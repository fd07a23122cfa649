// Version numbers of the game and of the patch: "major.minor" texts turned into one signed
// 32-bit number (major in the upper 16 bits) that compares as a plain integer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vard {

// Scans the text like "%d.%d" (white space before each number, optional sign, a literal
// dot between them); a number the scan does not reach counts as 0. Returns
// (major << 16) | minor, so a minor of 65,536 or more, or a negative one, spills into the
// major's bits. "1.00" and "1.0" give 0x10000, "1.01" and "1.1" give 0x10001, "2" gives
// 0x20000, "" and "v1.0" give 0. Numbers beyond 32 bits wrap instead of being undefined.
std::int32_t ParseVersion(const std::string& text);

// Which set of packs brings an installation of version `installed` to the patch's "to":
// 0 when it equals `from`, k when it equals other_from[k - 1] (the first match), -1 when no
// starting version matches. Compared as numbers, as ParseVersion gives them.
int FindStartingSet(std::int32_t installed, const std::string& from,
                    const std::vector<std::string>& other_from);

}  // namespace vard
