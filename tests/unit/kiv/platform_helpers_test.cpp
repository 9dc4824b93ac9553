// Registry, special folders, file helpers, resources, diagnostic output and
// error texts, against wine's real registry and file system.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kiv.basis/lib/diagnostic.h"
#include "kiv.basis/lib/error_text.h"
#include "kiv.basis/lib/files.h"
#include "kiv.basis/lib/registry.h"
#include "tests/support/fixture_files.h"
#include "tests/unit/kiv/kiv_test_util.h"

namespace {

std::string BytesOf(XString& text) {
    return std::string(text.Bytes());
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// A fresh folder under the temporary folder, with "/" separators.
std::string TempFolder(const char* leaf) {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    std::string path = std::string(base) + "kiv-" + leaf + "-" +
                       std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(GetTickCount64());  // process ids repeat under wine
    CreateDirectoryA(path.c_str(), nullptr);
    for (char& c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
    return path;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    ASSERT_TRUE(camvue::test_support::WriteFileBytes(
        path, std::vector<uint8_t>(bytes.begin(), bytes.end())))
        << path;
}

std::string ReadFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!camvue::test_support::ReadFileBytes(path, &bytes)) {
        return "<missing>";
    }
    return std::string(bytes.begin(), bytes.end());
}

// ctest runs cases in parallel processes: each case has a key of its own.
class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        key_ = std::string("Software\\camvue-kiv-tests-") +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        RegDeleteTreeA(HKEY_CURRENT_USER, key_.c_str());
    }
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, key_.c_str()); }
    std::string key_;
};

TEST_F(RegistryTest, CreateSetAndReadBack) {
    XRegistry registry;
    XString error;
    registry.CreateRegKey(kRootCurrentUser, XString(key_.c_str()), error);
    EXPECT_EQ(error.get_Length(), 0u) << error.Bytes();
    registry.set_RegValueAsString(kRootCurrentUser, XString(key_.c_str()), XString("Path"),
                                  XString(L"C:\\Program Files\\\x041f"), error);
    EXPECT_EQ(error.get_Length(), 0u) << error.Bytes();
    wchar_t value[64] = {};
    DWORD size = sizeof value;
    const std::wstring wide_key(key_.begin(), key_.end());
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, wide_key.c_str(), L"Path", RRF_RT_REG_SZ, nullptr,
                           value, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(value), L"C:\\Program Files\\\x041f");
    EXPECT_EQ(size, (std::wcslen(value) + 1) * 2);
}

TEST_F(RegistryTest, ExistingKeyIsReportedButUsable) {
    XRegistry registry;
    XString error;
    registry.CreateRegKey(kRootCurrentUser, XString(key_.c_str()), error);
    registry.CreateRegKey(kRootCurrentUser, XString(key_.c_str()), error);
    const std::string text = BytesOf(error);
    EXPECT_EQ(text.rfind(std::string(KIV_TEST_MODULE_NAME) +
                             " module , XRegistry::CreateRegKey , "
                             "registry key '" +
                             key_ + "' already exists",
                         0),
              0u)
        << text;
    EXPECT_TRUE(EndsWith(text, "' already exists\n"));
    registry.set_RegValueAsString(kRootCurrentUser, XString(key_.c_str()), XString("v"),
                                  XString("1"), error);
    EXPECT_EQ(error.get_Length(), 0u);
}

TEST_F(RegistryTest, SettingAValueInAMissingKeyFails) {
    XRegistry registry;
    XString error;
    registry.set_RegValueAsString(kRootCurrentUser, XString((key_ + "\\none").c_str()),
                                  XString("v"), XString("1"), error);
    const std::string text = BytesOf(error);
    EXPECT_NE(text.find("XRegistry::set_RegValueAsString , cannot set registry key value , "
                        "reason:"),
              std::string::npos)
        << text;
    char system_text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   ERROR_FILE_NOT_FOUND, 0, system_text, sizeof system_text, nullptr);
    EXPECT_NE(text.find(system_text), std::string::npos) << text;
}

TEST_F(RegistryTest, LocalMachineWhereWineAllowsIt) {
    XRegistry registry;
    XString error;
    const char key[] = "Software\\camvue-kiv-tests-hklm";
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, key);
    registry.CreateRegKey(kRootLocalMachine, XString(key), error);
    HKEY handle;
    const bool created =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) == ERROR_SUCCESS;
    if (created) {
        RegCloseKey(handle);
        EXPECT_EQ(error.get_Length(), 0u);
    } else {
        EXPECT_NE(BytesOf(error).find("cannot create registry key , reason:"), std::string::npos);
    }
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, key);
}

TEST(SpecialFolder, NamesResolveWithForwardSlashes) {
    XString error;
    XString program_files(KivGetSpecialFolder("PROGRAM FILES", error));
    EXPECT_EQ(error.get_Length(), 0u);
    const std::string path = BytesOf(program_files);
    EXPECT_EQ(path.find('\\'), std::string::npos) << path;
    EXPECT_NE(path.find(":/"), std::string::npos) << path;
    XString documents(KivGetSpecialFolder("MYDOCUMENTS", error));
    XString unknown(KivGetSpecialFolder("Desktop", error));
    EXPECT_TRUE(unknown.Equals(documents));
    XString lower(KivGetSpecialFolder("program files", error));  // names are exact
    EXPECT_TRUE(lower.Equals(documents));
    XString windows(KivGetSpecialFolder("WINDOWS", error));
    XString system(KivGetSpecialFolder("SYSTEM", error));
    EXPECT_EQ(system.IndexOf(windows), 0);
    EXPECT_FALSE(system.Equals(windows));
}

TEST(Files, CopyCreatesThreeMissingLevels) {
    const std::string base = TempFolder("copy");
    const std::string source = base + "/source.bin";
    std::string payload;
    for (int i = 0; i < 8192 * 3 + 17; ++i) {
        payload.push_back(static_cast<char>(i * 7));
    }
    WriteFile(source, payload);
    const std::string target = base + "/one/two/three/target.bin";
    XString error;
    EXPECT_TRUE(KivCopyFile(XString(source.c_str()), XString(target.c_str()), error))
        << error.Bytes();
    EXPECT_EQ(ReadFile(target), payload);
    EXPECT_TRUE(KivFolderExists(XString((base + "/one/two/three").c_str())));
    EXPECT_TRUE(KivFileExists(XString(target.c_str())));
    EXPECT_FALSE(KivFolderExists(XString(target.c_str())));
    // Backslashes and a UTF-16 target work the same way.
    std::string back = base + "\\four\\copy.bin";
    XString wide_target(XString(back.c_str()).ToUtf16());
    EXPECT_TRUE(KivCopyFile(XString(source.c_str()), wide_target, error)) << error.Bytes();
    EXPECT_EQ(ReadFile(base + "/four/copy.bin"), payload);
    EXPECT_TRUE(KivDeleteFile(wide_target, error));
    EXPECT_FALSE(KivFileExists(wide_target));
}

TEST(Files, CopyEmptyFileAndFailures) {
    const std::string base = TempFolder("empty");
    WriteFile(base + "/empty.bin", "");
    XString error;
    EXPECT_TRUE(KivCopyFile(XString((base + "/empty.bin").c_str()),
                            XString((base + "/sub/empty.bin").c_str()), error));
    EXPECT_EQ(ReadFile(base + "/sub/empty.bin"), "");
    EXPECT_FALSE(KivCopyFile(XString((base + "/missing.bin").c_str()),
                             XString((base + "/sub/x.bin").c_str()), error));
    EXPECT_GT(error.get_Length(), 0u);
    EXPECT_TRUE(KivCopyFile(XString(""), XString((base + "/y").c_str()), error));
    EXPECT_EQ(error.get_Length(), 0u);  // an empty path is nothing to do
}

TEST(Files, OverlongPathsAreRefused) {
    const std::string base = TempFolder("long");
    const std::string longer = base + "/" + std::string(300, 'a') + ".bin";
    XString error;
    EXPECT_FALSE(KivCopyFile(XString((base + "/x").c_str()), XString(longer.c_str()), error));
    EXPECT_NE(BytesOf(error).find("path too long"), std::string::npos);
    EXPECT_FALSE(KivDeleteFile(XString(longer.c_str()), error));
    EXPECT_NE(BytesOf(error).find("path too long"), std::string::npos);
    EXPECT_FALSE(KivFolderExists(XString(longer.c_str())));
    EXPECT_FALSE(KivFileExists(XString(longer.c_str())));
    char* message = nullptr;
    EXPECT_FALSE(KivWriteResourceToFile(longer.c_str(), 201, std::malloc, &message));
    ASSERT_NE(message, nullptr);
    EXPECT_NE(std::string(message).find("too long"), std::string::npos);
    std::free(message);
}

TEST(Files, FoldersAndDeletion) {
    const std::string base = TempFolder("folders");
    const std::string folder = base + "/made";
    EXPECT_FALSE(KivFolderExists(XString(folder.c_str())));
    KivCreateFolder(XString(folder.c_str()));
    EXPECT_TRUE(KivFolderExists(XString(folder.c_str())));
    XString wide(XString(folder.c_str()).ToUtf16());
    EXPECT_TRUE(KivFolderExists(wide.Detach()));
    EXPECT_FALSE(KivFolderExists(XString("")));
    XString error;
    EXPECT_FALSE(KivDeleteFile(XString((base + "/nothing").c_str()), error));
    EXPECT_GT(error.get_Length(), 0u);
    EXPECT_FALSE(KivDeleteFile(XString(""), error));
    WriteFile(base + "/gone.bin", "x");
    EXPECT_TRUE(KivDeleteFileA((base + "/gone.bin").c_str()));
    EXPECT_FALSE(KivDeleteFileA((base + "/gone.bin").c_str()));
}

TEST(Files, ResourceIsWrittenOnceThenRefused) {
    const std::string base = TempFolder("resource");
    const std::string path = base + "/payload.bin";
    std::remove(path.c_str());
    char* message = nullptr;
    ASSERT_TRUE(KivWriteResourceToFile(path.c_str(), 201, std::malloc, &message));
    EXPECT_EQ(message, nullptr);
    const std::string written = ReadFile(path);
    EXPECT_EQ(written.rfind("camvue test payload", 0), 0u) << written;
    EXPECT_FALSE(KivWriteResourceToFile(path.c_str(), 201, std::malloc, &message));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(std::string(message), "file '" + path + "' already exists.Try to relocate this file");
    std::free(message);
    message = nullptr;
    EXPECT_FALSE(KivWriteResourceToFile(base.c_str(), 201, std::malloc, &message));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(std::string(message),
              "directory '" + base + "' already exists.Try to relocate this directory");
    std::free(message);
    EXPECT_FALSE(KivWriteResourceToFile(path.c_str(), 201, nullptr, nullptr));  // no message
    EXPECT_FALSE(KivWriteResourceToFile((base + "/none.bin").c_str(), 999, std::malloc, &message));
    EXPECT_FALSE(KivFileExists(XString((base + "/none.bin").c_str())));
    EXPECT_FALSE(KivWriteResourceToFile("", 201, std::malloc, &message));
}

TEST(Files, FolderPartOfAPath) {
    struct Case {
        const char* path;
        const char* folder;
    } cases[] = {{"C:\\a\\b.exe", "C:\\a"},  {"b.exe", "b.exe"},        {"\\b.exe", ""},
                 {"C:/a/b/c.txt", "C:/a/b"}, {"C:\\a/b\\c", "C:\\a/b"}, {"", ""}};
    for (const Case& c : cases) {
        char* folder = nullptr;
        KivFolderOfPath(c.path, std::malloc, &folder);
        ASSERT_NE(folder, nullptr);
        EXPECT_STREQ(folder, c.folder) << c.path;
        std::free(folder);
    }
    char* untouched = nullptr;
    KivFolderOfPath("C:\\a\\b", nullptr, &untouched);
    EXPECT_EQ(untouched, nullptr);
}

TEST(Diagnostic, ErrorLineFormatAndConsoleColours) {
    XString line(KivErrorLine("XThing::Do", XString("it failed")));
    EXPECT_EQ(BytesOf(line),
              std::string(KIV_TEST_MODULE_NAME) + " module , XThing::Do , it failed\n");
    // A file stream has no console: the text arrives unchanged, as UTF-8.
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    KivPrint(file, kKivMessageError, XString(L"\x041f!"));
    KivPrint(file, kKivMessagePlain, XString(""));
    std::rewind(file);
    char read[16] = {};
    std::fread(read, 1, sizeof read - 1, file);
    std::fclose(file);
    EXPECT_STREQ(read, "\xd0\x9f!");
}

std::vector<unsigned short>& Attributes() {
    static std::vector<unsigned short> attributes;
    return attributes;
}
int RecordAttribute(void*, unsigned short attribute) {
    Attributes().push_back(attribute);
    return 1;
}

TEST(Diagnostic, ColourByKindThenBrightWhite) {
    // Standard error is a console handle or a pipe here; the attribute calls
    // are recorded either way.
    if (GetStdHandle(STD_ERROR_HANDLE) == nullptr) {
        SetStdHandle(STD_ERROR_HANDLE, GetStdHandle(STD_OUTPUT_HANDLE));
    }
    KivSetConsoleAttributeForTest(RecordAttribute);
    const struct {
        int kind;
        std::vector<unsigned short> expected;
    } cases[] = {{kKivMessageError, {12, 15}},
                 {kKivMessageSuccess, {10, 15}},
                 {kKivMessagePlain, {15, 15}},
                 {7, {15}}};  // an unknown kind keeps the colour, still resets
    for (const auto& c : cases) {
        Attributes().clear();
        KivPrint(stderr, c.kind, XString(""));  // an empty text still colours
        EXPECT_EQ(Attributes(), c.expected) << "kind " << c.kind;
    }
    Attributes().clear();
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    KivPrint(file, kKivMessageError, XString("x"));  // not a console stream
    std::fclose(file);
    EXPECT_TRUE(Attributes().empty());
    KivSetConsoleAttributeForTest(nullptr);
}

TEST(ErrorText, ReturnedAsStrings) {
    XString reset(KivGetErrorText(10054, kErrorTableSockets));
    EXPECT_EQ(BytesOf(reset).rfind("Connection reset by peer.", 0), 0u);
    XString unknown(KivGetErrorText(10054, kErrorTableInstallerDatabase));
    EXPECT_EQ(BytesOf(unknown), "Unknown error");
    XString empty(KivGetErrorText(0, kErrorTableInstallerDatabase));
    EXPECT_EQ(empty.get_Length(), 0u);
    XString two(KivGetErrorText(1631, kErrorTableInstaller));
    EXPECT_EQ(BytesOf(two),
              "The Windows Installer service failed to start. Contact your support personnel");
}

}  // namespace
