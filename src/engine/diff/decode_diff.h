// Rebuilds a new file from an old file and a diff (see diff_format.h): the decoding loop,
// independent of where the bytes come from and go to.
#pragma once

#include <cstdint>

#include "engine/diff/diff_reader.h"
#include "engine/diff/diff_writer.h"

namespace vard::diff {

// Reads one number operand from the diff. False when the diff ends before the number
// is complete (its first byte included): a well-formed diff never does.
bool ReadDiffNumber(DiffReader& diff, std::uint64_t& value);

// Decodes the whole diff, writing the new content to out and reading old through its
// cursor. True when the diff was consumed to its end. False at once on a malformed diff
// (an escape as its last byte, a number cut short, a seek beyond either end of the old
// file, a copy running past its end) or a failed write; what was written before stays
// buffered in out. Output is bounded: every byte written comes from one diff byte or
// from a copy that lies inside the old file. Page failures of either reader propagate as
// std::runtime_error("Cannot load page"). Memory: none beyond the readers and writer.
bool DecodeDiff(DiffWriter& out, DiffReader& old, DiffReader& diff);

}  // namespace vard::diff
