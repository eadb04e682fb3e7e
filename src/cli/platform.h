// What corvane-decode needs from the operating system, in one place: its arguments in UTF-8,
// files opened by UTF-8 names, standard streams in binary mode, terminals recognised, output
// written whole. On Windows it goes through the wide-character API, so that file names in any
// script work and no "\r\n" translation touches the data.
#pragma once

#include "capture/capture.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The program's arguments after the program name, in UTF-8.
std::vector<std::string> GetUtf8Arguments(int argc, char** argv);

// Puts standard input and output in binary mode where the system has a text mode.
void PrepareStandardStreams();

enum class TStandardStream { ssInput, ssOutput, ssError };
// Whether the stream is a terminal (a console on Windows), not a file or a pipe.
bool IsTerminal(TStandardStream stream);

// An input file, or standard input for the name "-", read from start to end.
class TInputFile final : public TByteSource {
public:
    // Opens `name` (UTF-8), a file or a folder; on failure returns nothing and sets `error` to
    // the system's reason.
    static std::unique_ptr<TInputFile> Open(const std::string& name, std::string& error);
    // Whether `name` can be opened, without waiting for a writer to a named pipe: a regular
    // file is opened and closed again, anything else only looked up. `size` is the size of a
    // regular file, 0 otherwise.
    static bool Check(const std::string& name, std::uint64_t& size, std::string& error);
    ~TInputFile() override;
    TInputFile(const TInputFile&) = delete;
    TInputFile& operator=(const TInputFile&) = delete;

    // Throws TInputError when the system cannot read it.
    std::size_t Read(char* buffer, std::size_t capacity) override;
    // A regular file always has data waiting; a pipe or a terminal when its writer has sent
    // what has not been read yet, or closed it.
    bool DataWaiting() const override;

    // A regular file, whose size is known (not a pipe, a terminal or a device).
    bool IsRegular() const { return FRegular; }
    bool IsTerminal() const { return FTerminal; }
    // A folder: it has no bytes (Read gives the end at once); formats that read folders open
    // its files by name.
    bool IsFolder() const { return FFolder; }
    // The size of a regular file in bytes; 0 otherwise.
    std::uint64_t Size() const { return FSize; }

private:
    TInputFile() = default;

    int FDescriptor = -1;
    bool FOwned = false;
    bool FRegular = false;
    bool FTerminal = false;
    bool FFolder = false;
    std::uint64_t FSize = 0;
};

// Writes all of `text` to standard output; false, with the system's reason in `error`, when
// it cannot (a full disk, a closed pipe where SIGPIPE is ignored).
bool WriteStandardOutput(std::string_view text, std::string& error);
// Writes `text` to standard error, as much as it can.
void WriteStandardError(std::string_view text);

// Processors available to this program.
unsigned CountProcessors();
