// Binding of the runtime libraries from a program whose own folder holds none
// of them: found beside the module that needs them, or refused cleanly when
// the library or one of its exports is missing.
#include "kiv.basis/lib/binding.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "kiv.basis/includes/kiv_exports.h"
#include "kiv.basis/lib/string.h"

namespace {

// A fresh folder with copies of the given files (name in folder, source).
std::wstring FolderWith(const wchar_t* leaf,
                        std::initializer_list<std::pair<const wchar_t*, std::wstring>> files) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring folder = std::wstring(base) + L"kiv-binding-" + leaf + L"-" +
                          std::to_wstring(GetCurrentProcessId()) + L"-" +
                          std::to_wstring(GetTickCount64());
    CreateDirectoryW(folder.c_str(), nullptr);
    for (const auto& file : files) {
        const std::wstring target = folder + L"\\" + file.first;
        EXPECT_TRUE(CopyFileW(file.second.c_str(), target.c_str(), FALSE)) << GetLastError();
    }
    return folder;
}

std::wstring Shipped(const wchar_t* name) {
    return std::wstring(KIV_SHIPPED_DIR) + L"/" + name;
}

std::wstring PathOf(HMODULE module) {
    wchar_t path[4096] = {};
    GetModuleFileNameW(module, path, 4096);
    return path;
}

template <class F>
F Export(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

TEST(Binding, RuntimeWithoutMemoryLibraryHasNoObjects) {
    ASSERT_EQ(GetModuleHandleW(L"kiv.memory.dll"), nullptr);
    XString text("abc");
    EXPECT_EQ(text.get_Object(), nullptr);
    EXPECT_EQ(text.get_Length(), 0u);
    EXPECT_STREQ(text.Bytes(), "");
    XString joined(text + "def");
    EXPECT_EQ(joined.get_Length(), 0u);
    EXPECT_EQ(text.Detach(), nullptr);
    EXPECT_FALSE(KivBindMemory());
    EXPECT_FALSE(KivBindGc());
    FreeRuntimeLibraries();
}

TEST(Binding, TypeLibraryWithoutMemoryLibraryFailsCleanly) {
    const std::wstring folder = FolderWith(L"alone", {{L"kiv.type.dll", Shipped(L"kiv.type.dll")}});
    HMODULE type = LoadLibraryW((folder + L"\\kiv.type.dll").c_str());
    ASSERT_NE(type, nullptr);
    auto type_of = Export<KivTypeofFn>(type, "kiv_typeof");
    auto module_free = Export<KivModuleFreeFn>(type, "kiv_module_free");
    ASSERT_TRUE(type_of != nullptr && module_free != nullptr);
    EXPECT_EQ(type_of("probe", "SomeType"), nullptr);  // no registry without memory
    module_free(0);
    FreeLibrary(type);
    EXPECT_EQ(GetModuleHandleW(L"kiv.memory.dll"), nullptr);
}

TEST(Binding, MemoryLibraryMissingAnExportIsRefused) {
    const std::wstring folder =
        FolderWith(L"odd", {{L"kiv.type.dll", Shipped(L"kiv.type.dll")},
                            {L"kiv.memory.dll", std::wstring(KIV_ODD_MEMORY_DLL)}});
    HMODULE type = LoadLibraryW((folder + L"\\kiv.type.dll").c_str());
    ASSERT_NE(type, nullptr);
    auto type_of = Export<KivTypeofFn>(type, "kiv_typeof");
    auto module_free = Export<KivModuleFreeFn>(type, "kiv_module_free");
    EXPECT_EQ(type_of("probe", "SomeType"), nullptr);
    module_free(0);
    FreeLibrary(type);
    EXPECT_EQ(GetModuleHandleW(L"kiv.memory.dll"), nullptr) << "the odd library was let go";
}

TEST(Binding, LibrariesAreFoundBesideTheModuleThatNeedsThem) {
    const std::wstring folder =
        FolderWith(L"beside", {{L"kiv.type.dll", Shipped(L"kiv.type.dll")},
                               {L"kiv.gc.dll", Shipped(L"kiv.gc.dll")},
                               {L"kiv.memory.dll", Shipped(L"kiv.memory.dll")}});
    HMODULE type = LoadLibraryW((folder + L"\\kiv.type.dll").c_str());
    ASSERT_NE(type, nullptr);
    auto type_of = Export<KivTypeofFn>(type, "kiv_typeof");
    auto module_free = Export<KivModuleFreeFn>(type, "kiv_module_free");
    _Type* first = type_of("probe", "SomeType");
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(type_of("probe", "SomeType"), first);
    HMODULE memory = GetModuleHandleW(L"kiv.memory.dll");
    ASSERT_NE(memory, nullptr);
    EXPECT_EQ(PathOf(memory), folder + L"\\kiv.memory.dll");

    // kiv.gc loaded from there binds the same kiv.memory beside itself.
    HMODULE gc = LoadLibraryW((folder + L"\\kiv.gc.dll").c_str());
    ASSERT_NE(gc, nullptr);
    Export<KivModuleInitFn>(gc, "kiv_module_init")(0);
    Export<KivModuleFreeFn>(gc, "kiv_module_free")(0);
    FreeLibrary(gc);

    module_free(0);
    FreeLibrary(type);
    EXPECT_EQ(GetModuleHandleW(L"kiv.memory.dll"), nullptr) << "kiv.type unbound kiv.memory";
}

TEST(Binding, CollectorFindsMemoryBesideItself) {
    ASSERT_EQ(GetModuleHandleW(L"kiv.memory.dll"), nullptr);
    const std::wstring folder = FolderWith(
        L"gc",
        {{L"kiv.gc.dll", Shipped(L"kiv.gc.dll")}, {L"kiv.memory.dll", Shipped(L"kiv.memory.dll")}});
    HMODULE gc = LoadLibraryW((folder + L"\\kiv.gc.dll").c_str());
    ASSERT_NE(gc, nullptr);
    Export<KivModuleInitFn>(gc, "kiv_module_init")(0);
    HMODULE memory = GetModuleHandleW(L"kiv.memory.dll");
    ASSERT_NE(memory, nullptr);
    EXPECT_EQ(PathOf(memory), folder + L"\\kiv.memory.dll");
    Export<KivModuleFreeFn>(gc, "kiv_module_free")(0);
    EXPECT_EQ(GetModuleHandleW(L"kiv.memory.dll"), nullptr) << "unbound with the manager";
    FreeLibrary(gc);
}

}  // namespace
