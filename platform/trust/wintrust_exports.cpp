// The ten exports of our "wintrust.dll". Everything else in the library is hidden; these are
// looked up by name at run time.
#pragma GCC visibility push(default)
#include "platform/trust/wintrust.h"
#pragma GCC visibility pop

#include <fcntl.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <string>

#include "platform/kernel/dos_paths.h"
#include "platform/kernel/file_api.h"
#include "platform/kernel/kernel_object.h"
#include "platform/kernel/wide_text.h"
#include "platform/shell/special_folders.h"
#include "platform/trust/catalog_index.h"
#include "platform/trust/mapped_file.h"
#include "platform/trust/pe_image_hash.h"
#include "platform/trust/provider_state.h"
#include "platform/trust/signature_check.h"
#include "platform/trust/trust_anchors.h"

namespace velmora::trust {
namespace {

constexpr DWORD ERROR_NOT_FOUND = 1168;

// The one place where a verdict becomes the platform's status.
LONG StatusOf(Verdict verdict) {
    switch (verdict) {
    case Verdict::Trusted:
        return 0;
    case Verdict::Unreadable:
        return CRYPT_E_FILE_ERROR;
    case Verdict::NotAnImage:
        return TRUST_E_SUBJECT_FORM_UNKNOWN;
    case Verdict::NoSignature:
    case Verdict::Malformed:
    case Verdict::HiddenData:
        return TRUST_E_NOSIGNATURE;
    case Verdict::BadDigest:
    case Verdict::BadSignature:
    case Verdict::WeakDigest:
        return TRUST_E_BAD_DIGEST;
    case Verdict::NoSignerCertificate:
        return TRUST_E_NO_SIGNER_CERT;
    case Verdict::UntrustedRoot:
        return CERT_E_UNTRUSTEDROOT;
    case Verdict::IncompleteChain:
        return CERT_E_CHAINING;
    case Verdict::Expired:
        return CERT_E_EXPIRED;
    case Verdict::WrongUsage:
        return CERT_E_WRONG_USAGE;
    case Verdict::BadCertificateSignature:
        return TRUST_E_CERT_SIGNATURE;
    }
    return TRUST_E_FAIL;
}

// Handles the exports hand out carry a tag, so a stray pointer of another kind is refused.
constexpr std::uint32_t kAdminMagic = 0x43414431;   // "CAD1"
constexpr std::uint32_t kCatalogMagic = 0x43494E31; // "CIN1"

// A context can be released on one thread while a stopped scan worker, which read the handle
// just before, is still inside a look-up with it. So a released context is retired only once no
// call uses it any more, and its small record is never handed back to the allocator: a late
// caller holding the stale handle finds the tag cleared and is refused instead of reading freed
// memory. Only the index, the large part, is freed.
struct CatalogAdmin {
    std::atomic<std::uint32_t> magic{kAdminMagic};
    std::atomic<int> callsInFlight{0};
    std::atomic<bool> released{false};
    std::atomic<bool> retired{false};
    std::once_flag indexed;
    CatalogIndex index;
    CatalogAdmin* nextRetired = nullptr;
};

// Retired contexts stay reachable from here, so the leak checker sees them as held, not lost.
std::atomic<CatalogAdmin*> g_retiredAdmins{nullptr};

void RetireIfUnused(CatalogAdmin* admin) {
    if (!admin->released.load() || admin->callsInFlight.load() != 0 || admin->retired.exchange(true))
        return;
    admin->index = CatalogIndex{};
    admin->nextRetired = g_retiredAdmins.load();
    while (!g_retiredAdmins.compare_exchange_weak(admin->nextRetired, admin)) {
    }
}

// Holds a context for the length of one call.
class AdminInUse {
  public:
    explicit AdminInUse(HCATADMIN handle) : admin_(static_cast<CatalogAdmin*>(handle)) {
        if (!admin_)
            return;
        admin_->callsInFlight.fetch_add(1);
        if (admin_->magic.load() != kAdminMagic) {
            Leave();
            admin_ = nullptr;
        }
    }
    ~AdminInUse() {
        if (admin_)
            Leave();
    }
    AdminInUse(const AdminInUse&) = delete;
    AdminInUse& operator=(const AdminInUse&) = delete;
    CatalogAdmin* get() const { return admin_; }

  private:
    void Leave() {
        if (admin_->callsInFlight.fetch_sub(1) == 1)
            RetireIfUnused(admin_);
    }
    CatalogAdmin* admin_;
};

struct CatalogHandle {
    std::uint32_t magic = kCatalogMagic;
    std::size_t position = 0;
    std::u16string dosPath;
    ~CatalogHandle() { magic = 0; }
};

CatalogHandle* CatalogFrom(HCATINFO handle) {
    auto* catalog = static_cast<CatalogHandle*>(handle);
    return catalog && catalog->magic == kCatalogMagic ? catalog : nullptr;
}

// The system catalogs: <Windows directory>\System32\CatRoot\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}.
std::optional<std::string> SystemCatalogFolder() {
    WCHAR windows[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, windows, CSIDL_WINDOWS, FALSE))
        return std::nullopt;
    std::u16string path(windows);
    if (!path.empty() && path.back() != u'\\')
        path += u'\\';
    path += u"System32\\CatRoot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}";
    return kernel::DosPathToLinux(path);
}

// Views through the kernel layer's file mapping: a file that shrinks while we read it then reads
// as zeros past its new end instead of ending the process.
void UnmapKernelView(const std::uint8_t* data, std::size_t) {
    UnmapViewOfFile(data);
}

constexpr std::uint64_t kReadForHashingFrom = 64 * 1024;

std::optional<MappedFile> MapHandle(HANDLE file) {
    DWORD high = 0;
    SetLastError(ERROR_SUCCESS);
    const DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS)
        return std::nullopt;
    const std::uint64_t size = (static_cast<std::uint64_t>(high) << 32) | low;
    if (size == 0)
        return MappedFile::Adopt(nullptr, 0, nullptr);
    if (size > SIZE_MAX)
        return std::nullopt;
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!mapping)
        return std::nullopt;
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    CloseHandle(mapping); // the view keeps what it needs
    if (!view)
        return std::nullopt;
    // A file large enough for its hash to be read rather than paged in keeps a descriptor of its
    // own: the caller's handle may close before the view does.
    int fd = -1;
    if (size >= kReadForHashingFrom) {
        const int caller = kernel::KernelFileDescriptor(file);
        fd = caller >= 0 ? fcntl(caller, F_DUPFD_CLOEXEC, 0) : -1;
    }
    return MappedFile::Adopt(static_cast<const std::uint8_t*>(view), static_cast<std::size_t>(size),
                             &UnmapKernelView, fd);
}

std::optional<MappedFile> MapPath(LPCWSTR path, DWORD share) {
    HANDLE file = CreateFileW(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    auto mapped = MapHandle(file);
    CloseHandle(file);
    return mapped;
}

// Catalogs are read with write sharing too: someone updating one must not hide all the others.
std::optional<MappedFile> MapCatalog(const std::string& linuxPath) {
    return MapPath(Utf8ToUtf16(linuxPath).c_str(), FILE_SHARE_READ | FILE_SHARE_WRITE);
}

// Maps a file given by handle (preferred) or DOS path, opened for reading with read sharing.
std::optional<MappedFile> MapSubject(HANDLE file, LPCWSTR path) {
    if (file && file != INVALID_HANDLE_VALUE)
        return MapHandle(file);
    return path ? MapPath(path, FILE_SHARE_READ) : std::nullopt;
}

// The 32-bit record sizes callers pass: a field is present when the record reaches past it.
constexpr DWORD kWintrustDataThroughState = 36;
constexpr DWORD kFileInfoThroughPath = 8;
constexpr DWORD kFileInfoThroughHandle = 12;
constexpr DWORD kCatalogInfoThroughMemberPath = 20;
constexpr DWORD kCatalogInfoThroughMemberHandle = 24;

SignatureReport VerifyFile(const WINTRUST_FILE_INFO& info) {
    SignatureReport report;
    if (info.cbStruct < kFileInfoThroughPath) {
        report.verdict = Verdict::Unreadable;
        return report;
    }
    const HANDLE handle = info.cbStruct >= kFileInfoThroughHandle ? info.hFile : nullptr;
    const auto file = MapSubject(handle, info.pcwszFilePath);
    if (!file) {
        report.verdict = Verdict::Unreadable;
        return report;
    }
    return VerifyEmbeddedSignature(file->ForHashing(), TrustAnchors());
}

std::string UpperAscii(std::u16string_view text) {
    std::string result;
    for (char16_t unit : text) {
        if (unit > 0x7F)
            return {};
        char c = static_cast<char>(unit);
        result += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return result;
}

// A catalog member: the catalog's own signature and chain, the tag listed, and the member file's
// hash recomputed now with the digest the member uses, so a file changed since is refused.
SignatureReport VerifyCatalogMember(const WINTRUST_CATALOG_INFO& info) {
    SignatureReport failure;
    failure.verdict = Verdict::Unreadable;
    if (info.cbStruct < kCatalogInfoThroughMemberPath || !info.pcwszCatalogFilePath || !info.pcwszMemberTag)
        return failure;
    const auto catalog = MapPath(info.pcwszCatalogFilePath, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (!catalog)
        return failure;
    TrustList list;
    SignatureReport report = VerifyCatalogSignature(catalog->Bytes(), TrustAnchors(), list);
    if (report.verdict != Verdict::Trusted)
        return report;

    const std::string tag = UpperAscii(info.pcwszMemberTag);
    const CatalogMember* member = nullptr;
    for (const CatalogMember& candidate : list.members) {
        if (!tag.empty() && MemberTagText(candidate, list.rawTags) == tag) {
            member = &candidate;
            break;
        }
    }
    if (!member) {
        report.verdict = Verdict::NoSignature;
        return report;
    }
    const HANDLE handle = info.cbStruct >= kCatalogInfoThroughMemberHandle ? info.hMemberFile : nullptr;
    const auto file = MapSubject(handle, info.pcwszMemberFilePath);
    if (!file) {
        report.verdict = Verdict::Unreadable;
        return report;
    }
    const EVP_MD* md = DigestForOid(member->digestOid);
    if (!md) {
        report.verdict = IsWeakDigestOid(member->digestOid) ? Verdict::WeakDigest : Verdict::Malformed;
        return report;
    }
    const auto digest = ComputeCatalogHash(file->ForHashing(), md);
    if (digest.size() != member->digest.size() ||
        !std::equal(digest.begin(), digest.end(), member->digest.begin()))
        report.verdict = Verdict::BadDigest;
    return report;
}

LONG Verify(WINTRUST_DATA& data) {
    SignatureReport report;
    if (data.dwUnionChoice == WTD_CHOICE_FILE) {
        if (!data.pFile)
            return E_INVALIDARG;
        report = VerifyFile(*data.pFile);
    } else if (data.dwUnionChoice == WTD_CHOICE_CATALOG) {
        if (!data.pCatalog)
            return E_INVALIDARG;
        report = VerifyCatalogMember(*data.pCatalog);
    } else {
        return TRUST_E_SUBJECT_FORM_UNKNOWN;
    }
    const LONG status = StatusOf(report.verdict);
    if (data.dwStateAction == WTD_STATEACTION_VERIFY)
        data.hWVTStateData = (new VerifyState(&data, status, report))->Handle();
    return status;
}

} // namespace
} // namespace velmora::trust

using namespace velmora::trust;

extern "C" {

BOOL CryptCATAdminAcquireContext(HCATADMIN* phCatAdmin, const GUID* pgSubsystem, DWORD /*dwFlags*/) {
    if (!phCatAdmin || (pgSubsystem && !(*pgSubsystem == DRIVER_ACTION_VERIFY))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // The index is built on the first look-up, not here, so that acquiring costs nothing.
    *phCatAdmin = new (std::nothrow) CatalogAdmin;
    if (!*phCatAdmin) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;
}

BOOL CryptCATAdminReleaseContext(HCATADMIN hCatAdmin, DWORD /*dwFlags*/) {
    auto* admin = static_cast<CatalogAdmin*>(hCatAdmin);
    std::uint32_t expected = kAdminMagic;
    if (!admin || !admin->magic.compare_exchange_strong(expected, 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    admin->released.store(true);
    RetireIfUnused(admin);
    return TRUE;
}

BOOL CryptCATAdminCalcHashFromFileHandle(HANDLE hFile, DWORD* pcbHash, BYTE* pbHash, DWORD /*dwFlags*/) {
    if (!pcbHash || !hFile || hFile == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    try {
        const auto file = MapHandle(hFile);
        if (!file) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        const auto hash = ComputeCatalogHash(file->ForHashing(), EVP_sha1());
        if (hash.empty()) {
            SetLastError(ERROR_FILE_INVALID);
            return FALSE;
        }
        const DWORD capacity = *pcbHash;
        *pcbHash = static_cast<DWORD>(hash.size());
        if (!pbHash || capacity < hash.size()) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        std::memcpy(pbHash, hash.data(), hash.size());
        return TRUE;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}

HCATINFO CryptCATAdminEnumCatalogFromHash(HCATADMIN hCatAdmin, BYTE* pbHash, DWORD cbHash, DWORD /*dwFlags*/,
                                          HCATINFO* phPrevCatInfo) {
    const AdminInUse use(hCatAdmin);
    CatalogAdmin* admin = use.get();
    if (!admin || !pbHash || cbHash == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    try {
        std::call_once(admin->indexed, [admin] {
            if (const auto folder = SystemCatalogFolder())
                admin->index = CatalogIndex::Build(*folder, &MapCatalog);
        });
        // Continuing an enumeration frees the previous catalog and looks past it.
        std::size_t start = 0;
        if (phPrevCatInfo && *phPrevCatInfo) {
            if (CatalogHandle* previous = CatalogFrom(*phPrevCatInfo)) {
                start = previous->position + 1;
                delete previous;
            }
            *phPrevCatInfo = nullptr;
        }
        const auto position = admin->index.FirstCatalogListing({pbHash, cbHash}, start);
        if (!position) {
            SetLastError(ERROR_NOT_FOUND);
            return nullptr;
        }
        auto* catalog = new CatalogHandle;
        catalog->position = *position;
        catalog->dosPath = velmora::kernel::LinuxPathToDos(admin->index.CatalogPath(*position)).Text();
        return catalog;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

BOOL CryptCATCatalogInfoFromContext(HCATINFO hCatInfo, CATALOG_INFO* psCatInfo, DWORD /*dwFlags*/) {
    CatalogHandle* catalog = CatalogFrom(hCatInfo);
    if (!catalog || !psCatInfo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (catalog->dosPath.size() >= MAX_PATH) {
        psCatInfo->wszCatalogFile[0] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::copy(catalog->dosPath.begin(), catalog->dosPath.end(), psCatInfo->wszCatalogFile);
    psCatInfo->wszCatalogFile[catalog->dosPath.size()] = 0;
    return TRUE;
}

BOOL CryptCATAdminReleaseCatalogContext(HCATADMIN hCatAdmin, HCATINFO hCatInfo, DWORD /*dwFlags*/) {
    CatalogHandle* catalog = CatalogFrom(hCatInfo);
    // A catalog found just before its context was released is still freed: the caller that
    // found it (a stopped worker finishing its file) must not leak it.
    auto* admin = static_cast<CatalogAdmin*>(hCatAdmin);
    const bool knownAdmin = admin && (admin->magic.load() == kAdminMagic || admin->released.load());
    if (!knownAdmin || !catalog) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    delete catalog;
    return TRUE;
}

LONG WinVerifyTrust(HWND /*hwnd*/, GUID* pgActionID, LPVOID pWVTData) {
    if (!pgActionID || !(*pgActionID == WINTRUST_ACTION_GENERIC_VERIFY_V2))
        return TRUST_E_ACTION_UNKNOWN;
    auto* data = static_cast<WINTRUST_DATA*>(pWVTData);
    if (!data || data->cbStruct < kWintrustDataThroughState)
        return E_INVALIDARG;
    if (data->dwStateAction == WTD_STATEACTION_CLOSE) {
        delete VerifyState::FromHandle(data->hWVTStateData);
        data->hWVTStateData = nullptr;
        return 0;
    }
    try {
        const LONG status = Verify(*data);
        SetLastError(static_cast<DWORD>(status));
        return status;
    } catch (...) {
        return TRUST_E_SYSTEM_ERROR;
    }
}

CRYPT_PROVIDER_DATA* WTHelperProvDataFromStateData(HANDLE hStateData) {
    VerifyState* state = VerifyState::FromHandle(hStateData);
    return state ? state->ProviderData() : nullptr;
}

CRYPT_PROVIDER_CERT* WTHelperGetProvCertFromChain(CRYPT_PROVIDER_SGNR* pSgnr, DWORD idxCert) {
    if (!pSgnr || idxCert >= pSgnr->csCertChain || !pSgnr->pasCertChain)
        return nullptr;
    return &pSgnr->pasCertChain[idxCert];
}

CRYPT_PROVIDER_SGNR* WTHelperGetProvSignerFromChain(CRYPT_PROVIDER_DATA* pProvData, DWORD idxSigner,
                                                    BOOL fCounterSigner, DWORD idxCounterSigner) {
    if (!pProvData || idxSigner >= pProvData->csSigners || !pProvData->pasSigners)
        return nullptr;
    CRYPT_PROVIDER_SGNR* signer = &pProvData->pasSigners[idxSigner];
    if (!fCounterSigner)
        return signer;
    if (idxCounterSigner >= signer->csCounterSigners || !signer->pasCounterSigners)
        return nullptr;
    return &signer->pasCounterSigners[idxCounterSigner];
}

} // extern "C"
