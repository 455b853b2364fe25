#pragma once
// Reading files that are known to be regular files: a pipe could block a
// reader for ever and a device like /dev/zero would feed it until memory
// runs out.

#include <cstdint>
#include <cstdio>
#include <string>

namespace velmar::platform {

// The file opened for binary reading when the path names a regular file;
// null otherwise. A pipe with no writer is refused at once, not waited for.
std::FILE* OpenRegularFileForReading(const std::string& path);
// The size of an open regular file; false when the system cannot tell or
// the file is no regular file.
bool RegularFileSize(std::FILE* file, uint64_t& size);

enum class WholeFileRead {
  kRead,
  kMissing,  // nothing of that name: an empty file to the caller
  kRefused,  // a folder, pipe, device, unreadable or larger than the limit
};
// The whole content of a regular file of at most `limit` bytes. Anything
// else is refused at once (never waited on, never read without end), with
// the reason.
WholeFileRead ReadWholeRegularFile(const std::string& path, uint64_t limit, std::string& out,
                                   std::string& reason);

enum class PathKind {
  kRegularFile,
  kMissing,  // nothing of that name (its folder may still be missing too)
  kOther,    // a folder, pipe or device, or a path that cannot be checked
};
PathKind KindOfPath(const std::string& path);

}  // namespace velmar::platform
