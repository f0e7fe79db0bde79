#include "platform/crypto.h"

#include <dlfcn.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/opensslv.h>
#include <openssl/pem.h>

#include <cstdio>
#include <memory>

#include "platform/paths.h"

namespace platform {

namespace {

#define CORVANE_TEXT(x) #x
#define CORVANE_VERSION_TEXT(x) CORVANE_TEXT(x)

// libcrypto is loaded when a hash or a signature is first asked for, not with the program: most
// runs of the tools need neither, and loading and binding its thousands of symbols cost close to
// a millisecond at every start. Without it every hash and signature fails.
struct LibCrypto {
#define CORVANE_CRYPTO_ENTRY(name) decltype(&::name) name = nullptr;
#define CORVANE_CRYPTO_ENTRIES                                                                     \
  CORVANE_CRYPTO_ENTRY(BIO_new_mem_buf)                                                            \
  CORVANE_CRYPTO_ENTRY(BIO_free_all)                                                               \
  CORVANE_CRYPTO_ENTRY(PEM_read_bio_PUBKEY)                                                        \
  CORVANE_CRYPTO_ENTRY(EVP_PKEY_free)                                                              \
  CORVANE_CRYPTO_ENTRY(EVP_PKEY_is_a)                                                              \
  CORVANE_CRYPTO_ENTRY(EVP_PKEY_get_utf8_string_param)                                             \
  CORVANE_CRYPTO_ENTRY(EVP_MD_CTX_new)                                                             \
  CORVANE_CRYPTO_ENTRY(EVP_MD_CTX_free)                                                            \
  CORVANE_CRYPTO_ENTRY(EVP_sha256)                                                                 \
  CORVANE_CRYPTO_ENTRY(EVP_DigestInit_ex)                                                          \
  CORVANE_CRYPTO_ENTRY(EVP_DigestUpdate)                                                           \
  CORVANE_CRYPTO_ENTRY(EVP_DigestFinal_ex)                                                         \
  CORVANE_CRYPTO_ENTRY(EVP_DigestVerifyInit)                                                       \
  CORVANE_CRYPTO_ENTRY(EVP_DigestVerify)
  CORVANE_CRYPTO_ENTRIES
#undef CORVANE_CRYPTO_ENTRY
};

// The library and every entry, or nothing when any of them is missing.
const LibCrypto* Crypto() {
  static const LibCrypto* const loaded = []() -> const LibCrypto* {
    void* module =
        dlopen("libcrypto.so." CORVANE_VERSION_TEXT(OPENSSL_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL);
    if (!module) return nullptr;
    static LibCrypto lib;
    bool complete = true;
#define CORVANE_CRYPTO_ENTRY(name)                                                                 \
  lib.name = reinterpret_cast<decltype(&::name)>(dlsym(module, #name));                            \
  complete = complete && lib.name;
    CORVANE_CRYPTO_ENTRIES
#undef CORVANE_CRYPTO_ENTRY
    return complete ? &lib : nullptr;
  }();
  return loaded;
}
#undef CORVANE_CRYPTO_ENTRIES

struct BioFree {
  void operator()(BIO* p) const { Crypto()->BIO_free_all(p); }
};
struct KeyFree {
  void operator()(EVP_PKEY* p) const { Crypto()->EVP_PKEY_free(p); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* p) const { Crypto()->EVP_MD_CTX_free(p); }
};
using Bio = std::unique_ptr<BIO, BioFree>;
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

// A SHA-256 context ready for data, or none.
MdCtx NewSha256(const LibCrypto* c) {
  if (!c) return nullptr;
  MdCtx ctx(c->EVP_MD_CTX_new());
  if (ctx && c->EVP_DigestInit_ex(ctx.get(), c->EVP_sha256(), nullptr) != 1) ctx.reset();
  return ctx;
}

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

std::string Hex(const unsigned char* digest, unsigned int length) {
  static const char hex[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text += hex[digest[i] >> 4];
    text += hex[digest[i] & 15];
  }
  return text;
}

} // namespace

struct Sha256Stream::State {
  const LibCrypto* c = Crypto();
  MdCtx ctx = NewSha256(c);
  bool ok = ctx != nullptr;
};

Sha256Stream::Sha256Stream() : state_(std::make_unique<State>()) {}
Sha256Stream::~Sha256Stream() = default;

void Sha256Stream::Update(const void* data, size_t size) {
  if (state_->ok && size > 0)
    state_->ok = state_->c->EVP_DigestUpdate(state_->ctx.get(), data, size) == 1;
}

std::optional<std::string> Sha256Stream::Finish() {
  if (!state_->ok) return std::nullopt;
  state_->ok = false;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (state_->c->EVP_DigestFinal_ex(state_->ctx.get(), digest, &length) != 1) return std::nullopt;
  return Hex(digest, length);
}

std::optional<std::string> FileSha256(const std::string& path) {
  std::unique_ptr<FILE, FileCloser> file(std::fopen(NativePath(path).c_str(), "rb"));
  if (!file) return std::nullopt;
  const LibCrypto* c = Crypto();
  MdCtx ctx = NewSha256(c);
  if (!ctx) return std::nullopt;
  std::unique_ptr<char[]> buffer(new char[1 << 16]);
  size_t n;
  while ((n = std::fread(buffer.get(), 1, 1 << 16, file.get())) > 0)
    if (c->EVP_DigestUpdate(ctx.get(), buffer.get(), n) != 1) return std::nullopt;
  if (std::ferror(file.get())) return std::nullopt;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (c->EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) return std::nullopt;
  return Hex(digest, length);
}

bool VerifyP256Signature(const std::string& publicKeyPem, const std::string& data,
                         const std::string& signature) {
  const LibCrypto* c = Crypto();
  if (!c) return false;
  Bio bio(c->BIO_new_mem_buf(publicKeyPem.data(), static_cast<int>(publicKeyPem.size())));
  if (!bio) return false;
  Key key(c->PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
  if (!key || !c->EVP_PKEY_is_a(key.get(), "EC")) return false;
  char group[64] = {};
  size_t groupLength = 0;
  if (c->EVP_PKEY_get_utf8_string_param(key.get(), "group", group, sizeof group, &groupLength) !=
          1 ||
      std::string(group) != "prime256v1")
    return false;
  MdCtx ctx(c->EVP_MD_CTX_new());
  if (!ctx || c->EVP_DigestVerifyInit(ctx.get(), nullptr, c->EVP_sha256(), nullptr, key.get()) != 1)
    return false;
  return c->EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                             signature.size(), reinterpret_cast<const unsigned char*>(data.data()),
                             data.size()) == 1;
}

} // namespace platform
