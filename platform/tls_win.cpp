#include "platform/tls.h"

// The chain's URL retrieval time-out, SCH_CREDENTIALS and SSPI's declarations.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#define SCHANNEL_USE_BLACKLISTS
#define SECURITY_WIN32
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <subauth.h>
#include <wincrypt.h>

#include <schannel.h>
#include <security.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/text.h"

namespace platform {

namespace {

// Plaintext Schannel decrypted (it decrypts a record in place, in the input) and the socket
// component has not yet read.
class TlsPlaintext {
public:
  void Append(const char* data, size_t size) {
    // Once all was read the buffer starts over, so it does not grow with the download.
    if (taken_ == held_.size()) {
      held_.clear();
      taken_ = 0;
    }
    held_.append(data, size);
  }
  // Moves up to size bytes into data; 0 when none is held.
  size_t Read(char* data, size_t size) {
    const size_t n = std::min(size, Pending());
    held_.copy(data, n, taken_);
    taken_ += n;
    if (taken_ == held_.size()) {
      held_.clear();
      taken_ = 0;
    }
    return n;
  }
  size_t Pending() const { return held_.size() - taken_; }

private:
  std::string held_; // read from offset taken_ on
  size_t taken_ = 0;
};

// secur32.dll and crypt32.dll are no known DLLs: imported, or loaded by name, they would be looked
// for in the program's folder first, where a download may have put one beside the installer. They
// are loaded from System32 alone, and each entry found by name.
HMODULE System32Dll(const wchar_t* name) {
  return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

FARPROC Crypt32Entry(const char* name) {
  static const HMODULE module = System32Dll(L"crypt32.dll");
  return module ? GetProcAddress(module, name) : nullptr;
}

template <class F> F* Crypt32(const char* name) {
  return reinterpret_cast<F*>(reinterpret_cast<void*>(Crypt32Entry(name)));
}

// The functions of crypt32 the certificate check needs; all or none.
struct Crypt32Api {
  decltype(&::CertGetCertificateChain) GetChain =
      Crypt32<decltype(::CertGetCertificateChain)>("CertGetCertificateChain");
  decltype(&::CertVerifyCertificateChainPolicy) VerifyPolicy =
      Crypt32<decltype(::CertVerifyCertificateChainPolicy)>("CertVerifyCertificateChainPolicy");
  decltype(&::CertFreeCertificateChain) FreeChain =
      Crypt32<decltype(::CertFreeCertificateChain)>("CertFreeCertificateChain");
  decltype(&::CertFreeCertificateContext) FreeCert =
      Crypt32<decltype(::CertFreeCertificateContext)>("CertFreeCertificateContext");
  decltype(&::CertVerifyTimeValidity) TimeValidity =
      Crypt32<decltype(::CertVerifyTimeValidity)>("CertVerifyTimeValidity");
  decltype(&::CertCompareCertificate) Compare =
      Crypt32<decltype(::CertCompareCertificate)>("CertCompareCertificate");
  decltype(&::CertFindExtension) FindExtension =
      Crypt32<decltype(::CertFindExtension)>("CertFindExtension");
  decltype(&::CryptDecodeObjectEx) Decode =
      Crypt32<decltype(::CryptDecodeObjectEx)>("CryptDecodeObjectEx");

  bool Complete() const {
    return GetChain && VerifyPolicy && FreeChain && FreeCert && TimeValidity && Compare &&
           FindExtension && Decode;
  }
};

const Crypt32Api* Crypt() {
  static const Crypt32Api api;
  return api.Complete() ? &api : nullptr;
}

// SSPI's own table of entries, from its one exported way in.
const SecurityFunctionTableW* Sspi() {
  static const SecurityFunctionTableW* table = [] {
    HMODULE module = System32Dll(L"secur32.dll");
    if (!module) return static_cast<const SecurityFunctionTableW*>(nullptr);
    auto init = reinterpret_cast<INIT_SECURITY_INTERFACE_W>(
        reinterpret_cast<void*>(GetProcAddress(module, "InitSecurityInterfaceW")));
    const SecurityFunctionTableW* t = init ? init() : nullptr;
    if (t && t->AcquireCredentialsHandleW && t->FreeCredentialsHandle &&
        t->InitializeSecurityContextW && t->DeleteSecurityContext && t->QueryContextAttributesW &&
        t->FreeContextBuffer && t->EncryptMessage && t->DecryptMessage && t->ApplyControlToken)
      return t;
    return static_cast<const SecurityFunctionTableW*>(nullptr);
  }();
  return table;
}

std::string Hex(long code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
  return text;
}

// The bytes of an IPv4 or IPv6 address written as the host; empty for a host name.
std::string AddressBytes(std::string host) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  in_addr v4;
  in6_addr v6;
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1)
    return std::string(reinterpret_cast<const char*>(&v4), sizeof v4);
  if (inet_pton(AF_INET6, host.c_str(), &v6) == 1)
    return std::string(reinterpret_cast<const char*>(&v6), sizeof v6);
  return std::string();
}

// SECURITY_FLAG_IGNORE_CERT_CN_INVALID of wininet.h, for the SSL policy.
constexpr DWORD kIgnoreName = 0x00001000;

constexpr DWORD kEnabledProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;

constexpr ULONG kContextRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                  ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                                  ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR |
                                  ISC_REQ_MANUAL_CRED_VALIDATION | ISC_REQ_USE_SUPPLIED_CREDS;

// Waiting for a revocation list or an OCSP answer holds up the connection and the window's thread:
// all of it together may take this long (under the 5 s after which Windows calls a window "Not
// responding"), then the status counts as unknown, which is no error.
constexpr DWORD kRevocationTimeoutMs = 3000;

// The version a server's first handshake record chose, when it is a ServerHello (TLS 1.3 keeps
// 1.2 there), or 0x0300 for a protocol_version alert; 0 when the bytes say neither.
int ServerVersion(const std::string& bytes) {
  auto at = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 7 && at(0) == 21 && at(5) == 2 && at(6) == 70) return 0x0300;
  if (bytes.size() >= 11 && at(0) == 22 && at(5) == 2) return at(9) << 8 | at(10);
  return 0;
}

} // namespace

struct TlsClient::State {
  std::string host;
  std::string address; // the host's bytes when it is an address
  std::wstring target; // empty: no SNI
  const SecurityFunctionTableW* sspi = nullptr;
  const Crypt32Api* crypt = nullptr;
  CredHandle cred{};
  bool haveCred = false;
  CtxtHandle ctx{};
  bool haveCtx = false;

  enum class Phase { Handshake, Open, Renegotiating, Done } phase = Phase::Handshake;
  bool established = false;
  bool peerClosed = false;
  bool closed = false;
  int serverVersion = 0;
  SecPkgContext_StreamSizes sizes{};
  PCCERT_CONTEXT verified = nullptr; // the certificate accepted, for a later handshake to match
  std::string protocol;

  std::string in; // records from the server not yet processed
  TlsPlaintext plain;
  std::string out;

  TlsFault fault = TlsFault::None;
  std::string error;

  bool Fail(TlsFault kind, std::string text) {
    if (fault == TlsFault::None) {
      fault = kind;
      error = std::move(text);
    }
    phase = Phase::Done;
    return false;
  }

  bool AcquireCredentials();
  bool Step();
  bool Handshake();
  bool Decrypt();
  bool HandshakeDone();
  bool CheckCertificate();
  bool NamesAddress(PCCERT_CONTEXT cert) const;
  std::string CertificateFault(PCCERT_CHAIN_CONTEXT chain, DWORD policyError);

  ~State() {
    if (verified) crypt->FreeCert(verified);
    if (haveCtx) sspi->DeleteSecurityContext(&ctx);
    if (haveCred) sspi->FreeCredentialsHandle(&cred);
  }
};

// TLS 1.2 and 1.3 only, and nothing checked by Schannel itself: the program checks the server's
// certificate after the handshake (Wine's Schannel would accept any). SCH_CREDENTIALS is the only
// structure that offers TLS 1.3; Windows before 10 1809 refuses it and is given the older one.
// Wine 8 takes it but ignores the protocols it disables (it answers a TLS 1.0 server in TLS 1.0):
// the version is checked after the handshake in any case.
bool TlsClient::State::AcquireCredentials() {
  const DWORD flags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
  TLS_PARAMETERS tls{};
  tls.grbitDisabledProtocols = ~kEnabledProtocols;
  SCH_CREDENTIALS modern{};
  modern.dwVersion = SCH_CREDENTIALS_VERSION;
  modern.dwFlags = flags;
  modern.cTlsParameters = 1;
  modern.pTlsParameters = &tls;
  SECURITY_STATUS status = sspi->AcquireCredentialsHandleW(
      nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr, &modern, nullptr,
      nullptr, &cred, nullptr);
  for (DWORD protocols : {kEnabledProtocols, DWORD{SP_PROT_TLS1_2_CLIENT}}) {
    if (status == SEC_E_OK) break;
    SCHANNEL_CRED older{};
    older.dwVersion = SCHANNEL_CRED_VERSION;
    older.dwFlags = flags;
    older.grbitEnabledProtocols = protocols;
    status = sspi->AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W),
                                             SECPKG_CRED_OUTBOUND, nullptr, &older, nullptr,
                                             nullptr, &cred, nullptr);
  }
  if (status != SEC_E_OK)
    return Fail(TlsFault::Unavailable,
                "The system's TLS engine gave no credentials for TLS 1.2 (SSPI error " +
                    Hex(status) + ")");
  haveCred = true;
  return true;
}

// InitializeSecurityContext on the handshake bytes held, as far as they go; also for a handshake
// message after the first handshake (a TLS 1.3 session ticket or key update).
bool TlsClient::State::Handshake() {
  for (;;) {
    if (!serverVersion) serverVersion = ServerVersion(in);
    SecBuffer inBufs[2] = {
        {static_cast<unsigned long>(in.size()), SECBUFFER_TOKEN, in.empty() ? nullptr : &in[0]},
        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inDesc{SECBUFFER_VERSION, 2, inBufs};
    // With ISC_REQ_EXTENDED_ERROR a failed handshake leaves its alert here for the server.
    SecBuffer outBuf{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuf};
    ULONG attributes = 0;
    SECURITY_STATUS status = sspi->InitializeSecurityContextW(
        &cred, haveCtx ? &ctx : nullptr, target.empty() ? nullptr : &target[0], kContextRequest, 0,
        0, haveCtx ? &inDesc : nullptr, 0, &ctx, &outDesc, &attributes, nullptr);
    if (!haveCtx && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)) haveCtx = true;
    if (outBuf.pvBuffer) {
      out.append(static_cast<const char*>(outBuf.pvBuffer), outBuf.cbBuffer);
      sspi->FreeContextBuffer(outBuf.pvBuffer);
    }
    if (status == SEC_E_INCOMPLETE_MESSAGE) return true;
    if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED &&
        status != SEC_I_INCOMPLETE_CREDENTIALS) {
      if (serverVersion && serverVersion < 0x0303)
        return Fail(TlsFault::Protocol, tlstext::OldProtocol());
      if (status == SEC_E_UNSUPPORTED_FUNCTION || status == SEC_E_ALGORITHM_MISMATCH)
        return Fail(TlsFault::Protocol, tlstext::OldProtocol());
      return Fail(TlsFault::Protocol,
                  "The TLS handshake with the server failed (SSPI error " + Hex(status) + ")");
    }
    // What the engine did not take belongs to the next call, or after the handshake to the first
    // records of data.
    if (haveCtx && inBufs[1].BufferType == SECBUFFER_EXTRA && inBufs[1].cbBuffer <= in.size())
      in.erase(0, in.size() - inBufs[1].cbBuffer);
    else if (status != SEC_I_INCOMPLETE_CREDENTIALS)
      in.clear();
    if (status == SEC_E_OK) return HandshakeDone();
    // Asked for a client certificate, it goes on without one.
    if (status == SEC_I_INCOMPLETE_CREDENTIALS) continue;
    if (in.empty()) return true;
  }
}

bool TlsClient::State::HandshakeDone() {
  SecPkgContext_ConnectionInfo info{};
  SECURITY_STATUS status = sspi->QueryContextAttributesW(&ctx, SECPKG_ATTR_CONNECTION_INFO, &info);
  if (status != SEC_E_OK)
    return Fail(TlsFault::Protocol,
                "The negotiated TLS protocol could not be read (SSPI error " + Hex(status) + ")");
  // Whatever the engine agreed to, nothing below TLS 1.2 is used.
  if (info.dwProtocol & SP_PROT_TLS1_3_CLIENT)
    protocol = "TLSv1.3";
  else if (info.dwProtocol & SP_PROT_TLS1_2_CLIENT)
    protocol = "TLSv1.2";
  else
    return Fail(TlsFault::Protocol, tlstext::OldProtocol());
  status = sspi->QueryContextAttributesW(&ctx, SECPKG_ATTR_STREAM_SIZES, &sizes);
  if (status != SEC_E_OK || sizes.cbMaximumMessage == 0)
    return Fail(TlsFault::Protocol,
                "The TLS record sizes could not be read (SSPI error " + Hex(status) + ")");
  if (!CheckCertificate()) return false;
  phase = Phase::Open;
  established = true;
  return true;
}

std::string TlsClient::State::CertificateFault(PCCERT_CHAIN_CONTEXT chain, DWORD policyError) {
  const CERT_SIMPLE_CHAIN* simple = chain->cChain ? chain->rgpChain[0] : nullptr;
  const bool selfSigned =
      simple && simple->cElement >= 1 &&
      (simple->cElement == 1 ||
       (simple->rgpElement[0]->TrustStatus.dwInfoStatus & CERT_TRUST_IS_SELF_SIGNED));
  auto timeFault = [&] {
    for (DWORD i = 0; simple && i < simple->cElement; ++i) {
      LONG when = crypt->TimeValidity(nullptr, simple->rgpElement[i]->pCertContext->pCertInfo);
      if (when < 0) return tlstext::NotYetValid();
      if (when > 0) return tlstext::Expired();
    }
    return tlstext::Expired();
  };
  switch (policyError) {
  case static_cast<DWORD>(CERT_E_EXPIRED):
    return timeFault();
  case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
    return tlstext::WrongHost(host);
  case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    return selfSigned ? tlstext::SelfSigned() : tlstext::UnknownIssuer();
  case static_cast<DWORD>(CERT_E_CHAINING):
    return tlstext::UnknownIssuer();
  case static_cast<DWORD>(CRYPT_E_REVOKED):
  case static_cast<DWORD>(CERT_E_REVOKED): // Wine's
    return tlstext::Revoked();
  case static_cast<DWORD>(CERT_E_WRONG_USAGE):
    return tlstext::Untrusted("it is not meant for a server");
  case 0:
    break;
  default:
    return tlstext::Untrusted("error " + Hex(static_cast<long>(policyError)));
  }
  // The policy passed; the chain's own status still counts (Wine's policy lets a chain that ends
  // at no trusted root pass).
  const DWORD ignored = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
  const DWORD status = chain->TrustStatus.dwErrorStatus & ~ignored;
  if (status == CERT_TRUST_NO_ERROR) return std::string();
  if (status & CERT_TRUST_IS_REVOKED) return tlstext::Revoked();
  if (status & CERT_TRUST_IS_NOT_TIME_VALID) return timeFault();
  if (status & CERT_TRUST_IS_PARTIAL_CHAIN) return tlstext::UnknownIssuer();
  if (status & CERT_TRUST_IS_UNTRUSTED_ROOT)
    return selfSigned ? tlstext::SelfSigned() : tlstext::UnknownIssuer();
  if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE)
    return tlstext::Untrusted("it is not meant for a server");
  return tlstext::Untrusted("chain status " + Hex(static_cast<long>(status)));
}

// The server's certificate against the system's root store: the chain crypt32 builds for server
// authentication, its revocation where it can be had, then the SSL policy for the host name.
bool TlsClient::State::CheckCertificate() {
  PCCERT_CONTEXT cert = nullptr;
  SECURITY_STATUS status =
      sspi->QueryContextAttributesW(&ctx, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert);
  if (status != SEC_E_OK || !cert)
    return Fail(
        TlsFault::Certificate,
        tlstext::Untrusted("the server sent no certificate (SSPI error " + Hex(status) + ")"));
  // A later handshake (TLS 1.2 renegotiation) that brings the certificate already accepted needs
  // no second check.
  if (verified && crypt->Compare(X509_ASN_ENCODING, verified->pCertInfo, cert->pCertInfo)) {
    crypt->FreeCert(cert);
    return true;
  }
  std::wstring name = Utf8ToWide(host);
  // The chain for server authentication; with revocation, the status of every certificate but
  // the root, as far as it can be had in time.
  auto buildChain = [&](DWORD flags, PCCERT_CHAIN_CONTEXT* chain) {
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuth};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    para.dwUrlRetrievalTimeout = kRevocationTimeoutMs;
    return crypt->GetChain(nullptr, cert, nullptr, cert->hCertStore, &para, flags, nullptr, chain);
  };
  // The SSL policy's verdict on a chain for the host name; an unknown revocation status passes.
  auto policyError = [&](PCCERT_CHAIN_CONTEXT chain, DWORD* error) {
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = &name[0];
    // The policy matches host names alone (so does Wine's); an address is matched below.
    if (!address.empty()) ssl.fdwChecks = kIgnoreName;
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS result{};
    result.cbSize = sizeof result;
    if (!crypt->VerifyPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &result)) return false;
    *error = result.dwError;
    return true;
  };
  auto revocationUnknown = [](DWORD error) {
    return error == static_cast<DWORD>(CERT_E_REVOCATION_FAILURE) ||
           error == static_cast<DWORD>(CRYPT_E_NO_REVOCATION_CHECK) ||
           error == static_cast<DWORD>(CRYPT_E_REVOCATION_OFFLINE);
  };
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (!buildChain(CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT |
                      CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT,
                  &chain)) {
    DWORD error = GetLastError();
    crypt->FreeCert(cert);
    return Fail(TlsFault::Certificate, tlstext::Untrusted("no chain could be built (error " +
                                                          Hex(static_cast<long>(error)) + ")"));
  }
  DWORD error = 0;
  bool checked = policyError(chain, &error);
  // Wine's policy stops at a revocation status it could not have, whatever the flags say, before
  // it looks at the name: then the same chain, built without revocation, is checked once more.
  if (checked && revocationUnknown(error) &&
      !(chain->TrustStatus.dwErrorStatus & CERT_TRUST_IS_REVOKED)) {
    PCCERT_CHAIN_CONTEXT plain = nullptr;
    if (buildChain(0, &plain)) {
      crypt->FreeChain(chain);
      chain = plain;
      checked = policyError(chain, &error);
    }
  }
  std::string fault;
  if (!checked)
    fault = tlstext::Untrusted("the SSL policy could not be checked (error " +
                               Hex(static_cast<long>(GetLastError())) + ")");
  else
    fault = CertificateFault(chain, error);
  if (fault.empty() && !address.empty() && !NamesAddress(cert)) fault = tlstext::WrongHost(host);
  crypt->FreeChain(chain);
  if (!fault.empty()) {
    crypt->FreeCert(cert);
    return Fail(TlsFault::Certificate, fault);
  }
  if (verified) crypt->FreeCert(verified);
  verified = cert;
  return true;
}

// Whether the certificate's subject alternative names hold the address connected to.
bool TlsClient::State::NamesAddress(PCCERT_CONTEXT cert) const {
  const CERT_INFO* info = cert->pCertInfo;
  PCERT_EXTENSION ext =
      crypt->FindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
  CERT_ALT_NAME_INFO* names = nullptr;
  DWORD size = 0;
  if (!ext || !crypt->Decode(X509_ASN_ENCODING, X509_ALTERNATE_NAME, ext->Value.pbData,
                             ext->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size))
    return false;
  bool found = false;
  for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
    found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
            entry.IPAddress.cbData == address.size() &&
            std::memcmp(entry.IPAddress.pbData, address.data(), address.size()) == 0;
  }
  LocalFree(names);
  return found;
}

// Records of data, as far as the bytes held make whole ones.
bool TlsClient::State::Decrypt() {
  size_t pos = 0;
  bool ok = true;
  while (pos < in.size() && phase == Phase::Open) {
    SecBuffer bufs[4] = {{static_cast<unsigned long>(in.size() - pos), SECBUFFER_DATA, &in[pos]},
                         {0, SECBUFFER_EMPTY, nullptr},
                         {0, SECBUFFER_EMPTY, nullptr},
                         {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, bufs};
    const bool alert = in[pos] == 21; // the record's type, before it is decrypted in place
    SECURITY_STATUS status = sspi->DecryptMessage(&ctx, &desc, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) break;
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED) {
      ok = Fail(TlsFault::Broken,
                "A TLS record from the server could not be read (SSPI error " + Hex(status) + ")");
      break;
    }
    size_t extra = 0, data = 0;
    for (const SecBuffer& b : bufs) {
      if (b.BufferType == SECBUFFER_DATA && b.cbBuffer) {
        plain.Append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
        data += b.cbBuffer;
      }
      if (b.BufferType == SECBUFFER_EXTRA) extra = b.cbBuffer;
    }
    pos = in.size() - std::min(extra, in.size() - pos);
    // Wine's Schannel reports close_notify as an alert record that decrypts to nothing; Windows
    // as SEC_I_CONTEXT_EXPIRED (a fatal alert is an error status on both).
    if (status == SEC_I_CONTEXT_EXPIRED || (status == SEC_E_OK && alert && data == 0)) {
      // close_notify: the server sent all it will.
      peerClosed = true;
      phase = Phase::Done;
      break;
    }
    if (status == SEC_I_RENEGOTIATE) {
      // A handshake message after the handshake: the engine takes it back through
      // InitializeSecurityContext (the bytes it did not decrypt), then records go on.
      in.erase(0, pos);
      pos = 0;
      phase = Phase::Renegotiating;
      if (!Handshake()) return false;
      if (phase == Phase::Renegotiating) return true; // the rest of the message has yet to come
    }
  }
  in.erase(0, pos);
  return ok;
}

bool TlsClient::State::Step() {
  if (phase == Phase::Handshake || phase == Phase::Renegotiating) {
    if (!Handshake()) return false;
    if (phase != Phase::Open) return true;
  }
  return phase != Phase::Open || Decrypt();
}

TlsClient::TlsClient(const std::string& host) : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.host = host;
  // No SNI for an address: a server name is a host name (RFC 6066).
  s.address = AddressBytes(host);
  if (s.address.empty()) s.target = Utf8ToWide(host);
  s.sspi = Sspi();
  s.crypt = Crypt();
  if (!s.sspi || !s.crypt) {
    s.Fail(TlsFault::Unavailable, "The system's TLS engine (Schannel) could not be loaded");
    return;
  }
  // The ClientHello waits in Outgoing as soon as the session exists.
  if (s.AcquireCredentials()) s.Handshake();
}

TlsClient::~TlsClient() = default;

bool TlsClient::Feed(const char* data, size_t size) {
  State& s = *state_;
  if (s.fault != TlsFault::None) return false;
  if (s.phase == State::Phase::Done) return true; // after close_notify nothing more is read
  s.in.append(data, size);
  return s.Step();
}

void TlsClient::ConnectionEnded() {
  State& s = *state_;
  if (s.peerClosed || s.fault != TlsFault::None) return;
  s.Fail(TlsFault::Broken, tlstext::Cut(s.established));
}

bool TlsClient::Established() const {
  return state_->established && state_->fault == TlsFault::None;
}

std::string& TlsClient::Outgoing() {
  return state_->out;
}

bool TlsClient::Write(const char* data, size_t size) {
  State& s = *state_;
  if (s.fault != TlsFault::None || !s.established || s.closed) return false;
  while (size > 0) {
    const size_t chunk = std::min<size_t>(size, s.sizes.cbMaximumMessage);
    const size_t start = s.out.size();
    s.out.resize(start + s.sizes.cbHeader + chunk + s.sizes.cbTrailer);
    char* record = &s.out[start];
    std::memcpy(record + s.sizes.cbHeader, data, chunk);
    SecBuffer bufs[4] = {
        {s.sizes.cbHeader, SECBUFFER_STREAM_HEADER, record},
        {static_cast<unsigned long>(chunk), SECBUFFER_DATA, record + s.sizes.cbHeader},
        {s.sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record + s.sizes.cbHeader + chunk},
        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, bufs};
    SECURITY_STATUS status = s.sspi->EncryptMessage(&s.ctx, 0, &desc, 0);
    if (status != SEC_E_OK) {
      s.out.resize(start);
      return s.Fail(TlsFault::Broken,
                    "A TLS record could not be encrypted (SSPI error " + Hex(status) + ")");
    }
    // The trailer may be shorter than its room.
    s.out.resize(start + bufs[0].cbBuffer + bufs[1].cbBuffer + bufs[2].cbBuffer);
    data += chunk;
    size -= chunk;
  }
  return true;
}

size_t TlsClient::Read(char* data, size_t size) {
  return state_->plain.Read(data, size);
}

size_t TlsClient::Pending() const {
  return state_->plain.Pending();
}

bool TlsClient::PeerClosed() const {
  return state_->peerClosed;
}

void TlsClient::Close() {
  State& s = *state_;
  if (s.closed || !s.haveCtx || s.fault != TlsFault::None) return;
  s.closed = true;
  DWORD type = SCHANNEL_SHUTDOWN;
  SecBuffer token{sizeof type, SECBUFFER_TOKEN, &type};
  SecBufferDesc tokenDesc{SECBUFFER_VERSION, 1, &token};
  if (s.sspi->ApplyControlToken(&s.ctx, &tokenDesc) != SEC_E_OK) return;
  SecBuffer outBuf{0, SECBUFFER_TOKEN, nullptr};
  SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuf};
  ULONG attributes = 0;
  SECURITY_STATUS status = s.sspi->InitializeSecurityContextW(
      &s.cred, &s.ctx, s.target.empty() ? nullptr : &s.target[0], kContextRequest, 0, 0, nullptr, 0,
      &s.ctx, &outDesc, &attributes, nullptr);
  if (outBuf.pvBuffer) {
    if (status == SEC_E_OK || status == SEC_I_CONTEXT_EXPIRED)
      s.out.append(static_cast<const char*>(outBuf.pvBuffer), outBuf.cbBuffer);
    s.sspi->FreeContextBuffer(outBuf.pvBuffer);
  }
}

TlsFault TlsClient::Fault() const {
  return state_->fault;
}

const std::string& TlsClient::Error() const {
  return state_->error;
}

std::string TlsClient::Protocol() const {
  return state_->protocol;
}

} // namespace platform
