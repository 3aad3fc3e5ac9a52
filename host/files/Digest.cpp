#include "Digest.h"

#include <openssl/evp.h>

#include <new>

namespace ledgerhost {

// OpenSSL's SHA-256 uses the processor's SHA instructions where it has them.
struct ContentDigest::Context {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(md); }
};

ContentDigest::ContentDigest() : ctx_(std::make_unique<Context>()) {
    if (!ctx_->md || EVP_DigestInit_ex(ctx_->md, EVP_sha256(), nullptr) != 1)
        throw std::bad_alloc();
}

ContentDigest::~ContentDigest() = default;

void ContentDigest::add(std::string_view bytes) {
    if (!bytes.empty()) EVP_DigestUpdate(ctx_->md, bytes.data(), bytes.size());
}

std::string ContentDigest::hex() {
    unsigned char sum[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_DigestFinal_ex(ctx_->md, sum, &n);
    static const char kHex[] = "0123456789abcdef";
    std::string out(2 * n, '0');
    for (unsigned int i = 0; i < n; ++i) {
        out[2 * i] = kHex[sum[i] >> 4];
        out[2 * i + 1] = kHex[sum[i] & 0xF];
    }
    return out;
}

std::string contentDigest(std::string_view bytes) {
    ContentDigest d;
    d.add(bytes);
    return d.hex();
}

}  // namespace ledgerhost
