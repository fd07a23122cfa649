// The patch data that does not fit the patcher's image: payloads placed after everything
// the stub's image holds (the overlay), which Windows never maps, so a patch may be larger
// than the 32-bit patcher's address space allows for resources. The pack manifests say
// where each such payload lies (docs/manifests.md); the patcher finds the overlay's start
// from the trailer that ends it:
//
//   payloads, back to back, in the order of overlay.txt
//   zero bytes, so that the file's length (trailer included) is a multiple of 8
//   trailer: overlay start (file offset, 64-bit little-endian), then kOverlayMagic
//
// The file's length is a multiple of 8 so that signing appends its certificate table
// right after the trailer, without padding between them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "mkpatch/compare/patch_plan.h"
#include "mkpatch/output/exe_writer.h"

namespace vard::mkpatch {

inline constexpr char kOverlayMagic[8] = {'V', 'a', 'r', 'd', 'O', 'v', 'l', '1'};
inline constexpr size_t kOverlayTrailerSize = 16;
// The folder's list of payloads that go to the overlay, "<offset> <size> <id>" a line, in
// overlay order; absent when everything is embedded.
inline constexpr const char* kOverlayListName = "overlay.txt";

struct OverlayPayload {
  uint64_t offset = 0, size = 0;
  int id = 0;
};

// Keeps payloads embedded in manifest order while their bytes together stay within
// `embedded_budget`; each one that does not fit goes to the overlay (overlay_offset set,
// offsets back to back). Returns the overlay's payload bytes.
uint64_t PlaceOverlay(PatchPlan& plan, uint64_t embedded_budget);

// The overlay payloads of the plan, in overlay order.
std::vector<OverlayPayload> OverlayPayloads(const PatchPlan& plan);

// Writes or (with nothing to list) removes the folder's overlay.txt.
void WriteOverlayList(const std::vector<OverlayPayload>& list, const std::filesystem::path& folder);
// The folder's overlay.txt, empty when absent; throws InputError for a damaged list (not
// back to back, or bad numbers).
std::vector<OverlayPayload> ReadOverlayList(const std::filesystem::path& folder);

// Appends the overlay to `exe` (whose current end becomes its start): each listed payload
// copied from <id>.bin of the folder in 1 MiB pieces, then padding and trailer. Throws
// InputError for a payload file missing or not of its listed size.
void AppendOverlay(ExeWriter& exe, const std::vector<OverlayPayload>& list,
                   const std::filesystem::path& folder);

}  // namespace vard::mkpatch
