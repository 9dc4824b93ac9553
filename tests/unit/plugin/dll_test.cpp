// The built npcamvue.dll as a browser and a caller of its helpers see it:
// every export found by its published name and callable with its calling
// convention, and the version block the browser reads the MIME type from.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "npcamvue/shell/aligned_block.h"
#include "npcamvue/shell/npapi.h"

namespace {

using namespace camvue;

std::string DllPath() {
    std::string path = CAMVUE_NPCAMVUE_DLL;
    if (!path.empty() && path[0] == '/')
        path = "Z:" + path;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

#if defined(_WIN64)
constexpr const char* kGetAppDirPath = "?GetAppDirPath@@YAHAEAPEAD@Z";
constexpr const char* kSafeStrcat = "?SAFE_STRCAT@@YAHAEAPEADPEBD@Z";
#else
constexpr const char* kGetAppDirPath = "?GetAppDirPath@@YAHAAPAD@Z";
constexpr const char* kSafeStrcat = "?SAFE_STRCAT@@YAHAAPADPBD@Z";
#endif

using GetEntryPointsFn = NPError(NP_EXPORT_CALL*)(NPPluginFuncs*);
using ShutdownFn = NPError(NP_EXPORT_CALL*)();
using AppDirFn = int (*)(char*&);
using StrcatFn = int (*)(char*&, const char*);

template <typename T>
T Export(HMODULE module, const char* name) {
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

class PluginDll : public ::testing::Test {
  protected:
    void SetUp() override {
        module_ = LoadLibraryA(DllPath().c_str());
        ASSERT_NE(nullptr, module_) << DllPath() << " error " << GetLastError();
    }
    void TearDown() override {
        if (module_ != nullptr)
            FreeLibrary(module_);
    }
    HMODULE module_ = nullptr;
};

TEST_F(PluginDll, ExportsWorkThroughTheirPublishedNames) {
    auto getEntryPoints = Export<GetEntryPointsFn>(module_, "NP_GetEntryPoints");
    auto initialize = Export<void*>(module_, "NP_Initialize");
    auto shutdown = Export<ShutdownFn>(module_, "NP_Shutdown");
    auto appDir = Export<AppDirFn>(module_, kGetAppDirPath);
    auto strcat = Export<StrcatFn>(module_, kSafeStrcat);
    auto* cmpxchg = Export<int32_t*>(module_, "IsCMPXCHG8BSupport");
    ASSERT_TRUE(getEntryPoints && initialize && shutdown && appDir && strcat && cmpxchg);
    EXPECT_EQ(-1, *cmpxchg);

    NPPluginFuncs funcs = {};
    funcs.size = static_cast<uint16_t>(kPluginFuncsMinSize - 1);
    EXPECT_EQ(NPERR_INVALID_FUNCTABLE_ERROR, getEntryPoints(&funcs));
    EXPECT_EQ(nullptr, funcs.newp);
    funcs.size = static_cast<uint16_t>(kPluginFuncsMinSize);
    EXPECT_EQ(NPERR_NO_ERROR, getEntryPoints(&funcs));
    EXPECT_EQ(27, funcs.version);
    ASSERT_NE(nullptr, funcs.write);
    NPP_t npp = {};
    EXPECT_EQ(1000, funcs.write(&npp, nullptr, 0, 1000, nullptr));

    EXPECT_EQ(NPERR_NO_ERROR, shutdown());

    // The caller's AlignedBlock crosses the boundary both ways.
    char* buffer = reinterpret_cast<char*>(AlignedBlock::New(2));
    buffer[0] = 'x';
    EXPECT_EQ(4, strcat(buffer, "abc"));
    EXPECT_STREQ("xabc", buffer);
    const int length = appDir(buffer);
    char host[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, host, sizeof host);
    const std::string folder(host, std::strrchr(host, '\\') + 1);
    EXPECT_EQ(static_cast<int>(folder.size()), length);
    EXPECT_EQ(folder, buffer);
    AlignedBlock::Free(buffer);
}

TEST_F(PluginDll, VersionBlockNamesThePlugin) {
    const std::string path = DllPath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> data(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, data.data()));
    WORD* translation = nullptr;
    UINT bytes = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &bytes));
    ASSERT_EQ(4u, bytes);
    EXPECT_EQ(0x0409, translation[0]);
    EXPECT_EQ(0x04E4, translation[1]);
    const struct {
        const char* key;
        const char* value;
    } keys[] = {
        {"CompanyName", "Velmora"},
        {"FileDescription", "npcamvue"},
        {"FileExtents", "camvue"},
        {"FileOpenName", "npcamvue"},
        {"FileVersion", "1, 0, 0, 1"},
        {"InternalName", "npcamvue"},
        {"MIMEType", "application/mozilla-npcamvue-scriptable-plugin"},
        {"OriginalFilename", "npcamvue.dll"},
        {"ProductName", "npcamvue scriptable plugin"},
        {"ProductVersion", "1, 0, 0, 1"},
    };
    for (const auto& k : keys) {
        const std::string query = std::string("\\StringFileInfo\\040904e4\\") + k.key;
        char* value = nullptr;
        UINT length = 0;
        ASSERT_TRUE(
            VerQueryValueA(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
            << k.key;
        EXPECT_STREQ(k.value, value) << k.key;
    }
}

}  // namespace
