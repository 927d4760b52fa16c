#include "support/testcerts.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <stdexcept>

namespace testsupport {
namespace {

EVP_PKEY* newKey(bool rsa = false) {
    EVP_PKEY* key = rsa ? EVP_RSA_gen(2048) : EVP_EC_gen("P-256");
    if (!key) throw std::runtime_error("EC key");
    return key;
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext) throw std::runtime_error("extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

X509* makeCert(EVP_PKEY* key, const std::string& commonName, X509* issuer, EVP_PKEY* issuerKey, long fromDays,
               long toDays, long serial) {
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), fromDays * 86400L);
    X509_gmtime_adj(X509_getm_notAfter(cert), toDays * 86400L);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()),
                               -1, -1, 0);
    X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer) : name);
    (void)issuerKey;
    return cert;
}

void writePem(const std::string& path, X509* cert, EVP_PKEY* key) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) throw std::runtime_error("write " + path);
    if (cert) PEM_write_X509(f, cert);
    if (key) PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(f);
}

std::string fingerprintOf(X509* cert) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(cert, EVP_sha256(), digest, &length);
    std::string out;
    char pair[4];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, i ? ":%02X" : "%02X", digest[i]);
        out += pair;
    }
    return out;
}

long g_serial = 1000;

}  // namespace

TestCa::TestCa(std::string dir) : m_dir(std::move(dir)), m_caFile(m_dir + "/ca.pem") {
    EVP_PKEY* key = newKey();
    X509* cert = makeCert(key, "orrindel test authority", nullptr, key, -1, 3650, 1);
    addExtension(cert, cert, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(cert, cert, NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(cert, cert, NID_subject_key_identifier, "hash");
    X509_sign(cert, key, EVP_sha256());
    writePem(m_caFile, cert, nullptr);
    m_key = key;
    m_cert = cert;
}

TestCa::~TestCa() {
    X509_free(static_cast<X509*>(m_cert));
    EVP_PKEY_free(static_cast<EVP_PKEY*>(m_key));
}

CertFiles TestCa::issue(const std::string& stem, const std::string& dnsName, long notBeforeDays, long notAfterDays,
                        bool selfSigned, bool withAddresses, bool rsa) {
    EVP_PKEY* key = newKey(rsa);
    X509* issuer = selfSigned ? nullptr : static_cast<X509*>(m_cert);
    EVP_PKEY* issuerKey = selfSigned ? key : static_cast<EVP_PKEY*>(m_key);
    X509* cert = makeCert(key, dnsName, issuer, issuerKey, notBeforeDays, notAfterDays, ++g_serial);
    std::string san = "DNS:" + dnsName;
    if (withAddresses) san += ",IP:127.0.0.1,IP:::1";
    addExtension(cert, issuer ? issuer : cert, NID_subject_alt_name, san.c_str());
    addExtension(cert, issuer ? issuer : cert, NID_basic_constraints, "CA:FALSE");
    addExtension(cert, issuer ? issuer : cert, NID_ext_key_usage, "serverAuth");
    X509_sign(cert, issuerKey, EVP_sha256());
    CertFiles files{m_dir + "/" + stem + ".pem", m_dir + "/" + stem + ".key", fingerprintOf(cert)};
    writePem(files.cert, cert, nullptr);
    writePem(files.key, nullptr, key);
    X509_free(cert);
    EVP_PKEY_free(key);
    return files;
}

}  // namespace testsupport
