#include "platform/crypto.h"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/crypto_der.h"
#include "platform/paths.h"

namespace platform {

namespace {

// bcrypt.dll is no known DLL: imported, or loaded by name, it would be looked for in the
// program's folder first, where a download may have put one beside the installer. It is loaded
// from System32 alone, and each entry found by name.
FARPROC CngEntry(const char* name) {
  static const HMODULE module =
      LoadLibraryExW(L"bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  return module ? GetProcAddress(module, name) : nullptr;
}

// Stands for the bcrypt function of the same name; STATUS_PROCEDURE_NOT_FOUND without it.
#define CORVANE_CNG_ENTRY(name)                                                                    \
  template <class... Args> NTSTATUS name(Args... args) {                                           \
    static const auto entry =                                                                      \
        reinterpret_cast<decltype(&::name)>(reinterpret_cast<void*>(CngEntry(#name)));             \
    return entry ? entry(args...) : static_cast<NTSTATUS>(0xC000007AL);                            \
  }
CORVANE_CNG_ENTRY(BCryptOpenAlgorithmProvider)
CORVANE_CNG_ENTRY(BCryptCloseAlgorithmProvider)
CORVANE_CNG_ENTRY(BCryptCreateHash)
CORVANE_CNG_ENTRY(BCryptHashData)
CORVANE_CNG_ENTRY(BCryptFinishHash)
CORVANE_CNG_ENTRY(BCryptDestroyHash)
CORVANE_CNG_ENTRY(BCryptImportKeyPair)
CORVANE_CNG_ENTRY(BCryptVerifySignature)
CORVANE_CNG_ENTRY(BCryptDestroyKey)
#undef CORVANE_CNG_ENTRY

bool Ok(NTSTATUS status) {
  return status >= 0;
}

struct Algorithm {
  BCRYPT_ALG_HANDLE handle = nullptr;
  explicit Algorithm(LPCWSTR id) {
    if (!Ok(BCryptOpenAlgorithmProvider(&handle, id, nullptr, 0))) handle = nullptr;
  }
  ~Algorithm() {
    if (handle) BCryptCloseAlgorithmProvider(handle, 0);
  }
};

struct Hash {
  BCRYPT_HASH_HANDLE handle = nullptr;
  ~Hash() {
    if (handle) BCryptDestroyHash(handle);
  }
};

struct Key {
  BCRYPT_KEY_HANDLE handle = nullptr;
  ~Key() {
    if (handle) BCryptDestroyKey(handle);
  }
};

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

PUCHAR Bytes(const std::string& s) {
  return reinterpret_cast<PUCHAR>(const_cast<char*>(s.data()));
}

// Feeds read(buffer, size) -> bytes read (0 at the end, -1 on error) through SHA-256.
template <typename Read> std::optional<std::string> Sha256(Read read) {
  Algorithm sha(BCRYPT_SHA256_ALGORITHM);
  Hash hash;
  if (!sha.handle || !Ok(BCryptCreateHash(sha.handle, &hash.handle, nullptr, 0, nullptr, 0, 0)))
    return std::nullopt;
  std::vector<unsigned char> buffer(1 << 16);
  for (;;) {
    long n = read(buffer.data(), buffer.size());
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    if (!Ok(BCryptHashData(hash.handle, buffer.data(), static_cast<ULONG>(n), 0)))
      return std::nullopt;
  }
  std::string digest(32, '\0');
  if (!Ok(BCryptFinishHash(hash.handle, Bytes(digest), 32, 0))) return std::nullopt;
  return digest;
}

std::string Hex(const std::string& digest) {
  static const char hex[] = "0123456789abcdef";
  std::string text;
  for (unsigned char b : digest) {
    text += hex[b >> 4];
    text += hex[b & 15];
  }
  return text;
}

} // namespace

struct Sha256Stream::State {
  Algorithm sha{BCRYPT_SHA256_ALGORITHM};
  Hash hash;
  bool ok = false;
};

Sha256Stream::Sha256Stream() : state_(std::make_unique<State>()) {
  state_->ok = state_->sha.handle && Ok(BCryptCreateHash(state_->sha.handle, &state_->hash.handle,
                                                         nullptr, 0, nullptr, 0, 0));
}
Sha256Stream::~Sha256Stream() = default;

void Sha256Stream::Update(const void* data, size_t size) {
  auto* at = static_cast<PUCHAR>(const_cast<void*>(data));
  // BCryptHashData takes at most 4 GiB a call.
  while (state_->ok && size > 0) {
    const ULONG n = static_cast<ULONG>(std::min<size_t>(size, 1u << 30));
    state_->ok = Ok(BCryptHashData(state_->hash.handle, at, n, 0));
    at += n;
    size -= n;
  }
}

std::optional<std::string> Sha256Stream::Finish() {
  if (!state_->ok) return std::nullopt;
  state_->ok = false;
  std::string digest(32, '\0');
  if (!Ok(BCryptFinishHash(state_->hash.handle, Bytes(digest), 32, 0))) return std::nullopt;
  return Hex(digest);
}

std::optional<std::string> FileSha256(const std::string& path) {
  std::unique_ptr<FILE, FileCloser> file(OpenFile(path, "rb"));
  if (!file) return std::nullopt;
  auto digest = Sha256([&](unsigned char* buffer, size_t size) -> long {
    size_t n = std::fread(buffer, 1, size, file.get());
    return std::ferror(file.get()) ? -1 : static_cast<long>(n);
  });
  if (!digest) return std::nullopt;
  return Hex(*digest);
}

bool VerifyP256Signature(const std::string& publicKeyPem, const std::string& data,
                         const std::string& signature) {
  auto spki = PemBlock(publicKeyPem, "PUBLIC KEY");
  auto point = spki ? P256PublicPoint(*spki) : std::nullopt;
  auto raw = P256RawSignature(signature);
  if (!point || !raw) return false;

  size_t done = 0;
  auto digest = Sha256([&](unsigned char* buffer, size_t size) -> long {
    size_t n = std::min(size, data.size() - done);
    std::copy_n(data.data() + done, n, buffer);
    done += n;
    return static_cast<long>(n);
  });
  if (!digest) return false;

  std::string blob(sizeof(BCRYPT_ECCKEY_BLOB), '\0');
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  std::copy_n(reinterpret_cast<const char*>(&header), sizeof header, blob.begin());
  blob += *point;
  Algorithm ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
  Key key;
  if (!ecdsa.handle ||
      !Ok(BCryptImportKeyPair(ecdsa.handle, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key.handle,
                              Bytes(blob), static_cast<ULONG>(blob.size()), 0)))
    return false;
  return Ok(BCryptVerifySignature(key.handle, nullptr, Bytes(*digest), 32, Bytes(*raw), 64, 0));
}

} // namespace platform
