#pragma once

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

// The OpenSSL functions the program calls, found in its libraries the first
// time a secure connection or a digest is needed: mapped at start, the
// libraries would cost more resident memory than the program's own code,
// and most runs need them late or never.
#define TERNBELL_OPENSSL_FUNCTIONS(F)                                                                       \
    F(ERR_peek_last_error) F(ERR_clear_error) F(ERR_reason_error_string)                                      \
    F(BIO_clear_flags) F(BIO_set_flags) F(BIO_get_data) F(BIO_set_data) F(BIO_set_init) F(BIO_new)            \
    F(BIO_meth_new) F(BIO_get_new_index) F(BIO_meth_set_write) F(BIO_meth_set_read) F(BIO_meth_set_ctrl)      \
    F(BIO_meth_set_create)                                                                                    \
    F(X509_verify_cert_error_string) F(X509_VERIFY_PARAM_set1_ip_asc)                                         \
    F(TLS_client_method) F(SSL_CTX_new) F(SSL_CTX_free) F(SSL_CTX_ctrl) F(SSL_CTX_set_options)                \
    F(SSL_CTX_set_verify) F(SSL_CTX_set_default_verify_paths)                                                 \
    F(SSL_new) F(SSL_free) F(SSL_ctrl) F(SSL_set_bio) F(SSL_set1_host) F(SSL_set_hostflags) F(SSL_get0_param) \
    F(SSL_connect) F(SSL_is_init_finished) F(SSL_get_verify_result) F(SSL_get_error) F(SSL_read)              \
    F(SSL_write) F(SSL_shutdown)                                                                              \
    F(EVP_md5) F(EVP_Digest)

struct TOpenSsl
{
#define TERNBELL_OPENSSL_POINTER(name) decltype(&::name) name = nullptr;
    TERNBELL_OPENSSL_FUNCTIONS(TERNBELL_OPENSSL_POINTER)
#undef TERNBELL_OPENSSL_POINTER
};

// The functions, loaded once, safely from any thread. Raises
// EIdTLSNotAvailable when the libraries or a function cannot be found.
const TOpenSsl& OpenSsl();

// Whether the libraries are mapped yet.
bool OpenSslLoaded();
