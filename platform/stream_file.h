#pragma once
// A file written as things happen (a run's trace): each Write goes to the
// system at once, so whatever was written survives the program crashing or
// being killed. Unlike the files of durable_file.h it is never replaced
// whole, because a reader may follow it while it grows.

#include <cstdint>
#include <string>
#include <string_view>

namespace velmar::platform {

class StreamFile {
 public:
  StreamFile() = default;
  StreamFile(const StreamFile&) = delete;
  StreamFile& operator=(const StreamFile&) = delete;
  ~StreamFile() { Close(); }

  // Creates or empties `path` for its owner only (mode 600, also when it
  // existed with a wider mode); a link there is not followed. False with
  // the reason when it cannot be opened for writing.
  bool Open(const std::string& path, std::string& reason);
  // Writes all of `data`; false with the reason (a full disk) otherwise.
  bool Write(std::string_view data, std::string& reason);
  // Gives back the room reserved past the end (see Write).
  void Close();
  bool open() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  std::string path_;
  // A file that keeps growing has room reserved ahead of its end in large
  // steps, where the file system allows, which makes each small write to it
  // cheaper; the file's size is only ever what was written.
  uint64_t written_ = 0;
  uint64_t reserved_ = 0;
  bool reserving_ = true;
};

}  // namespace velmar::platform
