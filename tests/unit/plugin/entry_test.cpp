// The module's entry points: the size and version rules of both function
// tables, the stream entries, GetAppDirPath and SAFE_STRCAT.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "npcamvue/shell/aligned_block.h"
#include "npcamvue/shell/browser.h"
#include "npcamvue/shell/np_exports.h"
#include "npcamvue/shell/plugin_instance.h"
#include "npcamvue/shell/shell_seams.h"
#include "tests/unit/plugin/fake_browser.h"

namespace {

using namespace camvue;
using camvue_test::FakeBrowser;

TEST(EntryPoints, PluginTableSizeRules) {
    struct Case {
        int size;  // -1: null table
        NPError want;
    };
    const int min = static_cast<int>(kPluginFuncsMinSize);
    for (const Case c : {Case{-1, 3}, Case{0, 3}, Case{min - 1, 3}, Case{min, 0},
                         Case{static_cast<int>(sizeof(NPPluginFuncs)), 0}}) {
        SCOPED_TRACE(c.size);
        NPPluginFuncs funcs;
        std::memset(&funcs, 0xAB, sizeof funcs);
        funcs.size = static_cast<uint16_t>(c.size < 0 ? 0 : c.size);
        const NPPluginFuncs before = funcs;
        EXPECT_EQ(c.want, NP_GetEntryPoints(c.size < 0 ? nullptr : &funcs));
        // Entries past `setvalue` belong to the browser: never written.
        EXPECT_EQ(0, std::memcmp(&before.gotfocus, &funcs.gotfocus,
                                 sizeof funcs - offsetof(NPPluginFuncs, gotfocus)));
        if (c.want != 0) {
            EXPECT_EQ(0, std::memcmp(&before, &funcs, sizeof funcs));
            continue;
        }
        EXPECT_EQ(27, funcs.version);
        EXPECT_EQ(nullptr, funcs.javaClass);
        for (void* entry :
             {reinterpret_cast<void*>(funcs.newp), reinterpret_cast<void*>(funcs.destroy),
              reinterpret_cast<void*>(funcs.setwindow), reinterpret_cast<void*>(funcs.newstream),
              reinterpret_cast<void*>(funcs.destroystream), reinterpret_cast<void*>(funcs.asfile),
              reinterpret_cast<void*>(funcs.writeready), reinterpret_cast<void*>(funcs.write),
              reinterpret_cast<void*>(funcs.print), reinterpret_cast<void*>(funcs.event),
              reinterpret_cast<void*>(funcs.urlnotify), reinterpret_cast<void*>(funcs.getvalue),
              reinterpret_cast<void*>(funcs.setvalue)})
            EXPECT_NE(nullptr, entry);
    }
}

TEST(EntryPoints, BrowserTableSizeAndVersionRules) {
    struct Case {
        int size;  // -1: null table
        uint16_t version;
        NPError want;
        bool copied;     // geturl .. setexception
        bool enumerate;  // the entry after the popup-state ones
    };
    const int min = static_cast<int>(kBrowserFuncsMinSize);    // 164 on 32-bit x86
    const int full = static_cast<int>(kBrowserFuncsFullSize);  // 224 on 32-bit x86
    const Case cases[] = {
        {-1, 27, 3, false, false},      {full, 0x0100, 8, false, false},
        {min - 1, 27, 3, false, false}, {min, 27, 0, true, false},
        {full - 1, 27, 0, true, false}, {full, 27, 0, true, true},
        {full, 0x00FF, 0, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " v" + std::to_string(c.version));
        BrowserTableClear();
        NPNetscapeFuncs table = FakeBrowser::Get().Table(sizeof(NPNetscapeFuncs), c.version);
        table.size = static_cast<uint16_t>(c.size < 0 ? 0 : c.size);
        auto marker = [](NPObject*, const NPUTF8*) {};
        auto popup = [](NPP, NPBool) {};
        auto enumerate = [](NPP, NPObject*, NPIdentifier**, uint32_t*) { return true; };
        table.setexception = marker;
        table.pushpopupsenabledstate = popup;
        table.enumerate = enumerate;
        EXPECT_EQ(c.want, NP_Initialize(c.size < 0 ? nullptr : &table));
        EXPECT_EQ(c.copied, g_browser.setexception == table.setexception);
        EXPECT_EQ(c.copied, g_browser.getvalue == table.getvalue);
        EXPECT_EQ(c.copied, g_invalidateRect == table.invalidaterect);
        EXPECT_EQ(c.enumerate, g_browser.enumerate == table.enumerate);
        EXPECT_EQ(nullptr, g_browser.pushpopupsenabledstate);
        if (c.copied) {
            EXPECT_EQ(table.size, g_browser.size);
            EXPECT_EQ(c.version, g_browser.version);
        }
    }
    // A shorter table after a whole one leaves no entry of the old one.
    NPNetscapeFuncs whole = FakeBrowser::Get().Table();
    whole.enumerate = [](NPP, NPObject*, NPIdentifier**, uint32_t*) { return true; };
    ASSERT_EQ(0, NP_Initialize(&whole));
    NPNetscapeFuncs shorter = FakeBrowser::Get().Table(static_cast<uint16_t>(kBrowserFuncsMinSize));
    ASSERT_EQ(0, NP_Initialize(&shorter));
    EXPECT_EQ(nullptr, g_browser.enumerate);
    EXPECT_EQ(0, NP_Shutdown());
}

TEST(EntryPoints, StreamsAreAcceptedAndDropped) {
    NPPluginFuncs f = {};
    f.size = sizeof f;
    ASSERT_EQ(0, NP_GetEntryPoints(&f));
    NPP_t npp = {};
    char data[1000] = {};
    NPStream stream = {};
    uint16_t type = 0;
    const struct {
        const char* what;
        int32_t got;
        int32_t want;
    } cases[] = {
        {"write", f.write(&npp, &stream, 0, 1000, data), 1000},
        {"write null", f.write(nullptr, &stream, 0, 1000, data), 2},
        {"writeready", f.writeready(&npp, &stream), 0x0FFFFFFF},
        {"writeready null", f.writeready(nullptr, &stream), 2},
        {"newstream null", f.newstream(nullptr, nullptr, &stream, 0, &type), 2},
        {"destroystream null", f.destroystream(nullptr, &stream, NPRES_DONE), 2},
        {"setvalue null", f.setvalue(nullptr, NPNVisOfflineBool, nullptr), 2},
        {"new null", f.newp(nullptr, nullptr, NP_EMBED, 0, nullptr, nullptr, nullptr), 2},
        {"setwindow no window", f.setwindow(&npp, nullptr), 1},
        {"getvalue null", f.getvalue(nullptr, NPPVpluginNameString, nullptr), 2},
        {"getvalue no instance", f.getvalue(&npp, NPPVpluginNameString, data), 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.want, c.got) << c.what;
}

// The host program's file name as the seam reports it; `calls` records the
// capacities asked with.
std::string g_hostName;
std::vector<DWORD> g_capacities;
int g_fullReports = 0;  // first calls that fill the whole capacity

DWORD FakeHostName(char* buffer, DWORD size) {
    g_capacities.push_back(size);
    if (g_fullReports > 0) {
        --g_fullReports;
        std::memset(buffer, 'a', size);  // truncated, no NUL
        return size;
    }
    const DWORD n = static_cast<DWORD>(g_hostName.size()) < size
                        ? static_cast<DWORD>(g_hostName.size())
                        : size - 1;
    std::memcpy(buffer, g_hostName.data(), n);
    buffer[n] = '\0';
    return n;
}

TEST(AppDirPath, FolderOfTheHostProgram) {
    struct Case {
        const char* host;
        int full;  // first reports that fill the capacity
        int want;
        const char* text;
        std::vector<DWORD> capacities;
    };
    const Case cases[] = {
        {"C:\\Program Files\\Browser\\browser.exe", 0, 25, "C:\\Program Files\\Browser\\", {4096}},
        {"C:\\a/b\\c.exe", 0, 5, "C:\\a/", {4096}},  // the last "/" wins over "\"
        {"browser.exe", 0, 11, "browser.exe", {4096}},
        {"C:\\x\\y.exe", 2, 5, "C:\\x\\", {4096, 4608, 5120}},
        {"", 0, 0, "", {4096}},
    };
    camvue::g_shellSeams.hostFileName = FakeHostName;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        g_hostName = c.host;
        g_fullReports = c.full;
        g_capacities.clear();
        char* buffer = nullptr;
        EXPECT_EQ(c.want, GetAppDirPath(buffer));
        ASSERT_NE(nullptr, buffer);
        EXPECT_STREQ(c.text, buffer);
        EXPECT_EQ(c.capacities, g_capacities);
        EXPECT_GE(AlignedBlock::Count(buffer), static_cast<int>(c.capacities.back()));
        AlignedBlock::Free(buffer);
    }
    // A caller's block: grown (bytes kept) when small, kept when large.
    g_hostName = "C:\\h\\b.exe";
    char* small = reinterpret_cast<char*>(AlignedBlock::New(8));
    EXPECT_EQ(5, GetAppDirPath(small));
    EXPECT_EQ(4096, AlignedBlock::Count(small));
    char* large = reinterpret_cast<char*>(AlignedBlock::New(9000));
    char* const before = large;
    EXPECT_EQ(5, GetAppDirPath(large));
    EXPECT_EQ(before, large);
    // A name that stays truncated up to the limit: bounded, no separator.
    g_fullReports = 10000;
    char* endless = nullptr;
    const int got = GetAppDirPath(endless);
    EXPECT_LT(got, 0x100000);
    EXPECT_EQ(static_cast<int>(g_capacities.back()), got);
    AlignedBlock::Free(small);
    AlignedBlock::Free(large);
    AlignedBlock::Free(endless);
    camvue::ResetShellSeams();
}

char* Block(const char* text) {
    if (text == nullptr)
        return nullptr;
    auto* block = reinterpret_cast<char*>(AlignedBlock::New(static_cast<int>(strlen(text)) + 1));
    std::strcpy(block, text);
    return block;
}

TEST(SafeStrcat, AppendsTheReadableAsciiPrefix) {
    struct Case {
        const char* buffer;  // null: no block yet
        const char* text;
        int want;
        const char* result;
    };
    const Case cases[] = {
        {"x", "abc", 4, "xabc"},
        {nullptr, "abc", 3, "abc"},
        {"x",
         "ab\xE9"
         "d",
         3, "xab"},
        {"x", nullptr, 1, "x"},
        {"x", "", 1, "x"},
        {"\xC3x", "ab", 2, "ab"},
        {"", "hello", 5, "hello"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.buffer ? c.buffer : "(null)") + "+" +
                     (c.text ? c.text : "(null)"));
        char* buffer = Block(c.buffer);
        EXPECT_EQ(c.want, SAFE_STRCAT(buffer, c.text));
        ASSERT_NE(nullptr, buffer);
        EXPECT_STREQ(c.result, buffer);
        AlignedBlock::Free(buffer);
    }
    // The text ends at an unreadable page without a NUL.
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    auto* pages = static_cast<char*>(
        VirtualAlloc(nullptr, 2 * info.dwPageSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(nullptr, pages);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(pages + info.dwPageSize, info.dwPageSize, PAGE_NOACCESS, &old));
    char* tail = pages + info.dwPageSize - 3;
    std::memcpy(tail, "abc", 3);
    char* buffer = Block("x");
    EXPECT_EQ(4, SAFE_STRCAT(buffer, tail));
    EXPECT_STREQ("xabc", buffer);
    // Appending a block's text to itself: the text is read before the block moves.
    EXPECT_EQ(8, SAFE_STRCAT(buffer, buffer));
    EXPECT_STREQ("xabcxabc", buffer);
    AlignedBlock::Free(buffer);
    VirtualFree(pages, 0, MEM_RELEASE);
}

}  // namespace
