// The last stage of diff encoding: turns a sequence of edit steps (copy old bytes, move
// in the old file, insert or replace with literal bytes) into the byte stream of the
// format, choosing the shortest number forms and escaping data bytes 0xA7 only where the
// format requires it. The matcher decides what to say; this decides how to write it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vard::mkpatch {

class DiffEmitter {
 public:
  // Moves the old position to target with a seek back or forward (nothing when it is
  // already there).
  void SeekTo(std::uint64_t target);
  // Copies count bytes of the old file from the current old position (count > 0).
  void Copy(std::uint64_t count);
  // Appends literal bytes without moving in the old file.
  void Insert(const unsigned char* data, std::size_t count);
  // Appends literal bytes that stand in for as many old bytes; the old position
  // advances with them (and stops at old_size, where the new file grows past the old).
  void Replace(const unsigned char* data, std::size_t count, std::uint64_t old_size);

  std::uint64_t old_position() const { return old_position_; }
  // Ends the stream and hands it over; the emitter is empty afterwards.
  std::vector<unsigned char> Finish();

 private:
  enum class Mode { None, Seek, Copy, Insert, Replace };
  void Command(unsigned char code);
  void Number(std::uint64_t n);
  void SetMode(Mode mode);
  void Literal(const unsigned char* data, std::size_t count);
  // A data byte 0xA7 still waiting for the byte that follows it: doubled before a
  // command byte or at the end, alone before anything else.
  void SettlePendingEscape(bool next_is_command_byte);

  std::vector<unsigned char> out_;
  Mode mode_ = Mode::None;
  std::uint64_t old_position_ = 0;
  bool pending_escape_ = false;
};

}  // namespace vard::mkpatch
