// Files for the Windows benchmarks run under wine: a Linux path given on the
// command line becomes a Z: path, and whole files are read into memory.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace camvue_bench {

inline std::string WindowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path;
        std::replace(path.begin(), path.end(), '/', '\\');
    }
    return path;
}

// False for a file that cannot be read or is empty.
inline bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* out) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    uint8_t buffer[1 << 16];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        out->insert(out->end(), buffer, buffer + n);
    std::fclose(file);
    return !out->empty();
}

}  // namespace camvue_bench
