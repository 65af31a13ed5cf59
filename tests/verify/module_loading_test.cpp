#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/kernel/dos_paths.h"
#include "platform/kernel/module_api.h"
#include "platform/kernel/wide_text.h"

namespace {

namespace fs = std::filesystem;

std::string ModuleFile(HMODULE module) {
    WCHAR path[4096];
    const DWORD length = GetModuleFileNameW(module, path, 4096);
    if (length == 0 || length >= 4096)
        return {};
    return velmora::kernel::DosPathToLinux(path).value_or("");
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return !a.empty() && !b.empty() && fs::equivalent(a, b, error);
}

class ModuleLoading : public ::testing::Test {
  protected:
    void SetUp() override { velmora::kernel::ClearModuleOverrides(); }
    void TearDown() override {
        velmora::kernel::ClearModuleOverrides();
        unsetenv("VELMORA_MODULE_REDIRECT");
        unsetenv("VELMORA_MODULE_FREE_FAILS");
    }
};

// The fake libraries are built beside the test program, which is the program's own folder.
TEST_F(ModuleLoading, ADllNameLoadsTheSharedLibraryOfThatNameFromTheProgramsFolder) {
    for (const char16_t* name :
         {u"verify_fake_wintrust.dll", u"VERIFY_FAKE_WINTRUST.DLL", u"verify_fake_wintrust"}) {
        SCOPED_TRACE(Utf16ToUtf8(name));
        HMODULE module = LoadLibraryW(name);
        ASSERT_NE(module, nullptr);
        EXPECT_TRUE(SameFile(ModuleFile(module), FAKE_WINTRUST_LIBRARY));
        EXPECT_TRUE(FreeLibrary(module));
    }
}

TEST_F(ModuleLoading, APathNamesThatFileOrTheSharedLibraryBesideIt) {
    const std::string folder = fs::path(FAKE_WINTRUST_LIBRARY).parent_path().string();
    const CString dosFolder = velmora::kernel::LinuxPathToDos(folder);
    const std::u16string names[] = {
        std::u16string(dosFolder.GetString()) + u"\\verify_fake_wintrust.dll",
        Utf8ToUtf16(FAKE_WINTRUST_LIBRARY),
    };
    for (const std::u16string& name : names) {
        SCOPED_TRACE(Utf16ToUtf8(name));
        HMODULE module = LoadLibraryW(name.c_str());
        ASSERT_NE(module, nullptr);
        EXPECT_TRUE(SameFile(ModuleFile(module), FAKE_WINTRUST_LIBRARY));
        EXPECT_TRUE(FreeLibrary(module));
    }
}

TEST_F(ModuleLoading, NamesThatLeadToNoLibraryFailToLoad) {
    velmora::kernel::RedirectModule(u"redirected.dll", "/nonexistent/libredirected.so");
    for (const char16_t* name :
         {u"no_such_library_here.dll", u"redirected.dll", u"", u"C:\\nowhere\\x.dll"}) {
        SCOPED_TRACE(Utf16ToUtf8(name));
        SetLastError(0);
        EXPECT_EQ(LoadLibraryW(name), nullptr);
        EXPECT_NE(GetLastError(), 0u);
    }
    EXPECT_EQ(LoadLibraryW(nullptr), nullptr);
}

TEST_F(ModuleLoading, ExportsAreFoundOnlyInTheModuleItself) {
    HMODULE module = LoadLibraryW(u"verify_fake_wintrust.dll");
    ASSERT_NE(module, nullptr);
    void* library = dlopen(FAKE_WINTRUST_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(module, "WinVerifyTrust")),
              dlsym(library, "WinVerifyTrust"));
    dlclose(library);

    SetLastError(0);
    EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(GetProcAddress(module, "CreateFileW"), nullptr) << "an export of a library it depends on";
    EXPECT_EQ(GetProcAddress(module, reinterpret_cast<LPCSTR>(1)), nullptr) << "by ordinal";
    EXPECT_EQ(GetProcAddress(nullptr, "WinVerifyTrust"), nullptr);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(GetProcAddress(module, "WinVerifyTrust"), nullptr) << "a freed module";
}

TEST_F(ModuleLoading, EveryLoadIsOneReferenceAndAStaleHandleIsRefused) {
    HMODULE first = LoadLibraryW(u"verify_fake_wintrust.dll");
    HMODULE second = LoadLibraryW(u"Verify_Fake_WinTrust.dll");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_NE(GetProcAddress(second, "WinVerifyTrust"), nullptr) << "one reference left";
    EXPECT_TRUE(FreeLibrary(second));
    SetLastError(0);
    EXPECT_FALSE(FreeLibrary(second));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(FreeLibrary(nullptr));
}

TEST_F(ModuleLoading, RedirectionsAndFreeFailuresComeFromTheProcessOrTheEnvironment) {
    velmora::kernel::RedirectModule(u"WinTrust.DLL", FAKE_WINTRUST_NO_ACQUIRE_LIBRARY);
    HMODULE module = LoadLibraryW(u"wintrust.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_TRUE(SameFile(ModuleFile(module), FAKE_WINTRUST_NO_ACQUIRE_LIBRARY));
    velmora::kernel::SetModuleFreeFails(u"wintrust.dll", true);
    EXPECT_FALSE(FreeLibrary(module));
    EXPECT_NE(GetProcAddress(module, "WinVerifyTrust"), nullptr) << "still loaded";
    velmora::kernel::SetModuleFreeFails(u"wintrust.dll", false);
    EXPECT_TRUE(FreeLibrary(module));

    velmora::kernel::ClearModuleOverrides();
    const std::string redirect =
        std::string("other.dll=/nowhere/libother.so;wintrust.dll=") + FAKE_WINTRUST_LIBRARY;
    setenv("VELMORA_MODULE_REDIRECT", redirect.c_str(), 1);
    setenv("VELMORA_MODULE_FREE_FAILS", "unrelated.dll;WINTRUST.DLL", 1);
    module = LoadLibraryW(u"wintrust.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_TRUE(SameFile(ModuleFile(module), FAKE_WINTRUST_LIBRARY));
    EXPECT_EQ(LoadLibraryW(u"other.dll"), nullptr);
    EXPECT_FALSE(FreeLibrary(module));
    unsetenv("VELMORA_MODULE_FREE_FAILS");
    EXPECT_TRUE(FreeLibrary(module));
}

TEST_F(ModuleLoading, TheProgramsOwnFileIsGivenAsADosPathAndCutToTheBuffer) {
    EXPECT_TRUE(SameFile(ModuleFile(nullptr), fs::read_symlink("/proc/self/exe").string()));

    WCHAR whole[4096];
    const DWORD length = GetModuleFileNameW(nullptr, whole, 4096);
    ASSERT_GT(length, 4u);
    WCHAR small[5] = {u'?', u'?', u'?', u'?', u'?'};
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameW(nullptr, small, 5), 5u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(small), std::u16string(whole, 4));

    const HMODULE stale = reinterpret_cast<HMODULE>(0x1234);
    EXPECT_EQ(GetModuleFileNameW(stale, whole, 4096), 0u);
}

} // namespace
