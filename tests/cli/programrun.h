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

#ifndef _WIN32
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
    // standard input. On Windows the shell is cmd: its cd changes the drive only with /d, and
    // it finds the program by a full path of the system's own form.
    TProgramRun Run(const std::string& args, const std::string& input = "") {
        Write("stdin", input);
#ifdef _WIN32
        const std::string cd = "cd /d \"";
#else
        const std::string cd = "cd \"";
#endif
        const std::string command = cd + FDir.string() + "\" && \"" + ProgramPath().string() +
                                    "\" " + args + " < stdin > stdout 2> stderr";
        const int raw = std::system(command.c_str());
        TProgramRun run;
#ifdef _WIN32
        run.Status = raw;
#else
        EXPECT_TRUE(WIFEXITED(raw)) << "ended by a signal: " << args;
        run.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
#endif
        run.Out = ReadWholeFile(FDir / "stdout");
        run.Err = ReadWholeFile(FDir / "stderr");
        return run;
    }

    static std::filesystem::path ProgramPath() {
        static const std::filesystem::path path =
            std::filesystem::absolute(CORVANE_DECODE_EXE).make_preferred();
        return path;
    }

    std::filesystem::path FDir;
};
