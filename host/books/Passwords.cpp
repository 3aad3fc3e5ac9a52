#include "Passwords.h"

#include <sodium.h>

#include <cstdlib>
#include <cstring>

#include "Store.h"

namespace ledgerhost {

namespace {

// libsodium is set up once per process, before its first use.
void sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    if (!ready) throw StoreError("无法初始化密码库（libsodium）。");
}

}  // namespace

bool passwordTestCost() {
    static const bool lowered = [] {
        const char* v = std::getenv("LEDGER_TEST_PASSWORD_COST");
        return v && std::strcmp(v, "minimum") == 0;
    }();
    return lowered;
}

std::string hashPassword(const std::string& password) {
    sodiumReady();
    const bool test = passwordTestCost();
    const unsigned long long ops =
        test ? crypto_pwhash_OPSLIMIT_MIN : crypto_pwhash_OPSLIMIT_INTERACTIVE;
    const std::size_t mem = test ? crypto_pwhash_MEMLIMIT_MIN : crypto_pwhash_MEMLIMIT_INTERACTIVE;
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(out, password.data(), password.size(), ops, mem,
                              crypto_pwhash_ALG_ARGON2ID13) != 0)
        throw StoreError("无法计算密码的散列值：内存不足。");
    return out;
}

bool passwordMatches(const std::string& hash, const std::string& password) {
    sodiumReady();
    // Only an Argon2id hash of libsodium's form is accepted.
    if (hash.rfind("$argon2id$", 0) != 0 || hash.size() >= crypto_pwhash_STRBYTES) return false;
    char stored[crypto_pwhash_STRBYTES] = {};
    std::memcpy(stored, hash.data(), hash.size());
    return crypto_pwhash_str_verify(stored, password.data(), password.size()) == 0;
}

std::string newPasswordProblem(const std::string& password) {
    // Characters, not bytes: a Chinese character counts once.
    std::size_t characters = 0;
    for (unsigned char c : password) {
        if (c < 0x20 || c == 0x7F) return "密码不能含换行、制表符或其他控制字符。";
        if ((c & 0xC0) != 0x80) ++characters;
    }
    if (characters < kShortestPassword)
        return "密码太短：至少要 " + std::to_string(kShortestPassword) + " 个字符。";
    if (password.size() > 200) return "密码太长（最多 200 个字节）。";
    return {};
}

}  // namespace ledgerhost
