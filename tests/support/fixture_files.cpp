#include "tests/support/fixture_files.h"

#include <cstdio>
#include <cstdlib>

namespace camvue::test_support {
namespace {

std::FILE* Open(const std::string& path, const char* mode) {
    std::FILE* file = std::fopen(path.c_str(), mode);
#ifdef _WIN32
    // A Linux absolute path works through Z: only while Z: is the current drive.
    if (file == nullptr && !path.empty() && path[0] == '/') {
        file = std::fopen(("Z:" + path).c_str(), mode);
    }
#endif
    return file;
}

}  // namespace

std::string FixtureDir(const std::string& kind) {
    const char* root = std::getenv("CAMVUE_SOURCE_DIR");
    if (root == nullptr || *root == '\0') {
        return std::string();
    }
    return std::string(root) + "/tests/fixtures/" + kind + "/";
}

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* out) {
    std::FILE* file = Open(path, "rb");
    if (file == nullptr) {
        return false;
    }
    out->clear();
    uint8_t buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        out->insert(out->end(), buffer, buffer + n);
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* file = Open(path, "wb");
    if (file == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

std::vector<std::vector<std::string>> ReadTsv(const std::string& path) {
    std::vector<std::vector<std::string>> rows;
    std::vector<uint8_t> text;
    if (!ReadFileBytes(path, &text)) {
        return rows;
    }
    text.push_back('\n');
    std::string line;
    for (uint8_t c : text) {
        if (c == '\r') {
            continue;
        }
        if (c != '\n') {
            line.push_back(static_cast<char>(c));
            continue;
        }
        if (!line.empty() && line[0] != '#') {
            std::vector<std::string> fields;
            size_t start = 0;
            for (;;) {
                const size_t tab = line.find('\t', start);
                fields.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
                if (tab == std::string::npos) {
                    break;
                }
                start = tab + 1;
            }
            rows.push_back(fields);
        }
        line.clear();
    }
    return rows;
}

}  // namespace camvue::test_support
