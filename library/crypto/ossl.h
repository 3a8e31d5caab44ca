// The one owner of every OpenSSL handle kind the library uses (the archive component's AES
// reader takes its cipher and MAC handles from here too), and the few helpers that turn
// OpenSSL's error queue into our error type.
//
// Each handle kind gets one unique_ptr alias whose deleter is the matching *_free; nothing
// else in the library calls a *_free function by hand. Shared ownership (a certificate
// held by several collections) goes through std::shared_ptr built from these.
#pragma once

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "library/platform/text.h"

namespace vellum::crypto::ossl {

template <auto FreeFn>
struct Deleter {
  template <typename T>
  void operator()(T* p) const noexcept {
    FreeFn(p);
  }
};

using X509Ptr = std::unique_ptr<X509, Deleter<X509_free>>;
using X509CrlPtr = std::unique_ptr<X509_CRL, Deleter<X509_CRL_free>>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX_free>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, Deleter<CMS_ContentInfo_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO_free_all>>;
using BioMethodPtr = std::unique_ptr<BIO_METHOD, Deleter<BIO_meth_free>>;
using X509StorePtr = std::unique_ptr<X509_STORE, Deleter<X509_STORE_free>>;
using X509StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX_free>>;
using X509NamePtr = std::unique_ptr<X509_NAME, Deleter<X509_NAME_free>>;
using X509ExtPtr = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>>;
using MdPtr = std::unique_ptr<EVP_MD, Deleter<EVP_MD_free>>;
using CipherPtr = std::unique_ptr<EVP_CIPHER, Deleter<EVP_CIPHER_free>>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, Deleter<EVP_CIPHER_CTX_free>>;
using MacPtr = std::unique_ptr<EVP_MAC, Deleter<EVP_MAC_free>>;
using MacCtxPtr = std::unique_ptr<EVP_MAC_CTX, Deleter<EVP_MAC_CTX_free>>;
using Pkcs12Ptr = std::unique_ptr<PKCS12, Deleter<PKCS12_free>>;
using Asn1TimePtr = std::unique_ptr<ASN1_TIME, Deleter<ASN1_TIME_free>>;
using Asn1IntegerPtr = std::unique_ptr<ASN1_INTEGER, Deleter<ASN1_INTEGER_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, Deleter<BN_free>>;
using Pbkdf2ParamPtr = std::unique_ptr<PBKDF2PARAM, Deleter<PBKDF2PARAM_free>>;
using X509AttributePtr = std::unique_ptr<X509_ATTRIBUTE, Deleter<X509_ATTRIBUTE_free>>;
using Asn1EnumeratedPtr = std::unique_ptr<ASN1_ENUMERATED, Deleter<ASN1_ENUMERATED_free>>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, Deleter<PKCS7_free>>;
// RFC 3161 time-stamping: the request, the answer, the token's content and the imprint.
using TsReqPtr = std::unique_ptr<TS_REQ, Deleter<TS_REQ_free>>;
using TsRespPtr = std::unique_ptr<TS_RESP, Deleter<TS_RESP_free>>;
using TsTstInfoPtr = std::unique_ptr<TS_TST_INFO, Deleter<TS_TST_INFO_free>>;
using TsMsgImprintPtr = std::unique_ptr<TS_MSG_IMPRINT, Deleter<TS_MSG_IMPRINT_free>>;
using X509AlgorPtr = std::unique_ptr<X509_ALGOR, Deleter<X509_ALGOR_free>>;

// Stacks own their elements too.
inline void FreeX509Stack(STACK_OF(X509) * s) {
  sk_X509_pop_free(s, X509_free);
}
using X509StackPtr = std::unique_ptr<STACK_OF(X509), Deleter<FreeX509Stack>>;
// A stack that only borrows its certificates (PKCS7_get0_signers hands one back).
inline void FreeX509StackShell(STACK_OF(X509) * s) {
  sk_X509_free(s);
}
using X509BorrowedStackPtr = std::unique_ptr<STACK_OF(X509), Deleter<FreeX509StackShell>>;

// OpenSSL's allocations handed back to us (i2d output, UTF-8 conversions of names), freed on
// release. None of them holds key or password material: such material lives in buffers whose
// holders wipe them (platform/secret.h).
inline void FreeOpensslBytes(unsigned char* p) {
  OPENSSL_free(p);
}
using OpensslBytes = std::unique_ptr<unsigned char, Deleter<FreeOpensslBytes>>;

// Loads the default and legacy providers into the process's default library context, once,
// from whichever thread gets here first. RC2, DES and MD4 live in the legacy provider; when it
// is missing those algorithms simply fail to fetch and their callers report that.
void EnsureProviders();

// The entries of OpenSSL's error queue, oldest first, taken off the queue. A failure deep in
// a call is often followed by a generic one from its caller, so mapping a failure to a code
// looks at every entry.
struct ErrorQueue {
  std::vector<unsigned long> codes;
  bool Has(int lib, int reason) const;
  std::string Text() const;  // the newest entry as text; empty when none
};
ErrorQueue TakeErrors();

// Throws vellum::Error with `hresult` and a description built from `what` and the newest
// entry of OpenSSL's error queue (which is emptied).
[[noreturn]] void Fail(std::int32_t hresult, const std::string& what);
[[noreturn]] void Fail(std::int32_t hresult, const std::string& what, const ErrorQueue& errors);

// A read-only memory BIO over `data` (which must outlive it).
BioPtr MemoryReader(std::string_view data);
// The bytes written into a memory BIO so far.
Bytes MemoryContents(BIO* bio);

}  // namespace vellum::crypto::ossl
