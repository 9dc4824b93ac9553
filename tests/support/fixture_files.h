// Test files: whole-file reads and writes (under wine a Linux absolute path is
// retried through the Z: drive) and the tab-separated tables that describe the
// fixtures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace camvue::test_support {

// "<CAMVUE_SOURCE_DIR>/tests/fixtures/<kind>/", or "" when the variable is unset.
std::string FixtureDir(const std::string& kind);

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* out);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Rows of tab-separated fields; empty lines and lines starting with '#' are
// skipped, CR is ignored. An unreadable file gives no rows.
std::vector<std::vector<std::string>> ReadTsv(const std::string& path);

}  // namespace camvue::test_support
