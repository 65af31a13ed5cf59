// bench_trust_verify verify FILE N    mean ms of N embedded verifications (state opened and closed)
// bench_trust_verify sha256 FILE N    mean ms of N in-process SHA-256 of the whole file (read + hash)
// bench_trust_verify index WINDIR     seconds to build the catalog index (first look-up of a context)
#include <dlfcn.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/trust/wintrust.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

void* Library() {
    const auto self = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    void* library = dlopen((self / "libwintrust.so").c_str(), RTLD_NOW);
    if (!library) {
        std::fprintf(stderr, "cannot load libwintrust.so: %s\n", dlerror());
        std::exit(1);
    }
    return library;
}

template <typename T>
T Export(void* library, const char* name) {
    return reinterpret_cast<T>(dlsym(library, name));
}

int Verify(const char* file, int count) {
    auto verify = Export<WinVerifyTrust_FN>(Library(), "WinVerifyTrust");
    // A Linux path is taken as it stands by the file layer.
    std::u16string path;
    for (const char* p = file; *p; ++p)
        path += static_cast<char16_t>(static_cast<unsigned char>(*p));
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    auto once = [&] {
        WINTRUST_FILE_INFO info{16, path.c_str(), nullptr, nullptr};
        WINTRUST_DATA data{};
        data.cbStruct = 48;
        data.dwUIChoice = WTD_UI_NONE;
        data.dwUnionChoice = WTD_CHOICE_FILE;
        data.pFile = &info;
        data.dwStateAction = WTD_STATEACTION_VERIFY;
        data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
        const LONG status = verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
        data.dwStateAction = WTD_STATEACTION_CLOSE;
        verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
        return status;
    };
    if (once() != 0) {  // also loads the anchors, once per process like the program
        std::fprintf(stderr, "the benchmark file does not verify\n");
        return 1;
    }
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i)
        once();
    std::printf("%.3f\n", Seconds(start) * 1000 / count);
    return 0;
}

int Sha256(const char* file, int count) {
    const auto start = Clock::now();
    unsigned char digest[EVP_MAX_MD_SIZE];
    for (int i = 0; i < count; ++i) {
        const int fd = open(file, O_RDONLY);
        struct stat st {};
        fstat(fd, &st);
        void* data = mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        unsigned int length = 0;
        EVP_Digest(data, static_cast<std::size_t>(st.st_size), digest, &length, EVP_sha256(), nullptr);
        munmap(data, static_cast<std::size_t>(st.st_size));
        close(fd);
    }
    std::printf("%.3f\n", Seconds(start) * 1000 / count);
    return 0;
}

int Index(const char* windir) {
    setenv("WINDIR", windir, 1);
    void* library = Library();
    auto acquire = Export<CryptCATAdminAcquireContext_FN>(library, "CryptCATAdminAcquireContext");
    auto release = Export<CryptCATAdminReleaseContext_FN>(library, "CryptCATAdminReleaseContext");
    auto enumerate = Export<CryptCATAdminEnumCatalogFromHash_FN>(library, "CryptCATAdminEnumCatalogFromHash");
    auto releaseCatalog = Export<CryptCATAdminReleaseCatalogContext_FN>(library, "CryptCATAdminReleaseCatalogContext");
    HCATADMIN admin = nullptr;
    if (!acquire(&admin, nullptr, 0))
        return 1;
    // The first member of the generator's first catalog: SHA-1 of "velmora-bench-0-0".
    BYTE hash[20];
    unsigned int length = 0;
    const std::string seed = "velmora-bench-0-0";
    EVP_Digest(seed.data(), seed.size(), hash, &length, EVP_sha1(), nullptr);
    const auto start = Clock::now();
    HCATINFO catalog = enumerate(admin, hash, sizeof hash, 0, nullptr);
    const double seconds = Seconds(start);
    if (!catalog) {
        std::fprintf(stderr, "the generated catalogs were not found\n");
        return 1;
    }
    releaseCatalog(admin, catalog, 0);
    release(admin, 0);
    std::printf("%.3f\n", seconds);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "verify" && argc == 4)
        return Verify(argv[2], std::atoi(argv[3]));
    if (mode == "sha256" && argc == 4)
        return Sha256(argv[2], std::atoi(argv[3]));
    if (mode == "index" && argc == 3)
        return Index(argv[2]);
    std::fprintf(stderr, "usage: bench_trust_verify verify FILE N | sha256 FILE N | index WINDIR\n");
    return 2;
}
