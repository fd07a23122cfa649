// File-system actions on wide paths, through the Win32 API and the shell. None of them
// shows anything, throws or reports progress; each answers with a plain result.
// Callable from any thread; no shared state.
#pragma once

#include <cstdint>
#include <string>

namespace vard {

// True when a file or a directory bears the name (its attributes can be read). Takes long
// paths, which PathFileExistsW does not.
bool PathExists(const std::wstring& path);

// Opens the file for reading (others may read too) and reads its 64-bit size. False when
// it cannot be opened (a file held open elsewhere without read sharing has no size) or
// sized; size is left alone when the open fails and set to 0 when the size query fails.
bool QueryFileSize(const std::wstring& path, std::uint64_t& size);

// Creates every missing directory of the chain below its volume (a drive, a share, or
// either in long-path form). True when all of them exist afterwards; directories created
// before a failing one remain.
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

enum class FileDeletion { Deleted, Missing, NotAFile, Failed };

// Deletes the file that bears the name, through one handle opened on the name itself (a
// link is never followed), read-only or not. Whatever else bears the name (a folder, a
// link) is left as it is: NotAFile. Nothing else goes with the file: no "connected" files
// as the shell removes them ("x_files" beside "x.htm"). Missing when nothing bears the
// name; Failed when it cannot be opened (held open elsewhere) or deleted.
FileDeletion DeleteFileOnly(const std::wstring& path);

// Deletes a file (never a folder) with a plain file call. True when nothing bears the
// name afterwards, so also when there was nothing to delete.
bool RemoveFile(const std::wstring& path);

// Clears the read-only attribute of the file or folder, keeping its other attributes.
// True when it is not read-only afterwards (a missing path included).
bool ClearReadOnly(const std::wstring& path);

}  // namespace vard
