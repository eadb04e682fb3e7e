// Running the built corvane-decode as a user runs it: in a folder of the test's own, with its
// standard input, output and error in files there.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/wait.h>
#endif

struct TProgramRun {
    int Status = -1;
    std::string Out;
    std::string Err;
};

inline std::string ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A test with a folder of its own, removed at its end, in which the program runs.
class TProgramFolderTest : public testing::Test {
protected:
    void SetUp() override {
        FDir = std::filesystem::path(testing::TempDir()) /
               ("corvane-decode-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(FDir);
    }
    void TearDown() override { std::filesystem::remove_all(FDir); }

    void Write(const std::string& name, const std::string& content) {
        std::ofstream(FDir / name, std::ios::binary) << content;
    }

    // Runs the program in the test's folder with `args` (shell words) and `input` on its
    // standard input.
    TProgramRun Run(const std::string& args, const std::string& input = "") {
        Write("stdin", input);
        TProgramRun run;
#ifdef _WIN32
        run.Status = Spawn(args);
#else
        const std::string command = "cd \"" + FDir.string() + "\" && \"" + ProgramPath().string() +
                                    "\" " + args + " < stdin > stdout 2> stderr";
        const int raw = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(raw)) << "ended by a signal: " << args;
        run.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
#endif
        run.Out = ReadWholeFile(FDir / "stdout");
        run.Err = ReadWholeFile(FDir / "stderr");
        return run;
    }

#ifdef _WIN32
    // Starts the program itself, not through cmd: cmd under Wine now and then fails to find a
    // program it found a moment before and reports that as the command's own failure. The
    // command line is the program's quoted path and `args` as they stand, which is what the
    // program's C runtime splits into words; its standard streams are files in the folder.
    int Spawn(const std::string& args) {
        const auto open = [this](const char* name, DWORD access, DWORD disposition) {
            SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
            return CreateFileW((FDir / name).wstring().c_str(), access, FILE_SHARE_READ, &inherit,
                               disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        };
        const HANDLE in = open("stdin", GENERIC_READ, OPEN_EXISTING);
        const HANDLE out = open("stdout", GENERIC_WRITE, CREATE_ALWAYS);
        const HANDLE err = open("stderr", GENERIC_WRITE, CREATE_ALWAYS);
        std::wstring line = L"\"" + ProgramPath().wstring() + L"\" " +
                            std::wstring(args.begin(), args.end()); // ASCII words
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in;
        startup.hStdOutput = out;
        startup.hStdError = err;
        PROCESS_INFORMATION process{};
        const std::wstring folder = FDir.wstring();
        const BOOL started = in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE &&
                             err != INVALID_HANDLE_VALUE &&
                             CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                            folder.c_str(), &startup, &process);
        const DWORD startError = GetLastError();
        DWORD status = static_cast<DWORD>(-1);
        if (started) {
            WaitForSingleObject(process.hProcess, INFINITE);
            GetExitCodeProcess(process.hProcess, &status);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
        for (const HANDLE handle : {in, out, err}) {
            if (handle != INVALID_HANDLE_VALUE) {
                CloseHandle(handle);
            }
        }
        EXPECT_TRUE(started) << "could not start the program (error " << startError << "): " << args;
        return static_cast<int>(status);
    }
#endif

    static std::filesystem::path ProgramPath() {
        static const std::filesystem::path path =
            std::filesystem::absolute(CORVANE_DECODE_EXE).make_preferred();
        return path;
    }

    std::filesystem::path FDir;
};
