// A file opened on its own name (a link is opened as the link, never followed) and kept
// open from the decision about it to its deletion through the same handle, so that what is
// deleted is what was judged, whatever is put in its name meanwhile. The elevated patcher
// deletes this way in folders that ordinary users may write: the game's deleted entries
// and the players' saves. Main thread; the handle lives as long as the object.
#pragma once

#include <cstdint>
#include <string>

#include "os/win_handle.h"

namespace vard {

class DeletableFile {
 public:
  enum class Sharing {
    // Others may go on reading, writing and deleting the file; one held open by someone
    // who shares less (a running game) does not open.
    All,
    // Others may only read, and the file is opened for reading too: until it is closed
    // nobody can write, rename or delete it, or put a link in its place.
    ReadersOnly,
  };

  // Opens the entry that bears the name, a folder or a link included (see IsPlainFile).
  // False when it cannot be opened; missing() then tells whether nothing bears the name.
  bool Open(const std::wstring& path, Sharing sharing);
  bool missing() const { return missing_; }

  // What the system reports for the opened entry: the handle's attributes and those listed
  // for its name, since Wine reports a link to a folder in the latter only.
  std::uint32_t attributes() const { return attributes_; }
  // Neither a folder nor a reparse point.
  bool IsPlainFile() const;
  HANDLE handle() const { return file_.get(); }

  // Deletes the opened entry through its handle, a read-only file too: with POSIX
  // semantics where the system offers them (the name goes at once, even while others
  // still have the file open), else the classic way. False on failure, the file then as
  // it was.
  bool Delete();

 private:
  FileHandle file_;
  std::uint32_t attributes_ = 0;
  bool missing_ = false;
};

}  // namespace vard
