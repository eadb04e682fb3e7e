// A fresh folder for a test's files, unique across the test processes that CTest runs side by
// side (a name from the process's own random device, not from rand(), whose sequence every
// process shares).
#pragma once

#include <filesystem>
#include <random>
#include <string>

inline std::filesystem::path MakeTempDir(const std::string& name) {
    static std::random_device device;
    static std::mt19937_64 random(device());
    std::filesystem::path dir;
    do {
        dir = std::filesystem::temp_directory_path() / ("corvane-" + name + "-" + std::to_string(random()));
    } while (std::filesystem::exists(dir));
    std::filesystem::create_directories(dir);
    return dir;
}
