// The operating-system calls under platform.cpp, one definition per system:
// platform_posix.cpp and platform_win32.cpp, of which the build compiles the one that fits
// (src/cli/CMakeLists.txt). Only the platform sources include this; the rest of the program
// sees platform.h. Every call works on C runtime descriptors and reports failures in errno.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform_detail {

// The program's arguments after the program name, in UTF-8; throws std::system_error when
// the system cannot give them.
std::vector<std::string> ReadArguments(int argc, char** argv);
// Standard input, output and error in binary mode where the system has a text mode.
void SetBinaryStreams();

// Opens the file `name` (UTF-8) for reading; -1 with errno set on failure.
int OpenDescriptor(const std::string& name);
int CloseDescriptor(int descriptor);
// At most `size` bytes; the count moved, or -1 with errno set.
long long ReadDescriptor(int descriptor, char* buffer, std::size_t size);
long long WriteDescriptor(int descriptor, const char* text, std::size_t size);

// What the descriptor or the name is: a regular file (with its size), a folder, or neither.
// False with errno set when the system cannot tell.
bool StatDescriptor(int descriptor, bool& regular, bool& directory, std::uint64_t& size);
bool StatName(const std::string& name, bool& regular, bool& directory, std::uint64_t& size);
// A terminal, or on Windows a console.
bool IsTerminalDescriptor(int descriptor);
// Whether a read of the descriptor (a pipe, a terminal, a device) would return at once:
// bytes, the end or an error are waiting. True when the system cannot tell, so that a caller
// never stops early for an input it cannot watch.
bool DescriptorHasData(int descriptor);

// Writes `text` whole to a console, as characters rather than bytes, where the descriptor
// is one; `handled` is false for anything else (a file, a pipe, a terminal of Unix), which
// the caller writes as bytes. Returns false when the console refused the text.
bool WriteConsoleText(int descriptor, std::string_view text, bool& handled);

} // namespace platform_detail
