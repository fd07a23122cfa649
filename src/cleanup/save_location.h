// Which folders a location file may send save removal to. The location files (the install
// folder's "data_directory" and the numbered files of the shared application data folder)
// can be written by ordinary users, and the patcher runs elevated: a folder on another
// machine would make it connect there with the administrator's credentials (SMB, WebDAV).
// Only folders on this machine's own drives and volumes are followed.
#pragma once

#include <string>

namespace vard {

// True when the absolute path (as the system resolves the location text) lies on a local
// drive ("C:\...", "\\?\C:\...") or a local volume ("\\?\Volume{...}\..."); drive gets its
// letter (upper case), or 0 for a volume, so that the caller can ask the system whether the
// drive is a mapped network drive. False for shares ("\\server\share", "\\?\UNC\...", the
// WebDAV forms "\\server@SSL@443\...") and every other device path.
bool IsLocalLocation(const std::wstring& full_path, wchar_t& drive);

}  // namespace vard
