// Encodes the difference between an old and a new file as a diff of the patch format
// (engine/diff/diff_format.h): long runs found in the old file become copies, the bytes
// between them literals, sent in replace mode when they keep the old and new positions
// in step and in insert mode (followed by a seek) otherwise.
//
// The stages, in the order they run: exact matching (delta/match_finder),
// approximate alignment (delta/alignment), command choice (delta/command_chooser) and byte
// emission (diff_emitter). Two parameter sets are tried and the stream that compresses
// smaller at libdeflate's level 12 is kept, since the compressed payload is what ships.
#pragma once

#include <cstddef>
#include <vector>

namespace vard::mkpatch {

// Returns a diff that, decoded against old, yields exactly new (any sizes, either may be
// empty). Deterministic: the same inputs give the same bytes. Memory: the match index (4
// bytes per old byte up to MatchFinder::kFullIndexLimit, half a byte above) plus the
// output; old and new are only read.
std::vector<unsigned char> EncodeDiff(const unsigned char* old_data, std::size_t old_size,
                                      const unsigned char* new_data, std::size_t new_size);

}  // namespace vard::mkpatch
