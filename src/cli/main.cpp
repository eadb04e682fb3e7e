// corvane-decode: decodes captured BiSS-C frames from the command line.
#include "cli/platform.h"
#include "cli/program.h"

#include <exception>
#include <string>

int main(int argc, char** argv) {
    PrepareStandardStreams();
    try {
        return RunProgram(GetUtf8Arguments(argc, argv));
    } catch (const std::exception& e) {
        WriteStandardError(std::string("corvane-decode: ") + e.what() + "\n");
    }
    return 2;
}
