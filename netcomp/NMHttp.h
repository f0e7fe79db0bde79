// The HTTP/1.0 client component: one request per connection, the reply into a file or a string,
// the outcome through events, redirects followed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework/Classes.h"
#include "netcomp/NMExtstr.h"
#include "netcomp/Psock.h"
#include "platform/proxy.h"

// The installer's failure handler switches on these numbers.
enum CmdType : uint8_t {
  CmdGet = 0,
  CmdOptions = 1,
  CmdHead = 2,
  CmdPost = 3,
  CmdPut = 4,
  CmdPatch = 5,
  CmdCopy = 6,
  CmdMove = 7,
  CmdDelete = 8,
  CmdLink = 9,
  CmdUnlink = 10,
  CmdTrace = 11,
  Cmd12 = 12,
};

using TResultEvent = std::function<void(CmdType Cmd)>;

// The proxy chosen for a URL is one this component cannot go through; trying again will not help.
CORVANE_EXCEPTION_CLASS(EProxyError, Exception);

// Values for the optional request header lines; empty ones produce no line.
class THeaderInfo : public TPersistent {
public:
  std::string LocalMailAddress; // From
  std::string LocalProgram;     // User-Agent
  std::string Cookie;           // Cookie; also set from a redirect's Set-Cookie
  std::string Referer;          // Referer
  std::string UserId;           // Authorization: Basic, with a non-empty Password
  std::string Password;
};

class TNMHTTP : public TPowersock {
public:
  // A call follows at most this many connections; one more redirect raises "Too many redirects".
  static constexpr int MaxPasses = 20;

  explicit TNMHTTP(TComponent* AOwner);
  ~TNMHTTP() override;

  // Published.
  std::string Body = "Default.htm";
  std::string Header = "Head.txt";
  std::unique_ptr<THeaderInfo> HeaderInfo;
  bool InputFileMode = false;
  bool OutputFileMode = false;
  TNotifyEvent OnAboutToSend;
  TResultEvent OnSuccess;
  TResultEvent OnFailure;
  THandlerEvent OnRedirect;
  TNotifyEvent OnAuthenticationNeeded;
  // Off: an https URL raises "HTTP Secure Socket is not supported". On: it is fetched over TLS
  // (port 443 unless the URL names one), the server's certificate checked for the URL's host; the
  // scheme of each pass decides, so redirects may go from one to the other.
  bool SecureSocket = false;
  // Method word of command 12, which has none of its own; must be a plain token.
  std::string Cmd12Method = "POST";

  // State of the running or last call.
  std::string Url;
  std::string Path;
  CmdType Command = CmdGet;
  std::string SendData;
  std::string ExtraHeaderValue;
  std::unique_ptr<TExStringList> RequestLines;
  std::string RedirectLocation;
  std::string ReceivedCookie;
  bool EncodePostData = true;
  // The number in the last status line as read; ReplyNumber keeps only its low 16 bits.
  int32_t StatusRead = 0;
  // Value of the last reply's Content-Range line.
  std::string ContentRange;
  // What identifies the version of the resource the last reply carried: its ETag when strong,
  // else its Last-Modified; empty when it named neither, or when it is longer than MaxKeptBytes.
  std::string Validator;
  // Seconds the last reply's Retry-After asked to wait; -1 when it named no delay in seconds.
  int64_t RetryAfter = -1;
  // Validators and cookies a server hands out are kept, and so go back in later requests, only up
  // to this size: a longer one would make every later request too long to send.
  static constexpr size_t MaxKeptBytes = 4096;

  // Resuming a body: above 0, every pass of the request (redirects too) asks for the body from
  // byte ResumeFrom on ("Range: bytes=N-"), and a 206 reply whose Content-Range starts there and
  // names ResumeTotal as the total is appended to the file named by Body (without InputFileMode:
  // to the text Body holds), which must hold ResumeFrom bytes, unless its ETag or Last-Modified
  // names another version than ResumeValidator does. Any other 206 is a failure. Only
  // that 206 or another final 2xx reply (which replaces the body) touches it: the body of a
  // redirect or an error reply is not stored. 0 leaves the request as it always was; a 206 to it
  // is the whole resource only when its Content-Range covers all of it ("bytes 0-N/N+1"), and
  // any other is a failure whose body is not stored. A ResumeTotal of 0 takes the total a 206
  // reply names (and keeps it here).
  int64_t ResumeFrom = 0;
  int64_t ResumeTotal = 0;
  // The Validator of the reply the file began with, sent as "If-Range" with the range: a server
  // whose resource has changed since then sends all of it (200) instead of the rest of another.
  std::string ResumeValidator;
  // The body file is written and put on the disk by a thread of its own while it arrives, for a
  // caller that makes the whole file durable when it is complete.
  bool WriteBodyBehind = false;
  // 0 or more: the size the whole resource must have. A 200 or 206 whose Content-Length says
  // otherwise is a failure before its body, and no body is stored past that size: a longer one is
  // cut there and fails. -1 leaves the length to the reply.
  int64_t ExpectedSize = -1;
  // The body file's SHA-256 is computed while it is written (from its first byte, also when the
  // body is appended), on the thread that writes it; BodySha256 holds it after the call, empty when
  // no body went into the file whole.
  bool HashBody = false;
  std::string BodySha256;
  // Whether the last pass appended its body to the file.
  bool Resumed = false;
  // Status of the last pass whose body went into the file (without InputFileMode: into Body's
  // text) in this call; 0 while none did (nor was the file created or emptied). A body sent to
  // BodySink leaves it 0.
  int32_t CapturedStatus = 0;
  // With WriteBodyBehind, told how much of the body file is on the disk: on the thread that writes
  // it, each time the system has put the file on the disk (every 8 MiB and when the body ends),
  // and on the calling thread with 0 before a body empties the file. Total is the size of the
  // whole resource the file is the start of (0 when the reply does not say), Validator the one it
  // began with.
  std::function<void(int64_t Durable, int64_t Total, const std::string& Validator)> OnBodyDurable;
  // When set, the body of a reply goes here as it arrives instead of into Body.
  std::function<void(const char* Data, size_t Size)> BodySink;

  // When set, chooses each pass's proxy from its URL: Proxy, ProxyPort, ProxyUserId and
  // ProxyPassword are set from its answer. Unset, they are the caller's.
  platform::TProxyChooser ProxyFor;
  // Basic credentials for Proxy, sent to it alone: added as Proxy-Authorization when the request
  // is sent, never kept in RequestLines. An empty ProxyUserId sends none.
  std::string ProxyUserId;
  std::string ProxyPassword;
  // Value of the last reply's Proxy-Authenticate lines: what a proxy that answered 407 asks for.
  std::string ProxyAuthenticate;
  // The last pass's proxy refused to open a tunnel (CONNECT) for https; its reply is the pass's.
  bool TunnelRefused = false;

  // A header longer than this ends the call with an exception.
  static constexpr size_t MaxHeaderBytes = 1 << 20;
  // A URL longer than this is refused: the request line could not carry it whole.
  static constexpr size_t MaxUrlBytes = 32768;

  // Sets LookupDone and cancels the running wait, without an "Abort" status.
  void Abort() override;
  virtual void ExecuteRequest();
  virtual void ParseUrl();
  virtual void BuildRequest();
  virtual void ReadResponseHeader();
  virtual void SendRequest();

  virtual void Options(const std::string& URL);
  virtual void Get(const std::string& URL);
  virtual void Post(const std::string& URL, const std::string& PostData);
  virtual void Put(const std::string& URL, const std::string& PutData);
  virtual void Head(const std::string& URL);
  virtual void Patch(const std::string& URL, const std::string& Data);
  virtual void Delete(const std::string& URL);
  virtual void Trace(const std::string& URL, const std::string& Data);
  virtual void Copy(const std::string& URL, const std::string& UriHeader);
  virtual void Move(const std::string& URL, const std::string& UriHeader);
  virtual void Link(const std::string& URL, const std::string& LinkValue);
  virtual void Unlink(const std::string& URL, const std::string& LinkValue);
  virtual void SendCmd12(const std::string& URL, const std::string& Data);

  // Whether the last reply's header ended with its blank line (else the connection was cut
  // before, or no reply came at all).
  bool ReplyHeaderComplete() const { return HeaderComplete; }

  // The method word with its trailing space, e.g. "GET ".
  std::string MethodWord(CmdType Cmd) const;
  static bool SendsBody(CmdType Cmd);

private:
  // The pass goes to the proxy with the whole URL (plain http through a proxy).
  bool Proxied() const { return !Proxy.empty() && SecureHost.empty(); }
  // The proxy's credentials as a header line, or nothing.
  std::string ProxyAuthorization() const;
  // Connects for the pass: directly, to the proxy, or through a tunnel the proxy opens to the
  // origin, TLS inside it with the origin's name. False when the proxy refused the tunnel.
  bool ConnectRoute();
  // Reads the body as the header announced it; false when it did not arrive whole.
  bool ReadBody();
  // "host:port" of the current pass, marked when it runs TLS.
  std::string Origin() const;
  // "scheme://host[:port]" of the current pass, the base of a relative Location.
  std::string OriginUrl() const;
  // The status of the last reply when it is one (100 to 999), else 0.
  int Status() const;
  void Run(const std::string& URL, CmdType Cmd);
  // Raises OnSuccess (and reports "Transaction Completed") or OnFailure.
  void RaiseOutcome(bool success);
  // Whether the reply just read is a 206 whose Content-Range is the rest of a resource of total
  // bytes from byte from; a total of 0 or less takes (and keeps in total) the one it names.
  bool RangeIsRest(int64_t from, int64_t& total) const;
  // Whether the reply just read continues the body as ResumeFrom, ResumeTotal and
  // ResumeValidator describe.
  bool ContinuesFile();
  // Whether the reply just read names no other version than ResumeValidator, by the kind of
  // validator that is (an ETag, or a Last-Modified date).
  bool SameVersion() const;
  // Whether the reply just read is a 206 to a request without a range whose Content-Range
  // covers the whole resource; sets the length from it.
  bool CoversWholeResource();

  // What the last reply header said.
  bool HeaderComplete = false; // ended with its blank line
  bool HeaderValid = true;     // no unreadable or contradicting framing
  bool Chunked = false;
  bool HasLength = false;
  std::string ETagRead, LastModifiedRead; // as the reply gave them, weak tags too
  // The reply is a 206 to a request without a range that covers the whole resource.
  bool WholeRange = false;
  // Credentials go only to the first host of a call; a cookie set by a redirect only to the host
  // that set it.
  std::string CallOrigin;
  std::string RedirectCookie;
  std::string RedirectCookieOrigin;
};
