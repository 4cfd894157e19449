#include "app/fingerprint.h"

#include <fstream>
#include <memory>
#include <openssl/evp.h>

std::string sha256_file(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return {};
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return {};

    char chunk[4096];
    for (;;) {
        file.read(chunk, sizeof chunk);
        const std::streamsize got = file.gcount();
        if (got > 0 && EVP_DigestUpdate(context.get(), chunk, static_cast<std::size_t>(got)) != 1)
            return {};
        if (got < static_cast<std::streamsize>(sizeof chunk))
            break;
    }
    // A short read is the end of the file unless the stream says otherwise;
    // a fingerprint of part of a file would name another replay.
    if (file.bad() || !file.eof())
        return {};

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digest_size = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &digest_size) != 1)
        return {};
    static const char hex_digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * digest_size);
    for (unsigned int i = 0; i < digest_size; ++i) {
        hex += hex_digits[digest[i] >> 4];
        hex += hex_digits[digest[i] & 0x0F];
    }
    return hex;
}
