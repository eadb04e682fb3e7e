// The system calls of platform.cpp on POSIX systems: arguments and file names are bytes
// (UTF-8 under the locales the program is used with), streams have no text mode.
#include "cli/platform_system.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform_detail {

std::vector<std::string> ReadArguments(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.emplace_back(argv[i]);
    }
    return args;
}

void SetBinaryStreams() {}

int OpenDescriptor(const std::string& name) { return open(name.c_str(), O_RDONLY | O_CLOEXEC); }
int CloseDescriptor(int descriptor) { return close(descriptor); }
long long ReadDescriptor(int descriptor, char* buffer, std::size_t size) {
    return read(descriptor, buffer, size);
}
long long WriteDescriptor(int descriptor, const char* text, std::size_t size) {
    return write(descriptor, text, size);
}

namespace {

void Describe(const struct stat& info, bool& regular, bool& directory, std::uint64_t& size) {
    regular = S_ISREG(info.st_mode);
    directory = S_ISDIR(info.st_mode);
    size = regular ? static_cast<std::uint64_t>(info.st_size) : 0;
}

} // namespace

bool StatDescriptor(int descriptor, bool& regular, bool& directory, std::uint64_t& size) {
    struct stat info {};
    if (fstat(descriptor, &info) != 0) {
        return false;
    }
    Describe(info, regular, directory, size);
    return true;
}
bool StatName(const std::string& name, bool& regular, bool& directory, std::uint64_t& size) {
    struct stat info {};
    if (stat(name.c_str(), &info) != 0) {
        return false;
    }
    Describe(info, regular, directory, size);
    return true;
}
bool IsTerminalDescriptor(int descriptor) { return isatty(descriptor) != 0; }

bool DescriptorHasData(int descriptor) {
    pollfd watched{};
    watched.fd = descriptor;
    watched.events = POLLIN;
    // POLLHUP and POLLERR come whatever was asked: the end or a fault is waiting too.
    return poll(&watched, 1, 0) != 0;
}

// A terminal takes the UTF-8 bytes as they are.
bool WriteConsoleText(int, std::string_view, bool& handled) {
    handled = false;
    return true;
}

} // namespace platform_detail
