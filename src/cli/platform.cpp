// The parts of platform.h that are the same on every system, on the system calls of
// platform_posix.cpp or platform_win32.cpp (platform_system.h).
#include "cli/platform.h"

#include "cli/platform_system.h"

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <thread>

using namespace platform_detail;

namespace {

std::string ErrnoText(int code) { return std::generic_category().message(code); }

// The largest piece one read or write call moves; Windows' calls count in unsigned int.
constexpr std::size_t MaxTransfer = std::size_t{1} << 30;

int DescriptorOf(TStandardStream stream) {
    switch (stream) {
    case TStandardStream::ssInput: return 0;
    case TStandardStream::ssOutput: return 1;
    case TStandardStream::ssError: break;
    }
    return 2;
}

bool WriteAll(int descriptor, std::string_view text, int& code) {
    bool console = false;
    if (!WriteConsoleText(descriptor, text, console)) {
        code = EIO;
        return false;
    }
    if (console) {
        return true;
    }
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

std::vector<std::string> GetUtf8Arguments(int argc, char** argv) { return ReadArguments(argc, argv); }

void PrepareStandardStreams() { SetBinaryStreams(); }

bool IsTerminal(TStandardStream stream) { return IsTerminalDescriptor(DescriptorOf(stream)); }

std::unique_ptr<TInputFile> TInputFile::Open(const std::string& name, std::string& error) {
    std::unique_ptr<TInputFile> file(new TInputFile());
    if (name == "-") {
        file->FDescriptor = 0;
    } else {
        // A folder is not opened (Windows cannot open one for reading): it has no bytes.
        bool regular = false;
        std::uint64_t size = 0;
        if (StatName(name, regular, file->FFolder, size) && file->FFolder) {
            return file;
        }
        file->FDescriptor = OpenDescriptor(name);
        if (file->FDescriptor < 0) {
            error = ErrnoText(errno);
            return nullptr;
        }
        file->FOwned = true;
    }
    if (!StatDescriptor(file->FDescriptor, file->FRegular, file->FFolder, file->FSize)) {
        error = ErrnoText(errno);
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
        return true; // read by name, by the formats that read folders
    }
    return !regular || Open(name, error) != nullptr;
}

TInputFile::~TInputFile() {
    if (FOwned) {
        CloseDescriptor(FDescriptor);
    }
}

bool TInputFile::DataWaiting() const { return FRegular || FFolder || DescriptorHasData(FDescriptor); }

std::size_t TInputFile::Read(char* buffer, std::size_t capacity) {
    if (FFolder) {
        return 0; // a folder is read by name, by the formats that read folders
    }
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
