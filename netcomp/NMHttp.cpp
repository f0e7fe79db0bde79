#include "netcomp/NMHttp.h"

#include <algorithm>
#include <climits>

#include "netcomp/NMHttpParse.h"
#include "netcomp/NMURL.h"
#include "netcomp/NMUUE.h"

namespace {

// SendBuffer takes a 16-bit length, and a length of 0 would mean "up to the first NUL".
constexpr size_t kMaxSendChunk = 65535;

std::string Base64Line(const std::string& bytes) {
  TMemoryStream in, out;
  in.LoadFromString(bytes);
  TNMUUProcessor encoder(nullptr);
  encoder.Method = uuMime;
  encoder.InputStream = &in;
  encoder.OutputStream = &out;
  encoder.Encode();
  // The encoder breaks its lines after 45 input bytes; a header value must stay on one line.
  std::string text = out.Data();
  text.erase(
      std::remove_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }),
      text.end());
  return text;
}

bool IsToken(const std::string& word) {
  if (word.empty()) return false;
  return std::all_of(word.begin(), word.end(), [](char c) {
    auto b = static_cast<unsigned char>(c);
    return b > 32 && b < 127 && c != ':' && c != '/';
  });
}

} // namespace

TNMHTTP::TNMHTTP(TComponent* AOwner)
    : TPowersock(AOwner), HeaderInfo(std::make_unique<THeaderInfo>()),
      RequestLines(std::make_unique<TExStringList>()) {}

TNMHTTP::~TNMHTTP() = default;

void TNMHTTP::Abort() {
  LookupDone = true;
  Cancel();
}

std::string TNMHTTP::MethodWord(CmdType Cmd) const {
  switch (Cmd) {
  case CmdGet:
    return "GET ";
  case CmdOptions:
    return "OPTIONS ";
  case CmdHead:
    return "HEAD ";
  case CmdPost:
    return "POST ";
  case CmdPut:
    return "PUT ";
  case CmdPatch:
    return "PATCH ";
  case CmdCopy:
    return "COPY ";
  case CmdMove:
    return "MOVE ";
  case CmdDelete:
    return "DELETE ";
  case CmdLink:
    return "LINK ";
  case CmdUnlink:
    return "UNLINK ";
  case CmdTrace:
    return "TRACE ";
  case Cmd12:
    break;
  }
  if (!IsToken(Cmd12Method)) throw Exception("Invalid method word: " + Cmd12Method);
  return Cmd12Method + " ";
}

bool TNMHTTP::SendsBody(CmdType Cmd) {
  return Cmd == CmdPost || Cmd == CmdPut || Cmd == CmdPatch || Cmd == CmdTrace || Cmd == Cmd12;
}

void TNMHTTP::ParseUrl() {
  bool secure = SecureSocket && !SecureHost.empty();
  httpparse::SplitUrl(Url, Host, Port, Path, MaxUrlBytes, SecureSocket ? &secure : nullptr);
  SecureHost = secure ? Host : std::string();
}

std::string TNMHTTP::Origin() const {
  // The same host and port over TLS is another origin.
  return (SecureHost.empty() ? "" : "tls:") + Host + ":" + IntToStr(Port);
}

std::string TNMHTTP::OriginUrl() const {
  std::string scheme = SecureHost.empty() ? "http" : "https";
  if (httpparse::HasScheme(Url)) scheme = LowerCase(NthWord(Url, ':', 1));
  const int32_t standard = scheme == "ftp"      ? 21
                           : scheme == "gopher" ? 70
                           : scheme == "https"  ? 443
                                                : 80;
  std::string origin = scheme + "://" + Host;
  if (Port != standard) origin.append(1, ':').append(IntToStr(Port));
  return origin;
}

void TNMHTTP::BuildRequest() {
  TExStringList& lines = *RequestLines;
  lines.Clear();
  lines.Add(MethodWord(Command) + (Proxied() ? Url : Path) + " HTTP/1.0");
  if (Proxied()) {
    lines.Add("Proxy-Connection: Keep-Alive");
    lines.Add("Host: " + Host);
  }
  lines.SetHeader("Host", Host);
  lines.Add("Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff");
  lines.Add("Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript");
  const THeaderInfo& info = *HeaderInfo;
  if (!info.LocalProgram.empty()) lines.SetHeader("User-Agent", info.LocalProgram);
  if (!info.LocalMailAddress.empty()) lines.SetHeader("From", info.LocalMailAddress);
  const bool firstHost = CallOrigin.empty() || Origin() == CallOrigin;
  const bool cookieFromRedirect = !RedirectCookie.empty() && info.Cookie == RedirectCookie;
  if (!info.Cookie.empty() && (cookieFromRedirect ? Origin() == RedirectCookieOrigin : firstHost))
    lines.SetHeader("Cookie", info.Cookie);
  if (!info.Referer.empty()) lines.SetHeader("Referer", info.Referer);
  if (!info.UserId.empty() && !info.Password.empty() && firstHost)
    lines.SetHeader("Authorization", "Basic " + Base64Line(info.UserId + ":" + info.Password));
  if (ResumeFrom > 0) lines.Add("Range: bytes=" + IntToStr(ResumeFrom) + "-");
  if (ResumeFrom > 0 && !ResumeValidator.empty()) lines.Add("If-Range: " + ResumeValidator);
  lines.Add("Content-type: application/x-www-form-urlencoded");
  if (Command == CmdCopy || Command == CmdMove) lines.Add("URI-header: " + ExtraHeaderValue);
  if (Command == CmdLink || Command == CmdUnlink) lines.Add("Link: " + ExtraHeaderValue);
  if (SendsBody(Command)) {
    int64_t length = static_cast<int64_t>(SendData.size());
    if (OutputFileMode) length = TFileStream(SendData, fmOpenRead).Size();
    lines.Add("Content-Length: " + IntToStr(length));
  }
  // Write sends at most 64 KiB of text: a longer request would go out cut.
  if (lines.Text().size() > 60000) throw Exception("Request header too long");

  // A line break inside a value would start a header (or a request) of the caller's making, and
  // a NUL would cut the header short when it is sent.
  for (const std::string& line : lines.Lines())
    if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
      throw Exception("Request header contains a line break or NUL character");
}

void TNMHTTP::SendRequest() {
  std::string header = RequestLines->Text();
  if (Proxied()) header += ProxyAuthorization();
  // One write where it fits: over TLS two writes are two records, and the blank line's would wait
  // for the server to acknowledge the first (Nagle against delayed ACK), some 40 ms a request.
  if (header.size() + 2 < TransferBufferSize) {
    Write(header + "\r\n");
  } else {
    Write(header);
    Writeln("");
  }
  if (!SendsBody(Command)) return;
  if (OutputFileMode) {
    SendFile(SendData);
    return;
  }
  // Sent with explicit lengths so that the body can hold NUL bytes and exceed one buffer, as its
  // Content-Length says.
  for (size_t at = 0; at < SendData.size(); at += kMaxSendChunk) {
    size_t n = std::min(kMaxSendChunk, SendData.size() - at);
    SendBuffer(SendData.data() + at, static_cast<uint16_t>(n));
  }
}

std::string TNMHTTP::ProxyAuthorization() const {
  if (ProxyUserId.empty()) return {};
  const std::string credentials = ProxyUserId + ":" + ProxyPassword;
  if (credentials.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    throw Exception("Request header contains a line break or NUL character");
  return "Proxy-Authorization: Basic " + Base64Line(credentials) + "\r\n";
}

bool TNMHTTP::ConnectRoute() {
  TunnelRefused = false;
  if (Proxy.empty() || SecureHost.empty()) {
    Connect();
    return true;
  }
  // TLS runs with the origin, inside the tunnel the proxy opens to it.
  const std::string origin = SecureHost;
  SecureHost.clear();
  try {
    Connect();
  } catch (...) {
    SecureHost = origin;
    throw;
  }
  SecureHost = origin;
  const std::string target = Host + ":" + IntToStr(Port);
  Write("CONNECT " + target + " HTTP/1.0\r\nHost: " + target + "\r\n" + ProxyAuthorization());
  Writeln("");
  ReplyNumber = 0;
  ReadResponseHeader();
  if (!HeaderComplete || Status() < 200 || Status() > 299) {
    TunnelRefused = true;
    return false;
  }
  // The handshake has the deadline and the idle limit of a connect.
  TimerOn();
  IdleOn();
  try {
    StartSecureSession();
  } catch (...) {
    IdleOff();
    TimerOff();
    throw;
  }
  IdleOff();
  TimerOff();
  if (TimedOut || IdleTimedOut) throw ESockError("Connection Timed out");
  if (Canceled) throw ESockError("Connection Canceled");
  return true;
}

void TNMHTTP::ReadResponseHeader() {
  BytesTotal = 0;
  ReceivedCookie.clear();
  ContentRange.clear();
  Validator.clear();
  RetryAfter = -1;
  ProxyAuthenticate.clear();
  ETagRead.clear();
  LastModifiedRead.clear();
  RedirectLocation.clear();
  HeaderComplete = false;
  HeaderValid = true;
  Chunked = false;
  HasLength = false;
  std::unique_ptr<TFileStream> file;
  if (OutputFileMode)
    file = std::make_unique<TFileStream>(Header, fmCreate);
  else
    Header.clear();
  size_t headerBytes = 0;
  auto store = [&](const std::string& line) {
    headerBytes += line.size();
    if (headerBytes > MaxHeaderBytes) throw Exception("Reply header too large");
    if (file)
      file->WriteBuffer(line.data(), static_cast<int64_t>(line.size()));
    else
      Header += line;
  };
  // A line without its line feed was cut by the server's close.
  auto whole = [](const std::string& line) { return !line.empty() && line.back() == '\n'; };

  std::string line = ReadLn();
  if (line.empty()) return; // closed before replying
  StatusRead = httpparse::StatusNumber(line);
  ReplyNumber = static_cast<int16_t>(static_cast<uint16_t>(StatusRead));
  store(line);
  if (!whole(line)) return;
  for (;;) {
    line = ReadLn();
    store(line);
    if (!whole(line)) break;
    if (line == "\n" || line == "\r\n") {
      HeaderComplete = true;
      break;
    }
    std::string name, value;
    if (!httpparse::SplitHeaderLine(line, name, value)) continue;
    name = UpperCase(name);
    if (name == "SET-COOKIE") {
      ReceivedCookie = value.size() <= MaxKeptBytes ? value : std::string();
    } else if (name == "RETRY-AFTER") {
      // Seconds; a date names no delay this client can trust its own clock for.
      std::optional<int64_t> seconds = httpparse::ContentLength(value);
      RetryAfter = seconds ? *seconds : -1;
    } else if (name == "PROXY-AUTHENTICATE") {
      ProxyAuthenticate += (ProxyAuthenticate.empty() ? "" : ", ") + value;
    } else if (name == "LOCATION") {
      RedirectLocation = value;
    } else if (name == "CONTENT-LENGTH") {
      std::optional<int64_t> length = httpparse::ContentLength(value);
      if (!length || (HasLength && *length != BytesTotal)) HeaderValid = false;
      if (length) BytesTotal = *length;
      HasLength = true;
    } else if (name == "CONTENT-RANGE") {
      ContentRange = value;
    } else if (name == "ETAG") {
      ETagRead = value;
      // A weak tag never matches in If-Range.
      if (value.size() > 2 && value.front() == '"' && value.back() == '"') Validator = value;
    } else if (name == "LAST-MODIFIED") {
      LastModifiedRead = value;
    } else if (name == "TRANSFER-ENCODING") {
      if (LowerCase(value) == "chunked")
        Chunked = true;
      else if (LowerCase(value) != "identity")
        HeaderValid = false;
    }
  }
  if (Validator.empty()) Validator = LastModifiedRead;
  // It goes back to the server in a request line of its own: nothing in it may end that line.
  if (Validator.size() > MaxKeptBytes ||
      !std::all_of(Validator.begin(), Validator.end(), [](char c) { return c >= ' ' && c <= '~'; }))
    Validator.clear();
  if (Chunked) {
    // The chunks carry the length; a Content-Length beside them means nothing.
    HasLength = false;
    BytesTotal = 0;
  }
  if (ExpectedSize >= 0 && HasLength && (StatusRead == 200 || StatusRead == 206) &&
      BytesTotal != ExpectedSize - (StatusRead == 206 ? ResumeFrom : 0))
    HeaderValid = false;
}

bool TNMHTTP::ReadBody() {
  std::unique_ptr<TFileStream> file;
  std::string text;
  if (BodySink) {
  } else if (Resumed) {
    if (InputFileMode) {
      file = std::make_unique<TFileStream>(Body, fmOpenReadWrite);
      if (file->Seek(0, soEnd) != ResumeFrom)
        throw EFOpenError(Format("Cannot open file %s", Body.c_str()));
    } else {
      text = std::move(Body);
    }
    // The rest completes the body: count on from what it holds, up to the whole size.
    BytesTotal = ResumeTotal;
    HasLength = true;
  }
  // A reply to HEAD, an interim one, a 204 and a 304 end with their header, whatever length or
  // framing they announce: the length a HEAD reply names is the resource's.
  const int status = Status();
  const bool none =
      Command == CmdHead || (status >= 100 && status <= 199) || status == 204 || status == 304;
  // The whole resource the file begins: what a later call may continue.
  const int64_t whole =
      Resumed ? ResumeTotal
      : HasLength && !none && status >= 200 && status <= 298 && (status != 206 || WholeRange)
          ? BytesTotal
          : 0;
  const std::string validator = Resumed ? ResumeValidator : Validator;
  auto durable = OnBodyDurable;
  if (!BodySink && !Resumed && InputFileMode) {
    // What was on the disk of the file before no longer is, once it is emptied.
    if (WriteBodyBehind && durable) durable(0, whole, validator);
    file = std::make_unique<TFileStream>(Body, fmCreate);
  }
  BodySha256.clear();
  if (file && (WriteBodyBehind || HashBody)) {
    std::function<void(int64_t)> told;
    if (WriteBodyBehind && durable)
      told = [durable, whole, validator](int64_t length) { durable(length, whole, validator); };
    file->WriteBehind(HashBody, std::move(told));
  }
  int64_t room = ExpectedSize < 0 ? INT64_MAX : ExpectedSize - (Resumed ? ResumeFrom : 0);
  bool tooLong = false;
  auto put = [&](const char* data, size_t n) {
    if (static_cast<int64_t>(n) > room) {
      tooLong = true;
      n = static_cast<size_t>(std::max<int64_t>(room, 0));
    }
    room -= static_cast<int64_t>(n);
    if (n == 0) return;
    if (BodySink)
      BodySink(data, n);
    else if (file) {
      if (file->Write(data, static_cast<int64_t>(n)) != static_cast<int64_t>(n))
        throw EWriteError(Format("Cannot write file %s", Body.c_str()));
    } else
      text.append(data, n);
  };
  const bool counted = HasLength && !none;
  httpparse::ChunkedDecoder chunks;
  std::string decoded;
  bool framingError = false;

  ReportStatus(8, InputFileMode ? "CaptureFile" : "Capture String");
  BytesRecvd = Resumed ? ResumeFrom : 0;
  TimerOn();
  try {
    ReceiveBlocks(
        [&](const char* data, int n) -> int {
          size_t take = static_cast<size_t>(n);
          if (Chunked) {
            // The pieces of a block's chunks are stored together: one write a block, as without
            // chunks, however small the server cuts them.
            decoded.clear();
            auto keep = [&](const char* piece, size_t k) { decoded.append(piece, k); };
            try {
              take = chunks.Feed(data, take, keep);
            } catch (const std::runtime_error&) {
              framingError = true;
              take = static_cast<size_t>(n);
            }
            put(decoded.data(), decoded.size());
            return static_cast<int>(take);
          }
          // Bytes after the announced length belong to no resource of ours.
          if (counted) take = static_cast<size_t>(std::min<int64_t>(n, BytesTotal - BytesRecvd));
          put(data, take);
          return static_cast<int>(take);
        },
        [&] {
          if (none || framingError || tooLong) return false;
          if (Chunked) return !chunks.Done();
          return !counted || BytesRecvd < BytesTotal;
        });
  } catch (...) {
    TimerOff();
    // What arrived before the cut stays in Body, to be continued.
    if (!InputFileMode && !BodySink) Body = std::move(text);
    throw;
  }
  TimerOff();
  if (file) file->Close();
  if (!InputFileMode && !BodySink) Body = std::move(text);
  if (file && HashBody && file->Sha256()) BodySha256 = *file->Sha256();
  if (Canceled) {
    Canceled = false;
    throw EAbortError(InputFileMode ? "Socket send aborted" : "Socket capture aborted");
  }
  if (framingError || tooLong) {
    BodySha256.clear();
    return false;
  }
  if (none) return true;
  if (Chunked) return chunks.Done();
  return !counted || BytesRecvd == BytesTotal;
}

int TNMHTTP::Status() const {
  return StatusRead >= 100 && StatusRead <= 999 ? StatusRead : 0;
}

void TNMHTTP::RaiseOutcome(bool success) {
  if (success) {
    if (OnSuccess) OnSuccess(Command);
    ReportStatus(2, "Transaction Completed");
  } else if (OnFailure) {
    OnFailure(Command);
  }
}

bool TNMHTTP::RangeIsRest(int64_t from, int64_t& total) const {
  // "bytes FIRST-LAST/TOTAL", each a decimal number, for exactly the rest of the resource. Read
  // in place: composing the expected text costs httpget.exe kilobytes.
  const std::string& range = ContentRange;
  if (Status() != 206 || Chunked || range.size() < 6 || LowerCase(range.substr(0, 6)) != "bytes ")
    return false;
  size_t at = 6;
  auto number = [&](char end, int64_t& n) {
    const size_t begin = at;
    for (n = 0; at < range.size() && range[at] >= '0' && range[at] <= '9'; ++at) {
      if (n > (INT64_MAX - 9) / 10) return false;
      n = n * 10 + (range[at] - '0');
    }
    if (at == begin || (end ? at >= range.size() || range[at] != end : at != range.size()))
      return false;
    ++at;
    return true;
  };
  int64_t first = 0, last = 0, named = 0;
  if (!number('-', first) || !number('/', last) || !number('\0', named)) return false;
  // Any total will do where none is given: the one this reply names.
  if (total <= 0) total = named;
  return first == from && named == total && total > from && last == total - 1 &&
         (!HasLength || BytesTotal == total - from);
}

bool TNMHTTP::ContinuesFile() {
  int64_t total = ResumeTotal;
  if (ResumeFrom <= 0 || BodySink || !RangeIsRest(ResumeFrom, total) || !SameVersion())
    return false;
  if (!InputFileMode) {
    if (static_cast<int64_t>(Body.size()) != ResumeFrom) return false;
  } else {
    try {
      if (TFileStream(Body, fmOpenRead).Size() != ResumeFrom) return false;
    } catch (EFOpenError&) {
      return false;
    }
  }
  ResumeTotal = total;
  return true;
}

bool TNMHTTP::SameVersion() const {
  if (ResumeValidator.empty()) return true;
  // A reply that does not name a validator of that kind says nothing against it.
  const std::string& named = ResumeValidator.front() == '"' ? ETagRead : LastModifiedRead;
  return named.empty() || named == ResumeValidator;
}

bool TNMHTTP::CoversWholeResource() {
  int64_t total = 0;
  if (ResumeFrom > 0 || !RangeIsRest(0, total) || (ExpectedSize >= 0 && total != ExpectedSize))
    return false;
  // The range gives the length where the header named none.
  BytesTotal = total;
  HasLength = true;
  return true;
}

void TNMHTTP::ExecuteRequest() {
  Resumed = false;
  BodySha256.clear();
  CapturedStatus = 0;
  CallOrigin.clear();
  for (int pass = 1;; ++pass) {
    bool unusable = false;
    StatusRead = 0;
    ParseUrl();
    if (ProxyFor) {
      const platform::TProxy proxy = ProxyFor(Url);
      // Going direct instead would pass by what the proxy is there for.
      if (!proxy.Direct() && proxy.Scheme != "http")
        throw EProxyError("cannot download through the proxy " + proxy.Text() +
                          ": only http proxies can be used, not " + proxy.Scheme);
      Proxy = proxy.Host;
      ProxyPort = proxy.Port;
      ProxyUserId = proxy.User;
      ProxyPassword = proxy.Password;
    }
    if (pass == 1) CallOrigin = Origin();
    BuildRequest();
    if (OnAboutToSend) OnAboutToSend(this);
    try {
      // A proxy that refuses a tunnel gives the pass its reply.
      if (ConnectRoute()) {
        SendRequest();
        ReplyNumber = 0;
        StatusRead = 0;
        ReadResponseHeader();
      }
      const bool readable = HeaderComplete && HeaderValid;
      // A file or Body's text continues; what goes to a sink cannot be taken back.
      Resumed = !BodySink && readable && ContinuesFile();
      // A 206 is the whole resource only when its range covers all of it.
      WholeRange = !BodySink && readable && CoversWholeResource();
      const bool finalOk = Status() >= 200 && Status() <= 298 && (Status() != 206 || WholeRange);
      // While a body is resumed, what it holds survives everything but the resource itself; a
      // part that is neither the rest asked for nor the whole resource is never taken, nor the
      // reply of a proxy that refused the tunnel.
      const bool stored =
          !TunnelRefused &&
          (BodySink || (Status() == 206 ? Resumed || WholeRange : ResumeFrom <= 0 || finalOk));
      if (!BodySink && readable && stored) CapturedStatus = StatusRead;
      bool whole = false;
      try {
        whole = readable && stored && ReadBody();
      } catch (const EAbortError&) {
        throw;
      } catch (const ESockError&) {
        // A redirect is followed by its header: a body cut short (by a server that closes
        // without close_notify, say) is not needed.
        if (Status() < 300 || Status() > 302) throw;
      }

      const int status = Status();
      if (status == 0 || !HeaderComplete || !HeaderValid || (TunnelRefused && status < 400)) {
        // No status line (closed before replying, or not HTTP), a number that is no HTTP status
        // and whose low 16 bits could pass for one, a header cut by the close or with framing
        // that cannot be read: nothing usable was delivered.
        RaiseOutcome(false);
        unusable = true;
      } else if (status < 299) {
        // An interim reply, a part that does not complete the file it was asked for, or a body cut
        // short is no download.
        RaiseOutcome(status >= 200 && (status != 206 || Resumed || WholeRange) && whole);
      } else if (status >= 300 && status <= 302) {
        Url = httpparse::ResolveLocation(OriginUrl(), Path, RedirectLocation);
        if (Url.empty()) {
          RaiseOutcome(false);
          unusable = true;
        }
      } else if (status > 399) {
        RaiseOutcome(false);
      }
    } catch (...) {
      // The exception that ended the pass is the one the caller needs to see.
      try {
        Disconnect();
      } catch (...) {
      }
      throw;
    }
    Disconnect();

    if (unusable) return;
    const int status = Status();
    const bool follows = status >= 300 && status <= 302;
    if (status >= 300 && status <= 398) {
      bool handled = false;
      if (!ReceivedCookie.empty()) {
        HeaderInfo->Cookie = RedirectCookie = ReceivedCookie;
        RedirectCookieOrigin = Origin();
      }
      if (OnRedirect) OnRedirect(handled);
      if (handled) return;
    }
    if (status == 401) {
      if (OnAuthenticationNeeded) OnAuthenticationNeeded(this);
      return;
    }
    if (follows) {
      if (pass >= MaxPasses) throw Exception("Too many redirects");
      continue;
    }
    // 299 and 303 to 399 name no new target: repeating the request would get the same reply.
    if (status == 299 || (status >= 303 && status <= 399)) RaiseOutcome(false);
    return;
  }
}

void TNMHTTP::Run(const std::string& URL, CmdType Cmd) {
  Url = URL;
  Command = Cmd;
  ExecuteRequest();
}

void TNMHTTP::Options(const std::string& URL) {
  Run(URL, CmdOptions);
}
void TNMHTTP::Get(const std::string& URL) {
  Run(URL, CmdGet);
}
void TNMHTTP::Head(const std::string& URL) {
  Run(URL, CmdHead);
}
void TNMHTTP::Delete(const std::string& URL) {
  Run(URL, CmdDelete);
}

void TNMHTTP::Post(const std::string& URL, const std::string& PostData) {
  if (EncodePostData && !OutputFileMode) {
    TNMURL encoder(this);
    encoder.InputString = PostData;
    SendData = encoder.Encode();
  } else {
    SendData = PostData;
  }
  Run(URL, CmdPost);
}

void TNMHTTP::Put(const std::string& URL, const std::string& PutData) {
  SendData = PutData;
  Run(URL, CmdPut);
}

void TNMHTTP::Patch(const std::string& URL, const std::string& Data) {
  SendData = Data;
  Run(URL, CmdPatch);
}

void TNMHTTP::Trace(const std::string& URL, const std::string& Data) {
  SendData = Data;
  Run(URL, CmdTrace);
}

void TNMHTTP::SendCmd12(const std::string& URL, const std::string& Data) {
  SendData = Data;
  Run(URL, Cmd12);
}

void TNMHTTP::Copy(const std::string& URL, const std::string& UriHeader) {
  ExtraHeaderValue = UriHeader;
  Run(URL, CmdCopy);
}

void TNMHTTP::Move(const std::string& URL, const std::string& UriHeader) {
  ExtraHeaderValue = UriHeader;
  Run(URL, CmdMove);
}

void TNMHTTP::Link(const std::string& URL, const std::string& LinkValue) {
  SendData = "Send.dat";
  ExtraHeaderValue = LinkValue;
  Run(URL, CmdLink);
}

void TNMHTTP::Unlink(const std::string& URL, const std::string& LinkValue) {
  SendData = "Send.dat";
  ExtraHeaderValue = LinkValue;
  Run(URL, CmdUnlink);
}
