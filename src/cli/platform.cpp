#include "platform.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cwchar>
#include <system_error>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#include <shellapi.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

std::string ErrnoText(int code) { return std::generic_category().message(code); }

// The largest piece one read or write call moves; Windows' calls count in unsigned int.
constexpr std::size_t MaxTransfer = std::size_t{1} << 30;

#ifdef _WIN32

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

// A console shows UTF-16 text written with WriteConsoleW; bytes written to it would be read
// in the console's code page. The text is whole records, so no character is split; the pieces
// of one call end before a surrogate pair rather than inside it.
bool WriteConsole(int descriptor, std::string_view text) {
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
    regular = (info.st_mode & _S_IFMT) == _S_IFREG;
    directory = (info.st_mode & _S_IFMT) == _S_IFDIR;
    size = regular ? static_cast<std::uint64_t>(info.st_size) : 0;
    return true;
}
bool IsTerminalDescriptor(int descriptor) { return IsConsole(descriptor); }
bool StatName(const std::string& name, bool& regular, bool& directory, std::uint64_t& size) {
    struct _stat64 info {};
    if (_wstat64(WideText(name).c_str(), &info) != 0) {
        return false;
    }
    regular = (info.st_mode & _S_IFMT) == _S_IFREG;
    directory = (info.st_mode & _S_IFMT) == _S_IFDIR;
    size = regular ? static_cast<std::uint64_t>(info.st_size) : 0;
    return true;
}

#else

int OpenDescriptor(const std::string& name) { return open(name.c_str(), O_RDONLY | O_CLOEXEC); }
int CloseDescriptor(int descriptor) { return close(descriptor); }
long long ReadDescriptor(int descriptor, char* buffer, std::size_t size) {
    return read(descriptor, buffer, size);
}
long long WriteDescriptor(int descriptor, const char* text, std::size_t size) {
    return write(descriptor, text, size);
}
bool StatDescriptor(int descriptor, bool& regular, bool& directory, std::uint64_t& size) {
    struct stat info {};
    if (fstat(descriptor, &info) != 0) {
        return false;
    }
    regular = S_ISREG(info.st_mode);
    directory = S_ISDIR(info.st_mode);
    size = regular ? static_cast<std::uint64_t>(info.st_size) : 0;
    return true;
}
bool IsTerminalDescriptor(int descriptor) { return isatty(descriptor) != 0; }
bool StatName(const std::string& name, bool& regular, bool& directory, std::uint64_t& size) {
    struct stat info {};
    if (stat(name.c_str(), &info) != 0) {
        return false;
    }
    regular = S_ISREG(info.st_mode);
    directory = S_ISDIR(info.st_mode);
    size = regular ? static_cast<std::uint64_t>(info.st_size) : 0;
    return true;
}

#endif

int DescriptorOf(TStandardStream stream) {
    switch (stream) {
    case TStandardStream::ssInput: return 0;
    case TStandardStream::ssOutput: return 1;
    case TStandardStream::ssError: break;
    }
    return 2;
}

bool WriteAll(int descriptor, std::string_view text, int& code) {
#ifdef _WIN32
    if (IsConsole(descriptor)) {
        code = EIO;
        return WriteConsole(descriptor, text);
    }
#endif
    while (!text.empty()) {
        const long long written =
            WriteDescriptor(descriptor, text.data(), std::min(text.size(), MaxTransfer));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            code = written < 0 ? errno : EIO;
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

} // namespace

std::vector<std::string> GetUtf8Arguments(int argc, char** argv) {
    std::vector<std::string> args;
#ifdef _WIN32
    (void)argc;
    (void)argv;
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
#else
    for (int i = 1; i < argc; ++i) {
        args.emplace_back(argv[i]);
    }
#endif
    return args;
}

void PrepareStandardStreams() {
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
}

bool IsTerminal(TStandardStream stream) { return IsTerminalDescriptor(DescriptorOf(stream)); }

std::unique_ptr<TInputFile> TInputFile::Open(const std::string& name, std::string& error) {
    std::unique_ptr<TInputFile> file(new TInputFile());
    if (name == "-") {
        file->FDescriptor = 0;
    } else {
        file->FDescriptor = OpenDescriptor(name);
        if (file->FDescriptor < 0) {
            error = ErrnoText(errno);
            return nullptr;
        }
        file->FOwned = true;
    }
    bool directory = false;
    if (!StatDescriptor(file->FDescriptor, file->FRegular, directory, file->FSize)) {
        error = ErrnoText(errno);
        return nullptr;
    }
    if (directory) {
        error = ErrnoText(EISDIR);
        return nullptr;
    }
    file->FTerminal = IsTerminalDescriptor(file->FDescriptor);
    return file;
}

bool TInputFile::Check(const std::string& name, std::uint64_t& size, std::string& error) {
    size = 0;
    if (name == "-") {
        return true;
    }
    bool regular = false;
    bool directory = false;
    if (!StatName(name, regular, directory, size)) {
        error = ErrnoText(errno);
        return false;
    }
    if (directory) {
        error = ErrnoText(EISDIR);
        return false;
    }
    return !regular || Open(name, error) != nullptr;
}

TInputFile::~TInputFile() {
    if (FOwned) {
        CloseDescriptor(FDescriptor);
    }
}

std::size_t TInputFile::Read(char* buffer, std::size_t capacity) {
    for (;;) {
        const long long got = ReadDescriptor(FDescriptor, buffer, std::min(capacity, MaxTransfer));
        if (got >= 0) {
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) {
            throw TInputError(0, "cannot read: " + ErrnoText(errno));
        }
    }
}

bool WriteStandardOutput(std::string_view text, std::string& error) {
    int code = 0;
    if (!WriteAll(1, text, code)) {
        error = ErrnoText(code);
        return false;
    }
    return true;
}

void WriteStandardError(std::string_view text) {
    int code = 0;
    WriteAll(2, text, code);
}

unsigned CountProcessors() { return std::max(1U, std::thread::hardware_concurrency()); }
