// Modules over the dynamic loader. A module handle points to one record per loaded library, so
// that loading a library twice counts references, a stale handle is refused, and the module's file
// and the names it was loaded under can be asked for.
#include "platform/kernel/module_api.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "platform/kernel/dos_paths.h"
#include "platform/kernel/wide_text.h"

namespace {

struct LoadedModule {
    void* library = nullptr;        // dlopen handle
    std::string path;               // the Linux file it came from
    std::set<std::u16string> names; // lower-cased module names it was loaded under
    unsigned references = 0;
};

struct ModuleTable {
    std::mutex lock;
    std::vector<std::unique_ptr<LoadedModule>> modules;
    std::map<std::u16string, std::string> redirects;
    std::set<std::u16string> freeFails;
    velmora::kernel::ModuleCallObserver observer = nullptr;
};

ModuleTable& Table() {
    static ModuleTable* table = new ModuleTable; // never destroyed: modules outlive static teardown
    return *table;
}

std::u16string AsciiLower(std::u16string_view text) {
    std::u16string lower(text);
    for (auto& c : lower)
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    return lower;
}

std::size_t LastSeparator(std::u16string_view name) {
    const std::size_t slash = name.find_last_of(u"/\\");
    return slash;
}

// The name a module is known by: its file name, lower-cased, with ".dll" when it has no
// extension (as the platform appends it).
std::u16string ModuleKey(std::u16string_view name) {
    const std::size_t slash = LastSeparator(name);
    std::u16string base = AsciiLower(slash == std::u16string_view::npos ? name : name.substr(slash + 1));
    if (!base.empty() && base.find(u'.') == std::u16string::npos)
        base += u".dll";
    return base;
}

// "wintrust.dll" -> "libwintrust.so"; names that already are shared libraries stay.
std::string SharedLibraryFileName(const std::u16string& key) {
    const std::string base = Utf16ToUtf8(key);
    if (base.size() > 3 && (base.ends_with(".so") || base.find(".so.") != std::string::npos))
        return base;
    const std::size_t dot = base.rfind('.');
    return "lib" + base.substr(0, dot) + ".so";
}

std::string ProgramFile() {
    std::vector<char> buffer(4096);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size())
        return {};
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool FileExists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

// Redirections of the environment: "a.dll=/x/liba.so;b.dll=/y/libb.so".
std::map<std::u16string, std::string> EnvironmentRedirects() {
    std::map<std::u16string, std::string> redirects;
    const char* value = std::getenv("VELMORA_MODULE_REDIRECT");
    if (value == nullptr)
        return redirects;
    std::string_view rest(value);
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find(';'), rest.size());
        const std::string_view entry = rest.substr(0, end);
        const std::size_t equals = entry.find('=');
        if (equals != std::string_view::npos && equals > 0)
            redirects[ModuleKey(Utf8ToUtf16(entry.substr(0, equals)))] =
                std::string(entry.substr(equals + 1));
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return redirects;
}

bool EnvironmentSaysFreeFails(const std::set<std::u16string>& names) {
    const char* value = std::getenv("VELMORA_MODULE_FREE_FAILS");
    if (value == nullptr)
        return false;
    std::string_view rest(value);
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find(';'), rest.size());
        if (end > 0 && names.count(ModuleKey(Utf8ToUtf16(rest.substr(0, end)))))
            return true;
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return false;
}

// The files to try for a module name, in order. The last candidate may be a bare file name, left
// to the dynamic loader's own search.
std::vector<std::string> Candidates(std::u16string_view name, const std::u16string& key,
                                    const std::map<std::u16string, std::string>& redirects) {
    if (auto redirect = redirects.find(key); redirect != redirects.end())
        return {redirect->second};

    const std::string libraryFile = SharedLibraryFileName(key);
    const std::size_t slash = LastSeparator(name);
    if (slash != std::u16string_view::npos) {
        // A path: DOS paths go through the drive table, Linux paths are taken as they are.
        const std::u16string folder(name.substr(0, slash + 1));
        std::string linuxFolder;
        if (folder.front() == u'/') {
            linuxFolder = Utf16ToUtf8(folder);
        } else {
            auto mapped = velmora::kernel::DosPathToLinux(folder);
            if (!mapped)
                return {};
            linuxFolder = *mapped;
        }
        if (!linuxFolder.ends_with('/'))
            linuxFolder += '/';
        return {linuxFolder + Utf16ToUtf8(name.substr(slash + 1)), linuxFolder + libraryFile};
    }

    std::vector<std::string> candidates;
    const std::string program = ProgramFile();
    if (!program.empty())
        candidates.push_back(FolderOf(program) + "/" + libraryFile);
    candidates.push_back(libraryFile);
    return candidates;
}

LoadedModule* FindRecord(ModuleTable& table, HMODULE handle) {
    for (auto& module : table.modules)
        if (reinterpret_cast<HMODULE>(module.get()) == handle)
            return module.get();
    return nullptr;
}

std::string LibraryPath(void* library, const std::string& fallback) {
    link_map* map = nullptr;
    if (dlinfo(library, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr &&
        map->l_name[0] == '/')
        return map->l_name;
    return fallback;
}

void Observe(const char* operation, const std::string& argument) {
    velmora::kernel::ModuleCallObserver observer = nullptr;
    {
        std::lock_guard guard(Table().lock);
        observer = Table().observer;
    }
    if (observer != nullptr)
        observer(operation, argument.c_str());
}

} // namespace

extern "C" HMODULE LoadLibraryW(LPCWSTR lpLibFileName) {
    const std::u16string_view name = lpLibFileName != nullptr ? std::u16string_view(lpLibFileName) : u"";
    Observe("LoadLibraryW", Utf16ToUtf8(name));
    const std::u16string key = ModuleKey(name);
    if (key.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }

    ModuleTable& table = Table();
    std::map<std::u16string, std::string> redirects = EnvironmentRedirects();
    {
        std::lock_guard guard(table.lock);
        for (const auto& [redirected, path] : table.redirects)
            redirects[redirected] = path;
    }

    void* library = nullptr;
    std::string loadedFrom;
    const std::vector<std::string> candidates = Candidates(name, key, redirects);
    for (std::size_t i = 0; i < candidates.size() && library == nullptr; ++i) {
        const std::string& candidate = candidates[i];
        const bool bare = candidate.find('/') == std::string::npos;
        if (!bare && !FileExists(candidate))
            continue;
        // A module's code stays mapped after its last FreeLibrary: a stopped worker (threads are
        // asked to stop, never killed) may still be returning through it.
        library = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        loadedFrom = candidate;
        // The first file found is the module, as on the platform: a broken one is not passed over
        // in favour of a different library further down the search.
        if (!bare)
            break;
    }
    if (library == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }

    std::lock_guard guard(table.lock);
    for (auto& module : table.modules) {
        if (module->library == library) {
            // dlopen counted a reference of its own; one per record is enough.
            dlclose(library);
            ++module->references;
            module->names.insert(key);
            return reinterpret_cast<HMODULE>(module.get());
        }
    }
    auto module = std::make_unique<LoadedModule>();
    module->library = library;
    module->path = LibraryPath(library, loadedFrom);
    module->names.insert(key);
    module->references = 1;
    table.modules.push_back(std::move(module));
    return reinterpret_cast<HMODULE>(table.modules.back().get());
}

extern "C" FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    // Names below 0x10000 are ordinals, which our libraries do not have.
    const bool byOrdinal = reinterpret_cast<std::uintptr_t>(lpProcName) < 0x10000;
    Observe("GetProcAddress", byOrdinal ? std::string("#ordinal") : std::string(lpProcName));
    if (byOrdinal) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }

    void* library = nullptr;
    {
        std::lock_guard guard(Table().lock);
        LoadedModule* module = FindRecord(Table(), hModule);
        if (module == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        library = module->library;
    }

    void* address = dlsym(library, lpProcName);
    // dlsym also searches the libraries this one depends on; an export is the module's own.
    link_map* own = nullptr;
    link_map* found = nullptr;
    Dl_info info;
    if (address == nullptr || dlinfo(library, RTLD_DI_LINKMAP, &own) != 0 ||
        dladdr1(address, &info, reinterpret_cast<void**>(&found), RTLD_DL_LINKMAP) == 0 || found != own) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(address);
}

extern "C" BOOL FreeLibrary(HMODULE hLibModule) {
    ModuleTable& table = Table();
    std::string name;
    {
        std::lock_guard guard(table.lock);
        if (LoadedModule* module = FindRecord(table, hLibModule); module != nullptr && !module->names.empty())
            name = Utf16ToUtf8(*module->names.begin());
    }
    Observe("FreeLibrary", name);

    std::lock_guard guard(table.lock);
    auto it = std::find_if(table.modules.begin(), table.modules.end(), [&](const auto& module) {
        return reinterpret_cast<HMODULE>(module.get()) == hLibModule;
    });
    if (it == table.modules.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    LoadedModule& module = **it;
    const bool refused =
        std::any_of(module.names.begin(), module.names.end(),
                    [&](const std::u16string& n) { return table.freeFails.count(n) != 0; }) ||
        EnvironmentSaysFreeFails(module.names);
    if (refused) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (--module.references > 0)
        return TRUE;
    void* library = module.library;
    table.modules.erase(it);
    dlclose(library);
    return TRUE;
}

extern "C" DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    std::string linuxPath;
    if (hModule == nullptr) {
        linuxPath = ProgramFile();
    } else {
        std::lock_guard guard(Table().lock);
        if (LoadedModule* module = FindRecord(Table(), hModule); module != nullptr)
            linuxPath = module->path;
        else {
            SetLastError(ERROR_INVALID_HANDLE);
            return 0;
        }
    }
    if (linuxPath.empty() || lpFilename == nullptr || nSize == 0) {
        SetLastError(linuxPath.empty() ? ERROR_FILE_NOT_FOUND : ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }

    const CString dosText = velmora::kernel::LinuxPathToDos(linuxPath);
    const std::u16string_view dosPath(dosText.GetString(), static_cast<std::size_t>(dosText.GetLength()));
    if (dosPath.size() >= nSize) {
        std::copy_n(dosPath.begin(), nSize - 1, lpFilename);
        lpFilename[nSize - 1] = u'\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::copy(dosPath.begin(), dosPath.end(), lpFilename);
    lpFilename[dosPath.size()] = u'\0';
    return static_cast<DWORD>(dosPath.size());
}

namespace velmora::kernel {

void RedirectModule(std::u16string_view moduleName, std::string linuxPath) {
    std::lock_guard guard(Table().lock);
    Table().redirects[ModuleKey(moduleName)] = std::move(linuxPath);
}

void SetModuleFreeFails(std::u16string_view moduleName, bool fails) {
    std::lock_guard guard(Table().lock);
    if (fails)
        Table().freeFails.insert(ModuleKey(moduleName));
    else
        Table().freeFails.erase(ModuleKey(moduleName));
}

void ClearModuleOverrides() {
    std::lock_guard guard(Table().lock);
    Table().redirects.clear();
    Table().freeFails.clear();
}

void SetModuleCallObserver(ModuleCallObserver observer) {
    std::lock_guard guard(Table().lock);
    Table().observer = observer;
}

} // namespace velmora::kernel
