// Certificates for TLS tests, made with OpenSSL in a directory of the test:
// an authority of the test's own and server certificates it signs (or that
// sign themselves), valid, expired or for another name.
#pragma once

#include <string>

namespace testsupport {

struct CertFiles {
    std::string cert;  // PEM certificate
    std::string key;   // PEM private key
    std::string fingerprint;  // SHA-256, hex pairs joined by ':'
};

class TestCa {
public:
    // Makes the authority's key and certificate as dir/ca.pem.
    explicit TestCa(std::string dir);
    ~TestCa();
    TestCa(const TestCa&) = delete;
    TestCa& operator=(const TestCa&) = delete;

    const std::string& caFile() const { return m_caFile; }
    // A server certificate for dnsName (and 127.0.0.1, ::1 as addresses when
    // withAddresses) valid from notBeforeDays to notAfterDays after now,
    // written as dir/STEM.pem and dir/STEM.key; selfSigned leaves the
    // authority out. Keys are P-256, or RSA 2048 for servers that take no
    // other (OpenSMTPD 6.8 signs with RSA keys only).
    CertFiles issue(const std::string& stem, const std::string& dnsName, long notBeforeDays = -1,
                    long notAfterDays = 30, bool selfSigned = false, bool withAddresses = true, bool rsa = false);

private:
    std::string m_dir;
    std::string m_caFile;
    void* m_key = nullptr;   // EVP_PKEY*
    void* m_cert = nullptr;  // X509*
};

}  // namespace testsupport
