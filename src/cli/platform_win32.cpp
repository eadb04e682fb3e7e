// The system calls of platform.cpp on Windows, through the wide-character API: arguments
// and file names in any script arrive and are opened intact, the C runtime's descriptors
// are in binary mode so that no "\r\n" translation touches the data, and a console is
// written as UTF-16 characters.
#include "cli/platform_system.h"

#include <algorithm>
#include <climits>
#include <cwchar>
#include <system_error>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#include <shellapi.h>

namespace {

std::string NarrowText(const wchar_t* text, int length) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(std::max(bytes, 0)), '\0');
    if (bytes > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), bytes, nullptr, nullptr);
    }
    return out;
}

std::wstring WideText(std::string_view text) {
    const int size = static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX));
    const int chars = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(std::max(chars, 0)), L'\0');
    if (chars > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), size, out.data(), chars);
    }
    return out;
}

HANDLE StreamHandle(int descriptor) { return reinterpret_cast<HANDLE>(_get_osfhandle(descriptor)); }

bool IsConsole(int descriptor) {
    DWORD mode = 0;
    return GetConsoleMode(StreamHandle(descriptor), &mode) != 0;
}

void Describe(const struct _stat64& info, bool& regular, bool& directory, std::uint64_t& size) {
    regular = (info.st_mode & _S_IFMT) == _S_IFREG;
    directory = (info.st_mode & _S_IFMT) == _S_IFDIR;
    size = regular ? static_cast<std::uint64_t>(info.st_size) : 0;
}

} // namespace

namespace platform_detail {

std::vector<std::string> ReadArguments(int, char**) {
    // The narrow argv is in the ANSI code page, which cannot hold every name: the wide
    // command line is read instead.
    std::vector<std::string> args;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        // Without its arguments the program would read standard input instead of the files
        // named: a failure (exit status 2), not an empty command line.
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "cannot read the command line");
    }
    for (int i = 1; i < count; ++i) {
        const std::size_t length = wcslen(wide[i]);
        args.push_back(length == 0 ? std::string()
                                   : NarrowText(wide[i], static_cast<int>(std::min<std::size_t>(
                                                             length, INT_MAX))));
    }
    LocalFree(wide);
    return args;
}

void SetBinaryStreams() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

int OpenDescriptor(const std::string& name) {
    return _wopen(WideText(name).c_str(), _O_RDONLY | _O_BINARY);
}
int CloseDescriptor(int descriptor) { return _close(descriptor); }
long long ReadDescriptor(int descriptor, char* buffer, std::size_t size) {
    return _read(descriptor, buffer, static_cast<unsigned>(size));
}
long long WriteDescriptor(int descriptor, const char* text, std::size_t size) {
    return _write(descriptor, text, static_cast<unsigned>(size));
}

bool StatDescriptor(int descriptor, bool& regular, bool& directory, std::uint64_t& size) {
    struct _stat64 info {};
    if (_fstat64(descriptor, &info) != 0) {
        return false;
    }
    Describe(info, regular, directory, size);
    return true;
}
bool StatName(const std::string& name, bool& regular, bool& directory, std::uint64_t& size) {
    struct _stat64 info {};
    if (_wstat64(WideText(name).c_str(), &info) != 0) {
        return false;
    }
    Describe(info, regular, directory, size);
    return true;
}
bool IsTerminalDescriptor(int descriptor) { return IsConsole(descriptor); }

bool DescriptorHasData(int descriptor) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    if (handle == INVALID_HANDLE_VALUE) {
        return true;
    }
    if (GetFileType(handle) == FILE_TYPE_PIPE) {
        DWORD available = 0;
        // A failure is a broken pipe: the end is waiting.
        return PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr) == 0 || available > 0;
    }
    if (GetFileType(handle) == FILE_TYPE_CHAR && IsConsole(descriptor)) {
        return WaitForSingleObject(handle, 0) != WAIT_TIMEOUT;
    }
    return true;
}

// A console shows UTF-16 text written with WriteConsoleW; bytes written to it would be read
// in the console's code page. The text is whole records, so no character is split; the pieces
// of one call end before a surrogate pair rather than inside it.
bool WriteConsoleText(int descriptor, std::string_view text, bool& handled) {
    handled = IsConsole(descriptor);
    if (!handled) {
        return true;
    }
    const std::wstring wide = WideText(text);
    std::size_t done = 0;
    while (done < wide.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 1 << 15));
        if (chunk > 1 && done + chunk < wide.size() && IS_HIGH_SURROGATE(wide[done + chunk - 1])) {
            --chunk;
        }
        DWORD written = 0;
        if (!WriteConsoleW(StreamHandle(descriptor), wide.data() + done, chunk, &written, nullptr) ||
            written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

} // namespace platform_detail
