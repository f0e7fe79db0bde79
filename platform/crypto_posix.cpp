#include "platform/crypto.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <memory>

#include "platform/paths.h"

namespace platform {

namespace {

template <typename T, void (*Free)(T*)> struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;

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
  MdCtx ctx{EVP_MD_CTX_new()};
  bool ok = ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) == 1;
};

Sha256Stream::Sha256Stream() : state_(std::make_unique<State>()) {}
Sha256Stream::~Sha256Stream() = default;

void Sha256Stream::Update(const void* data, size_t size) {
  if (state_->ok && size > 0) state_->ok = EVP_DigestUpdate(state_->ctx.get(), data, size) == 1;
}

std::optional<std::string> Sha256Stream::Finish() {
  if (!state_->ok) return std::nullopt;
  state_->ok = false;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(state_->ctx.get(), digest, &length) != 1) return std::nullopt;
  return Hex(digest, length);
}

std::optional<std::string> FileSha256(const std::string& path) {
  std::unique_ptr<FILE, FileCloser> file(std::fopen(NativePath(path).c_str(), "rb"));
  if (!file) return std::nullopt;
  MdCtx ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return std::nullopt;
  std::unique_ptr<char[]> buffer(new char[1 << 16]);
  size_t n;
  while ((n = std::fread(buffer.get(), 1, 1 << 16, file.get())) > 0)
    if (EVP_DigestUpdate(ctx.get(), buffer.get(), n) != 1) return std::nullopt;
  if (std::ferror(file.get())) return std::nullopt;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) return std::nullopt;
  return Hex(digest, length);
}

bool VerifyP256Signature(const std::string& publicKeyPem, const std::string& data,
                         const std::string& signature) {
  Bio bio(BIO_new_mem_buf(publicKeyPem.data(), static_cast<int>(publicKeyPem.size())));
  if (!bio) return false;
  Key key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
  if (!key || !EVP_PKEY_is_a(key.get(), "EC")) return false;
  char group[64] = {};
  size_t groupLength = 0;
  if (EVP_PKEY_get_utf8_string_param(key.get(), "group", group, sizeof group, &groupLength) != 1 ||
      std::string(group) != "prime256v1")
    return false;
  MdCtx ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1)
    return false;
  return EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                          signature.size(), reinterpret_cast<const unsigned char*>(data.data()),
                          data.size()) == 1;
}

} // namespace platform
