// A trust library that decides nothing: it does what the recorder's script says and logs every
// call with its arguments, including the fields of the records it is handed. Built in variants
// that lack one export (FAKE_TRUST_OMIT_ACQUIRE, FAKE_TRUST_OMIT_CERT_HELPER).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "platform/kernel/file_api.h"
#include "platform/kernel/wide_text.h"
#include "platform/trust/wintrust.h"
#include "tests/verify/fake_trust/recorder.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const HCATADMIN kAdmin = reinterpret_cast<HCATADMIN>(0xAD01);
constexpr std::uintptr_t kCatalogBase = 0xCA00;
constexpr std::uintptr_t kStateBase = 0x5700;

// What one verification state owns: the provider data and everything it points to.
struct State {
    int number = 0; // as the log names it: the n-th state since the recorder was last reset
    CRYPT_PROVIDER_DATA provider = {};
    CRYPT_PROVIDER_SGNR signer = {};
    std::vector<CRYPT_PROVIDER_CERT> chain;
    std::vector<CERT_CONTEXT> contexts;
    std::vector<CERT_INFO> infos;
    std::vector<std::vector<BYTE>> subjects;
};

std::map<std::uintptr_t, std::unique_ptr<State>>& States() {
    static std::map<std::uintptr_t, std::unique_ptr<State>> states;
    return states;
}
std::uintptr_t g_nextState = kStateBase + 1;

std::string Pointer(const void* p) {
    if (p == nullptr)
        return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%#lx", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(p)));
    return text;
}

std::string Admin(HCATADMIN h) {
    return h == kAdmin ? "admin" : Pointer(h);
}

std::string Catalog(HCATINFO h) {
    const auto value = reinterpret_cast<std::uintptr_t>(h);
    if (value > kCatalogBase && value <= kCatalogBase + 0xFF)
        return "catalog#" + std::to_string(value - kCatalogBase);
    return Pointer(h);
}

std::string StateName(HANDLE h) {
    const auto value = reinterpret_cast<std::uintptr_t>(h);
    if (auto it = States().find(value); it != States().end())
        return "state#" + std::to_string(it->second->number);
    return Pointer(h);
}

std::string Text(LPCWSTR text) {
    return text == nullptr ? "null" : "'" + Utf16ToUtf8(text) + "'";
}

std::string Hex(const BYTE* bytes, DWORD count) {
    std::string hex;
    char two[3];
    for (DWORD i = 0; i < count; ++i) {
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        hex += two;
    }
    return hex;
}

std::string Status(LONG status) {
    char text[16];
    std::snprintf(text, sizeof text, "%#x", static_cast<unsigned>(status));
    return status == 0 ? "0" : text;
}

std::string Guid(const GUID* g) {
    if (g == nullptr)
        return "null";
    if (*g == WINTRUST_ACTION_GENERIC_VERIFY_V2)
        return "generic-verify-v2";
    return "other-guid";
}

std::string DataFields(const WINTRUST_DATA* d) {
    std::string s = "cbStruct=" + std::to_string(d->cbStruct) + " policy=" + Pointer(d->pPolicyCallbackData) +
                    " sip=" + Pointer(d->pSIPClientData) + " ui=" + std::to_string(d->dwUIChoice) +
                    " revoke=" + std::to_string(d->fdwRevocationChecks) +
                    " choice=" + std::to_string(d->dwUnionChoice) + " state=" + StateName(d->hWVTStateData) +
                    " url=" + Pointer(d->pwszURLReference) + " provFlags=" + std::to_string(d->dwProvFlags) +
                    " uiContext=" + std::to_string(d->dwUIContext);
    if (d->dwUnionChoice == WTD_CHOICE_FILE && d->pFile != nullptr) {
        const WINTRUST_FILE_INFO* f = d->pFile;
        s += " | file cbStruct=" + std::to_string(f->cbStruct) + " path=" + Text(f->pcwszFilePath) +
             " hFile=" + Pointer(f->hFile) + " known=" + Pointer(f->pgKnownSubject);
    } else if (d->dwUnionChoice == WTD_CHOICE_CATALOG && d->pCatalog != nullptr) {
        const WINTRUST_CATALOG_INFO* c = d->pCatalog;
        s += " | catalog cbStruct=" + std::to_string(c->cbStruct) +
             " version=" + std::to_string(c->dwCatalogVersion) + " catalog=" + Text(c->pcwszCatalogFilePath) +
             " tag=" + Text(c->pcwszMemberTag) + " member=" + Text(c->pcwszMemberFilePath) +
             " hMember=" + Pointer(c->hMemberFile) + " hash=" + Pointer(c->pbCalculatedFileHash) +
             " cbHash=" + std::to_string(c->cbCalculatedFileHash) +
             " context=" + Pointer(c->pcCatalogContext);
    }
    return s;
}

HANDLE NewState() {
    const fake_trust::Script& script = fake_trust::CurrentScript();
    auto state = std::make_unique<State>();
    state->subjects = script.chainSubjects;
    const std::size_t n = state->subjects.size();
    state->infos.resize(n);
    state->contexts.resize(n);
    state->chain.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        state->infos[i].Subject.cbData = static_cast<DWORD>(state->subjects[i].size());
        state->infos[i].Subject.pbData = state->subjects[i].data();
        state->contexts[i].dwCertEncodingType = X509_ASN_ENCODING;
        state->contexts[i].pCertInfo = &state->infos[i];
        state->chain[i].cbStruct = sizeof(CRYPT_PROVIDER_CERT);
        state->chain[i].pCert = &state->contexts[i];
    }
    if (script.nullCertificate && n > 0)
        state->chain[0].pCert = nullptr;
    state->signer.cbStruct = sizeof(CRYPT_PROVIDER_SGNR);
    state->signer.csCertChain = static_cast<DWORD>(n);
    state->signer.pasCertChain = n > 0 ? state->chain.data() : nullptr;
    state->provider.cbStruct = sizeof(CRYPT_PROVIDER_DATA);
    state->provider.csSigners = 1;
    state->provider.pasSigners = &state->signer;

    state->number = fake_trust::NextStateNumber();
    const std::uintptr_t id = g_nextState++;
    States()[id] = std::move(state);
    fake_trust::ChangeOpenStates(+1);
    return reinterpret_cast<HANDLE>(id);
}

} // namespace

#ifndef FAKE_TRUST_OMIT_ACQUIRE
FAKE_EXPORT BOOL CryptCATAdminAcquireContext(HCATADMIN* phCatAdmin, const GUID* pgSubsystem, DWORD dwFlags) {
    const BOOL result = fake_trust::CurrentScript().acquireResult;
    fake_trust::Record("CryptCATAdminAcquireContext out=" + std::string(phCatAdmin ? "set" : "null") +
                       " subsystem=" + Pointer(pgSubsystem) + " flags=" + std::to_string(dwFlags) + " -> " +
                       (result ? "TRUE" : "FALSE"));
    if (phCatAdmin != nullptr)
        *phCatAdmin = result ? kAdmin : reinterpret_cast<HCATADMIN>(0xBAD);
    return result;
}
#endif

FAKE_EXPORT BOOL CryptCATAdminReleaseContext(HCATADMIN hCatAdmin, DWORD dwFlags) {
    const BOOL result = fake_trust::CurrentScript().releaseResult;
    fake_trust::Record("CryptCATAdminReleaseContext admin=" + Admin(hCatAdmin) +
                       " flags=" + std::to_string(dwFlags) + " -> " + (result ? "TRUE" : "FALSE"));
    return result;
}

FAKE_EXPORT BOOL CryptCATAdminCalcHashFromFileHandle(HANDLE hFile, DWORD* pcbHash, BYTE* pbHash,
                                                     DWORD dwFlags) {
    const fake_trust::Script& script = fake_trust::CurrentScript();
    std::string file = "invalid";
    struct stat st;
    const int fd = velmora::kernel::KernelFileDescriptor(hFile);
    if (fd >= 0 && fstat(fd, &st) == 0)
        file = "open(size=" + std::to_string(st.st_size) + ")";
    const DWORD capacity = pcbHash ? *pcbHash : 0;
    bool zeroed = pbHash != nullptr;
    for (DWORD i = 0; zeroed && i < capacity; ++i)
        zeroed = pbHash[i] == 0;

    const DWORD length =
        script.reportedHashLength ? script.reportedHashLength : static_cast<DWORD>(script.hash.size());
    if (pbHash != nullptr)
        for (DWORD i = 0; i < capacity && i < script.hash.size(); ++i)
            pbHash[i] = script.hash[i];
    if (pcbHash != nullptr)
        *pcbHash = length;
    fake_trust::Record("CryptCATAdminCalcHashFromFileHandle file=" + file +
                       " capacity=" + std::to_string(capacity) + " buffer=" + (zeroed ? "zeroed" : "dirty") +
                       " flags=" + std::to_string(dwFlags) + " -> " + (script.hashResult ? "TRUE" : "FALSE") +
                       " length=" + std::to_string(length));
    return script.hashResult;
}

FAKE_EXPORT HCATINFO CryptCATAdminEnumCatalogFromHash(HCATADMIN hCatAdmin, BYTE* pbHash, DWORD cbHash,
                                                      DWORD dwFlags, HCATINFO* phPrevCatInfo) {
    const fake_trust::Script& script = fake_trust::CurrentScript();
    std::size_t next = 0;
    if (phPrevCatInfo != nullptr && *phPrevCatInfo != nullptr)
        next = reinterpret_cast<std::uintptr_t>(*phPrevCatInfo) - kCatalogBase;
    HCATINFO found =
        next < script.catalogs.size() ? reinterpret_cast<HCATINFO>(kCatalogBase + next + 1) : nullptr;
    fake_trust::Record("CryptCATAdminEnumCatalogFromHash admin=" + Admin(hCatAdmin) +
                       " hash=" + (pbHash ? Hex(pbHash, cbHash) : "null") +
                       " cbHash=" + std::to_string(cbHash) + " flags=" + std::to_string(dwFlags) + " prev=" +
                       (phPrevCatInfo ? Catalog(*phPrevCatInfo) : "null") + " -> " + Catalog(found));
    return found;
}

FAKE_EXPORT BOOL CryptCATCatalogInfoFromContext(HCATINFO hCatInfo, CATALOG_INFO* psCatInfo, DWORD dwFlags) {
    const fake_trust::Script& script = fake_trust::CurrentScript();
    std::string fields = "null";
    BOOL result = FALSE;
    if (psCatInfo != nullptr) {
        bool zeroed = true;
        for (WCHAR c : psCatInfo->wszCatalogFile)
            zeroed = zeroed && c == 0;
        fields = "cbStruct=" + std::to_string(psCatInfo->cbStruct) + " file=" + (zeroed ? "zeroed" : "dirty");
        const std::size_t index = reinterpret_cast<std::uintptr_t>(hCatInfo) - kCatalogBase - 1;
        if (index < script.catalogs.size()) {
            const std::u16string& path = script.catalogs[index];
            std::size_t i = 0;
            for (; i < path.size() && i + 1 < MAX_PATH; ++i)
                psCatInfo->wszCatalogFile[i] = path[i];
            psCatInfo->wszCatalogFile[i] = u'\0';
            result = TRUE;
        }
    }
    fake_trust::Record("CryptCATCatalogInfoFromContext " + Catalog(hCatInfo) + " info=" + fields +
                       " flags=" + std::to_string(dwFlags));
    return result;
}

FAKE_EXPORT BOOL CryptCATAdminReleaseCatalogContext(HCATADMIN hCatAdmin, HCATINFO hCatInfo, DWORD dwFlags) {
    fake_trust::Record("CryptCATAdminReleaseCatalogContext admin=" + Admin(hCatAdmin) + " " +
                       Catalog(hCatInfo) + " flags=" + std::to_string(dwFlags));
    return TRUE;
}

FAKE_EXPORT LONG WinVerifyTrust(HWND hwnd, GUID* pgActionID, LPVOID pWVTData) {
    auto* data = static_cast<WINTRUST_DATA*>(pWVTData);
    const std::string head =
        "hwnd=" +
        std::string(reinterpret_cast<HANDLE>(hwnd) == INVALID_HANDLE_VALUE ? "invalid-handle-value"
                                                                           : Pointer(hwnd)) +
        " action=" + Guid(pgActionID);
    if (data == nullptr) {
        fake_trust::Record("WinVerifyTrust null-data " + head);
        return E_INVALIDARG;
    }
    if (data->dwStateAction == WTD_STATEACTION_CLOSE) {
        fake_trust::Record("WinVerifyTrust close " + head + " " + DataFields(data));
        const auto id = reinterpret_cast<std::uintptr_t>(data->hWVTStateData);
        if (States().erase(id))
            fake_trust::ChangeOpenStates(-1);
        data->hWVTStateData = nullptr;
        return 0;
    }

    const fake_trust::Script& script = fake_trust::CurrentScript();
    const std::string fields = DataFields(data);
    LONG result = TRUST_E_SUBJECT_FORM_UNKNOWN;
    if (data->dwUnionChoice == WTD_CHOICE_FILE) {
        result = script.embeddedResult;
        if (!script.removeDuringEmbeddedCheck.empty())
            unlink(script.removeDuringEmbeddedCheck.c_str());
    } else if (data->dwUnionChoice == WTD_CHOICE_CATALOG) {
        result = script.catalogResult;
    }
    data->hWVTStateData = NewState();
    fake_trust::Record("WinVerifyTrust verify " + head + " " + fields + " -> " + Status(result) + " " +
                       StateName(data->hWVTStateData));
    return result;
}

FAKE_EXPORT CRYPT_PROVIDER_DATA* WTHelperProvDataFromStateData(HANDLE hStateData) {
    auto it = States().find(reinterpret_cast<std::uintptr_t>(hStateData));
    CRYPT_PROVIDER_DATA* provider = nullptr;
    if (it != States().end() && fake_trust::CurrentScript().providerData)
        provider = &it->second->provider;
    fake_trust::Record("WTHelperProvDataFromStateData " + StateName(hStateData) + " -> " +
                       (provider ? "provider" : "null"));
    return provider;
}

#ifndef FAKE_TRUST_OMIT_CERT_HELPER
FAKE_EXPORT CRYPT_PROVIDER_CERT* WTHelperGetProvCertFromChain(CRYPT_PROVIDER_SGNR* pSgnr, DWORD idxCert) {
    fake_trust::Record("WTHelperGetProvCertFromChain " + Pointer(pSgnr) +
                       " index=" + std::to_string(idxCert));
    if (pSgnr == nullptr || idxCert >= pSgnr->csCertChain)
        return nullptr;
    return &pSgnr->pasCertChain[idxCert];
}
#endif

FAKE_EXPORT CRYPT_PROVIDER_SGNR* WTHelperGetProvSignerFromChain(CRYPT_PROVIDER_DATA* pProvData,
                                                                DWORD idxSigner, BOOL fCounterSigner,
                                                                DWORD idxCounterSigner) {
    CRYPT_PROVIDER_SGNR* signer = nullptr;
    bool known = false;
    for (auto& [id, state] : States())
        known = known || &state->provider == pProvData;
    if (known && fake_trust::CurrentScript().signer && idxSigner < pProvData->csSigners && !fCounterSigner)
        signer = &pProvData->pasSigners[idxSigner];
    fake_trust::Record(
        "WTHelperGetProvSignerFromChain " + std::string(known ? "provider" : Pointer(pProvData)) +
        " signer=" + std::to_string(idxSigner) + " counter=" + (fCounterSigner ? "TRUE" : "FALSE") +
        " counterIndex=" + std::to_string(idxCounterSigner) + " -> " + (signer ? "signer" : "null"));
    return signer;
}
