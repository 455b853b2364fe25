#pragma once
// Byte I/O on the descriptors the console host is given (standard input and
// output, or the pipes a supervisor connects), where a write must be able
// to give way to a stop instead of blocking on a reader that went quiet.

#include <cstddef>
#include <cstdio>
#include <string_view>

namespace velmar::platform {

using Descriptor = int;

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

}  // namespace velmar::platform
