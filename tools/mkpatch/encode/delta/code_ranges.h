// Where an executable keeps its code: the sections of a PE (Windows) or ELF file marked
// executable, by file offset and virtual address, for the branch-target conversion of
// stream diffs (engine/diff/branch_targets.h). Anything else has none.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/diff/branch_targets.h"

namespace vard::mkpatch {

// The executable sections with bytes in the file, in file order, apart; when there are
// more than kMaxCodeRanges, the largest. Empty for a file that is not a well-formed PE
// or little-endian ELF, or has no code.
diff::CodeRanges FindCodeRanges(const uint8_t* data, size_t size);

}  // namespace vard::mkpatch
