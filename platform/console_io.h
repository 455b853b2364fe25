#pragma once
// Byte I/O on the descriptors the console host is given (standard input and
// output, or the pipes a supervisor connects), where a write must be able
// to give way to a stop instead of blocking on a reader that went quiet.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace velmar::platform {

using Descriptor = int;
inline constexpr Descriptor kStandardInput = 0;

// The descriptor under a stdio stream; negative for a stream without one.
Descriptor DescriptorOf(std::FILE* stream);

// One byte: 1 when read, 0 at the end of the input, negative on an error.
// An interrupted read is resumed.
int ReadByte(Descriptor input, char& byte);

enum class WriteReadiness { kReady, kNotYet, kFailed };
// Waits up to `limitMs` for room to write; an interrupted wait is kNotYet.
WriteReadiness WaitForRoom(Descriptor output, int limitMs);

// Writes at most as many bytes as a pipe takes at once (so a write after
// WaitForRoom said kReady cannot block). The count written, 0 when the
// write should be tried again, negative when the output is closed or broken.
long WriteSome(Descriptor output, std::string_view bytes);

// The whole input of a command: a named file opened for reading (negative
// when it cannot be), its size when it is a regular file, and reads of
// whatever is there. An interrupted read is resumed; the count read, 0 at
// the end, negative on an error (a folder fails its first read).
Descriptor OpenForReading(const std::string& path);
void CloseDescriptor(Descriptor descriptor);
std::optional<uint64_t> RegularFileSizeOf(Descriptor descriptor);
long ReadSome(Descriptor input, char* buffer, std::size_t capacity);

}  // namespace velmar::platform
