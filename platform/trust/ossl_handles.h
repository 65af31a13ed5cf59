// One owner per OpenSSL object: unique_ptr with the library's own free function.
#pragma once

#include <memory>

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace velmora::trust {

template <auto FreeFunction>
struct OsslDeleter {
    template <typename T>
    void operator()(T* p) const {
        FreeFunction(p);
    }
};

using X509Ptr = std::unique_ptr<X509, OsslDeleter<X509_free>>;
using X509StorePtr = std::unique_ptr<X509_STORE, OsslDeleter<X509_STORE_free>>;
using X509StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, OsslDeleter<X509_STORE_CTX_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, OsslDeleter<EVP_MD_CTX_free>>;
using EkuPtr = std::unique_ptr<EXTENDED_KEY_USAGE, OsslDeleter<EXTENDED_KEY_USAGE_free>>;

struct X509StackDeleter {
    void operator()(STACK_OF(X509) * stack) const { sk_X509_pop_free(stack, X509_free); }
};
using X509StackPtr = std::unique_ptr<STACK_OF(X509), X509StackDeleter>;

}  // namespace velmora::trust
