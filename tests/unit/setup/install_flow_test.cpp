// The installer's sequence with stand-in payloads (test_payloads.rc), each
// case in folders and a registry key of its own: the outcome message, the
// installed files, the registration and what stays in the temporary folder.
#include "setup/install_flow.h"

#include <gtest/gtest.h>
#include <shellapi.h>
#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/fixture_files.h"

namespace {

constexpr char kSuccess[] = "Browser RTSP plugin was installed successfully.";

class Recorder : public SetupMessages {
  public:
    void Show(const char* text) override { shown.emplace_back(text); }
    std::vector<std::string> shown;
};

std::string Payload(int id) {
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10));
    HGLOBAL loaded = found != nullptr ? LoadResource(nullptr, found) : nullptr;
    const char* bytes =
        loaded != nullptr ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    return bytes != nullptr ? std::string(bytes, SizeofResource(nullptr, found)) : "<none>";
}

std::string ReadFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!camvue::test_support::ReadFileBytes(path, &bytes)) {
        return "<missing>";
    }
    return std::string(bytes.begin(), bytes.end());
}

void WriteFile(const std::string& path, const std::string& text) {
    ASSERT_TRUE(camvue::test_support::WriteFileBytes(path, {text.begin(), text.end()})) << path;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Names in a folder, sorted; empty when it does not exist.
std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        if (std::string(entry.cFileName) != "." && std::string(entry.cFileName) != "..") {
            names.emplace_back(entry.cFileName);
        }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

class InstallFlow : public ::testing::Test {
  protected:
    void SetUp() override {
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        root_ = std::string(base) + "camvue-setup-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(GetTickCount64());
        setup_ = root_ + "\\setup";
        temp_ = setup_ + "\\setup_rtsp_plugin_temp";
        program_files_ = root_ + "\\Program Files";
        install_ = program_files_ + "\\Corvina Browser Plugins\\RTSP Plugin";
        codec_ = install_ + "\\codec";
        ASSERT_TRUE(CreateDirectoryA(root_.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(setup_.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(program_files_.c_str(), nullptr));
        module_file_ = setup_ + "\\setup-rtsp-plugin-x64.exe";
        // The special-folder lookup gives "/" separators: so does the seam.
        program_files_slashed_ = program_files_;
        for (char& c : program_files_slashed_) {
            c = c == '\\' ? '/' : c;
        }
        key_ = std::string("Software\\camvue-setup-tests-") +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        RegDeleteTreeA(HKEY_CURRENT_USER, key_.c_str());
        plugins_key_ = key_ + "\\MozillaPlugins";
        places_.module_file = module_file_.c_str();
        places_.program_files = program_files_slashed_.c_str();
        places_.registry_root = 0;  // HKEY_CURRENT_USER
        places_.plugins_key = plugins_key_.c_str();
        places_.hide_console = false;
    }
    void TearDown() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, key_.c_str());
        RemoveTree(root_);
    }

    static void RemoveTree(const std::string& folder) {
        std::string from = folder;
        from.push_back('\0');  // a list of one, double-terminated
        SHFILEOPSTRUCTA remove = {};
        remove.wFunc = FO_DELETE;
        remove.pFrom = from.c_str();
        remove.fFlags = FOF_NO_UI;
        SHFileOperationA(&remove);
    }

    std::vector<std::string> Run() {
        Recorder recorder;
        EXPECT_EQ(RunSetup(recorder, places_), 0);
        return recorder.shown;
    }

    // The plug-in key's values in their order, as "name=data".
    std::vector<std::string> Values() {
        std::vector<std::string> values;
        HKEY key;
        const std::string path = plugins_key_ + "\\" + kPluginIdentifier;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return values;
        }
        for (DWORD i = 0;; ++i) {
            char name[256], data[1024];
            DWORD name_size = sizeof name, data_size = sizeof data, type = 0;
            if (RegEnumValueA(key, i, name, &name_size, nullptr, &type,
                              reinterpret_cast<BYTE*>(data), &data_size) != ERROR_SUCCESS) {
                break;
            }
            EXPECT_EQ(type, static_cast<DWORD>(REG_SZ)) << name;
            values.push_back(std::string(name) + "=" + data);
        }
        RegCloseKey(key);
        return values;
    }

    std::vector<std::string> Registered() {
        return {"Description=RTSP Plugin", "Path=" + install_ + "\\npcamvue.dll",
                "ProductName=RTSP Plugin", "Vendor=Velmora", "Version=1.0.0.1"};
    }

    void ExpectInstalled(const char* context) {
        SCOPED_TRACE(context);
        EXPECT_EQ(ReadFile(install_ + "\\npcamvue.dll"), Payload(111));
        EXPECT_EQ(ReadFile(codec_ + "\\h264.dll"), Payload(110));
        EXPECT_EQ(ReadFile(codec_ + "\\picdec.dll"), Payload(109));
        EXPECT_EQ(Values(), Registered());
        EXPECT_FALSE(Exists(temp_)) << "the emptied temporary folder is removed";
    }

    std::string root_, setup_, temp_, program_files_, program_files_slashed_, install_, codec_;
    std::string module_file_, key_, plugins_key_;
    SetupPlaces places_;
};

TEST_F(InstallFlow, InstallsRegistersAndRewritesAnEarlierInstallation) {
    EXPECT_EQ(Run(), std::vector<std::string>{kSuccess});
    ExpectInstalled("fresh");
    // Path was built with "/" from the Program Files folder: stored with "\".
    EXPECT_EQ(Values()[1].find('/'), std::string::npos);

    WriteFile(install_ + "\\npcamvue.dll", "old plug-in");
    WriteFile(codec_ + "\\h264.dll", "old h264");
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (plugins_key_ + "\\" + kPluginIdentifier).c_str(), 0,
                            KEY_WRITE, &key),
              ERROR_SUCCESS);
    RegSetValueExA(key, "Path", 0, REG_SZ, reinterpret_cast<const BYTE*>("old"), 4);
    RegCloseKey(key);
    EXPECT_EQ(Run(), std::vector<std::string>{kSuccess});
    ExpectInstalled("over an earlier installation");
}

// The leftover payloads and the plug-in in use are run on the real program
// (tests/integration/setup_test.py).

TEST_F(InstallFlow, FailedRegistryWritesStillReportSuccess) {
    // A key name longer than the registry takes: every registry call fails.
    plugins_key_ = key_ + "\\" + std::string(300, 'k');
    places_.plugins_key = plugins_key_.c_str();
    EXPECT_EQ(Run(), std::vector<std::string>{kSuccess});
    EXPECT_EQ(ReadFile(install_ + "\\npcamvue.dll"), Payload(111));
    EXPECT_TRUE(Values().empty());
}

// Each failure shows one message, writes no registry value, and keeps the
// folders and files made before it.
TEST_F(InstallFlow, EachFailureShowsItsMessageAndStops) {
    const std::string vendor = program_files_slashed_ + "\\Corvina Browser Plugins";
    const std::string install = vendor + "\\RTSP Plugin";
    struct Case {
        const char* name;
        std::function<void()> prepare;
        std::string message;
        bool temporary_folder_stays;
    };
    const Case cases[] = {
        {"folder in the way of a payload",
         [&] {
             CreateDirectoryA(temp_.c_str(), nullptr);
             CreateDirectoryA((temp_ + "\\kiv.type.dll").c_str(), nullptr);
         },
         "directory '" + temp_ + "\\kiv.type.dll' already exists.Try to relocate this directory",
         true},
        {"vendor folder", [&] { WriteFile(program_files_ + "\\Corvina Browser Plugins", "x"); },
         "Cannot create path '" + vendor + "'", false},
        {"codec folder",
         [&] {
             SHCreateDirectoryExA(nullptr, install_.c_str(), nullptr);
             WriteFile(codec_, "x");
         },
         "Cannot create path '" + install + "\\codec'", false},
        {"plug-in copy",
         [&] { SHCreateDirectoryExA(nullptr, (install_ + "\\npcamvue.dll").c_str(), nullptr); },
         "Cannot copy file 'npcamvue.dll to path '" + install + "'", false},
        {"h264 copy",
         [&] { SHCreateDirectoryExA(nullptr, (codec_ + "\\h264.dll").c_str(), nullptr); },
         "Cannot copy file 'h264.dll to path '" + install + "\\codec'", false},
        {"picdec copy",
         [&] { SHCreateDirectoryExA(nullptr, (codec_ + "\\picdec.dll").c_str(), nullptr); },
         "Cannot copy file 'picdec.dll to path '" + install + "\\codec'", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare();
        EXPECT_EQ(Run(), std::vector<std::string>{c.message});
        EXPECT_TRUE(Values().empty());
        EXPECT_EQ(Exists(temp_), c.temporary_folder_stays);
        // Undo this case's obstacle and what the run left, for the next one.
        RemoveTree(program_files_ + "\\*");
        RemoveTree(temp_);
    }
}

TEST_F(InstallFlow, SetupFolderTooDeepOrNameTooLongTouchesNothing) {
    // Past the setup folder the longest payload path takes "\\" + 22 + "\\" +
    // 14 characters and the terminator: a folder of 221 fits, 222 does not.
    auto folder_of_length = [&](size_t length) {
        return root_ + "\\" + std::string(length - root_.size() - 1, 'd');
    };
    const std::string deep = folder_of_length(222);
    module_file_ = deep + "\\setup.exe";
    places_.module_file = module_file_.c_str();
    EXPECT_EQ(Run(), std::vector<std::string>{"Cannot install from '" + deep +
                                              "': the folder path is too long. Move the setup "
                                              "program to a shorter path."});
    EXPECT_FALSE(Exists(deep));
    EXPECT_TRUE(Listing(program_files_).empty());

    const std::string fits = folder_of_length(221);
    ASSERT_TRUE(CreateDirectoryA(fits.c_str(), nullptr));
    module_file_ = fits + "\\setup.exe";
    places_.module_file = module_file_.c_str();
    EXPECT_EQ(Run(), std::vector<std::string>{kSuccess});
    EXPECT_EQ(Listing(fits), std::vector<std::string>{});

    module_file_ = root_ + "\\" + std::string(600, 'n') + "\\setup.exe";
    places_.module_file = module_file_.c_str();
    EXPECT_EQ(Run(), std::vector<std::string>{"Cannot get module file name"});
}

}  // namespace
