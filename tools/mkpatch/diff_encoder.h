// Encodes the difference between an old and a new file as a diff of the patch format
// (engine/diff/diff_format.h): long runs found in the old file become copies, the bytes
// between them literals, sent in replace mode when they keep the old and new positions
// in step and in insert mode (followed by a seek) otherwise.
//
// The matcher here indexes the old file by hashes of sampled blocks; it is meant to be
// replaced by a stronger one behind the same function.
#pragma once

#include <cstddef>
#include <vector>

namespace vard::mkpatch {

// Returns a diff that, decoded against old, yields exactly new (any sizes, either may be
// empty). Deterministic: the same inputs give the same bytes. Memory: the output plus an
// index of at most a few MiB; old and new are only read.
std::vector<unsigned char> EncodeDiff(const unsigned char* old_data, std::size_t old_size,
                                      const unsigned char* new_data, std::size_t new_size);

}  // namespace vard::mkpatch
