// File-system actions on wide paths, through the Win32 API and the shell. None of them
// shows anything, throws or reports progress; each answers with a plain result.
// Callable from any thread; no shared state.
#pragma once

#include <cstdint>
#include <string>

namespace vard {

// True when PathFileExistsW answers exactly 1 (a file or a directory).
bool PathExists(const std::wstring& path);

// Opens the file for reading (others may read too) and reads its 64-bit size. False when
// it cannot be opened (a file held open elsewhere without read sharing has no size) or
// sized; size is left alone when the open fails and set to 0 when the size query fails.
bool QueryFileSize(const std::wstring& path, std::uint64_t& size);

// Creates every missing directory of the chain. True when all of them exist afterwards;
// directories created before a failing one remain.
bool CreateDirectoryTree(const std::wstring& path);

// Shell delete without confirmation, error UI or recycle bin; a directory goes with
// everything in it. False when the shell reports a failure (a missing path included).
bool DeletePath(const std::wstring& path);

// Shell rename, silent; false on failure.
bool RenamePath(const std::wstring& from, const std::wstring& to);

// Gives from the name to in one step, replacing a file that bears it: at every moment
// to is either its old or its new content, so a failure or a crash of this process never
// loses it. Before the rename, from's data are flushed to the disk (FlushFileBuffers);
// the rename itself is then asked to be written through. That makes a power cut leave to
// with its old content or with the complete new one on systems that keep the order of
// those two writes (NTFS journals the rename after the flushed data); it does not make
// the rename itself durable at return, nor does it help a disk that lies about its cache.
// False on failure (from cannot be flushed or renamed; a file held open elsewhere or a
// read-only one cannot be replaced), both files as they were.
bool ReplacePath(const std::wstring& from, const std::wstring& to);

// Deletes a file (never a folder) with a plain file call. True when nothing bears the
// name afterwards, so also when there was nothing to delete.
bool RemoveFile(const std::wstring& path);

// Clears the read-only attribute of the file or folder, keeping its other attributes.
// True when it is not read-only afterwards (a missing path included).
bool ClearReadOnly(const std::wstring& path);

}  // namespace vard
