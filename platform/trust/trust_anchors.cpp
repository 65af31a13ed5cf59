#include "platform/trust/trust_anchors.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include "platform/trust/ossl_handles.h"

namespace velmora::trust {

extern const char kBuiltInAnchorsPem[];

namespace {

using BioPtr = std::unique_ptr<BIO, OsslDeleter<BIO_free>>;

// Adds every certificate of a PEM bundle, or of a single DER certificate.
void AddCertificates(X509_STORE* store, BIO* bio) {
    bool any = false;
    while (X509Ptr certificate{PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)}) {
        X509_STORE_add_cert(store, certificate.get());
        any = true;
    }
    if (!any && BIO_reset(bio) == 0) {
        if (X509Ptr certificate{d2i_X509_bio(bio, nullptr)})
            X509_STORE_add_cert(store, certificate.get());
    }
    ERR_clear_error();
}

void AddFile(X509_STORE* store, const std::filesystem::path& path) {
    BioPtr bio(BIO_new_file(path.c_str(), "rb"));
    if (bio)
        AddCertificates(store, bio.get());
}

void AddAnchorPath(X509_STORE* store, const std::string& entry) {
    std::error_code error;
    const std::filesystem::path path(entry);
    if (std::filesystem::is_directory(path, error)) {
        std::vector<std::filesystem::path> files;
        for (const auto& item : std::filesystem::directory_iterator(path, error))
            if (item.is_regular_file(error))
                files.push_back(item.path());
        std::sort(files.begin(), files.end());
        for (const auto& file : files)
            AddFile(store, file);
    } else if (std::filesystem::is_regular_file(path, error)) {
        AddFile(store, path);
    }
}

X509StorePtr BuildStore() {
    X509StorePtr store(X509_STORE_new());
    if (!store)
        return store;
    X509_STORE_set_default_paths(store.get());
    BioPtr builtIn(BIO_new_mem_buf(kBuiltInAnchorsPem, -1));
    if (builtIn)
        AddCertificates(store.get(), builtIn.get());
    if (const char* list = std::getenv("VELMORA_TRUST_ANCHORS")) {
        std::string entries(list);
        std::size_t start = 0;
        while (start <= entries.size()) {
            const std::size_t end = std::min(entries.find(':', start), entries.size());
            if (end > start)
                AddAnchorPath(store.get(), entries.substr(start, end - start));
            start = end + 1;
        }
    }
    // OpenSSL fills a certificate's extension cache the first time a chain needs it, without a
    // lock that covers every reader; filling it here, while the store is still private, keeps
    // verifications on several threads from racing on the shared anchors.
    STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(store.get());
    for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i)
        if (X509* certificate = X509_OBJECT_get0_X509(sk_X509_OBJECT_value(objects, i)))
            X509_check_purpose(certificate, -1, 0);
    ERR_clear_error();
    return store;
}

}  // namespace

X509_STORE* TrustAnchors() {
    static const X509StorePtr store = BuildStore();
    return store.get();
}

}  // namespace velmora::trust
