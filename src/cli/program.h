// corvane-decode as a whole: parses the arguments, reads every input through the pipeline and
// writes the records, the summary or the scan. Returns the exit status: 0 when every frame
// decoded with a good CRC (--scan: a layout passed every frame), 1 otherwise or when there
// was no frame, 2 for a usage error or an input that cannot be opened, recognised or read.
#pragma once

#include <string>
#include <vector>

int RunProgram(const std::vector<std::string>& args);
