// Payloads carried after the executable's image (its overlay), for patches larger than
// the 32-bit patcher can map as resources. The patcher reads them from its own file with
// plain reads in 1 MiB pieces, opened with sharing that lets other readers in; Windows
// never maps them. The overlay ends in a 16-byte trailer (its start as a 64-bit file
// offset, then the bytes "VardOvl1"), just before the certificate table of a signed file
// or at the end of the file. Offsets and sizes are 64-bit in both builds.
#pragma once

#include <cstdint>
#include <string>

namespace vard {

struct FileEntry;
class ProgressNode;

enum class OverlayRead : int { Ok, Damaged, Failed };

// Reads the entry's overlay payload in full and compares its CRC-32 with the manifest's;
// writes nothing. Damaged when the file has no overlay, the payload lies outside it, a read
// fails or the checksum differs. Main thread; 1 MiB buffer.
OverlayRead CheckOverlayPayload(const FileEntry& entry);

// Writes the entry's overlay payload to target, created as a new file together with its
// missing folders, checking it on the way: Damaged as above (the checksum is compared once
// all of it is written, before anyone uses the file), Failed when creating or writing the
// target failed. Either leaves a partial target for the caller to delete. node may be
// null; crc receives the CRC-32 of what was written. Main thread; two 1 MiB buffers.
OverlayRead WriteOverlayToFile(const std::wstring& target, ProgressNode* node,
                               const FileEntry& entry, std::uint32_t* crc);

}  // namespace vard
