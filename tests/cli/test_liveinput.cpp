// corvane-decode fed by a live pipe, as from a serial port: each frame's record comes out while
// the writer is still quiet, not after a batch has filled or the input has ended.
#include <gtest/gtest.h>

#include <string>

#ifndef _WIN32
#include <cerrno>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Reads from `fd` until `lines` line ends have come or `seconds` have passed.
std::string ReadLines(int fd, int lines, int seconds) {
    std::string text;
    int seen = 0;
    for (int waited = 0; seen < lines && waited < seconds * 10;) {
        pollfd watched{fd, POLLIN, 0};
        if (poll(&watched, 1, 100) <= 0) {
            ++waited;
            continue;
        }
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        for (ssize_t i = 0; i < n; ++i) {
            seen += buffer[i] == '\n' ? 1 : 0;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

TEST(LiveInput, EachFrameIsWrittenWhileThePipeStaysOpen) {
    int in[2];
    int out[2];
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        close(in[1]);
        close(out[0]);
        execl(CORVANE_DECODE_EXE, CORVANE_DECODE_EXE, "--format", "csv", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    // The writer sends one frame and keeps the pipe open: its record (after the header) must
    // come without more input. The wait is generous; the program answers in milliseconds.
    const std::string frame = "C004C9BA71753000\n";
    ASSERT_EQ(write(in[1], frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
    const std::string first = ReadLines(out[0], 2, 20);
    EXPECT_NE(first.find("-:1,C004C9BA71753000,decoded"), std::string::npos) << first;
    ASSERT_EQ(write(in[1], frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
    const std::string second = ReadLines(out[0], 1, 20);
    EXPECT_NE(second.find("-:2,C004C9BA71753000,decoded"), std::string::npos) << second;
    close(in[1]);
    int status = 0;
    waitpid(child, &status, 0);
    close(out[0]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace
#endif
