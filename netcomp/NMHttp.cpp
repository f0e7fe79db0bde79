#include "netcomp/NMHttp.h"

#include <algorithm>
#include <climits>

#include "netcomp/NMURL.h"
#include "netcomp/NMUUE.h"

namespace {

constexpr size_t kMaxPath = 256;
constexpr size_t kMaxReplyValue = 256;
// SendBuffer takes a 16-bit length, and a length of 0 would mean "up to the first NUL".
constexpr size_t kMaxSendChunk = 65535;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A whole field of decimal digits with an optional sign, fitting 32 bits; anything else gives 0.
int32_t DecimalOrZero(const std::string& text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i == text.size()) return 0;
  long long value = 0;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return 0;
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT32_MAX) + 1) return 0;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return 0;
  return static_cast<int32_t>(value);
}

// The value of a header line from the given offset, without its line end, cut to 256 bytes.
std::string ReplyValue(const std::string& line, size_t offset) {
  if (line.size() <= offset) return {};
  std::string value = line.substr(offset);
  while (!value.empty() && (value.back() == '\n' || value.back() == '\r'))
    value.pop_back();
  return value.substr(0, kMaxReplyValue);
}

// Content-Length: the first run of digits after "CONTENT-LENGTH: "; 0 when absent or too large.
int32_t ContentLength(const std::string& upperLine) {
  size_t at = upperLine.find("ENGTH:");
  if (at == std::string::npos) return 0;
  size_t i = at + 7;
  while (i < upperLine.size() && !IsDigit(upperLine[i]))
    ++i;
  long long value = 0;
  bool any = false;
  for (; i < upperLine.size() && IsDigit(upperLine[i]); ++i) {
    any = true;
    value = value * 10 + (upperLine[i] - '0');
    if (value > INT32_MAX) return 0;
  }
  return any ? static_cast<int32_t>(value) : 0;
}

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
  if (Url.empty()) throw Exception("Empty URL");
  if (Port == 0) Port = 80;

  const bool hasDoubleSlash = Url.find("//") != std::string::npos;
  if (hasDoubleSlash) {
    size_t from = static_cast<size_t>(NthWordPos(Url, '/', 3) - 1);
    Path = from < Url.size() ? Url.substr(from, kMaxPath) : std::string();
  } else if (size_t slash = Url.find('/'); slash != std::string::npos) {
    Path = Url.substr(slash, kMaxPath);
  } else {
    Path.clear();
  }

  if (Url.find(':') != std::string::npos) {
    std::string scheme = LowerCase(NthWord(Url, ':', 1));
    if (scheme == "gopher")
      Port = 70;
    else if (scheme == "ftp")
      Port = 21;
    else if (scheme == "https")
      throw Exception("HTTP Secure Socket is not supported");
    else
      Port = 80;
  }

  std::string host;
  if (hasDoubleSlash)
    host = NthWord(Url, '/', 3);
  else if (Url[0] != '/')
    host = NthWord(Url, '/', 1);
  if (size_t colon = host.find(':'); colon != std::string::npos) {
    Port = StrToInt(NthWord(host, ':', 2));
    host.resize(colon);
  }
  if (!host.empty()) Host = host;

  if (Path.empty()) {
    Path.assign(1, '/');
    Url += "/";
  }
}

void TNMHTTP::BuildRequest() {
  TExStringList& lines = *RequestLines;
  lines.Clear();
  lines.Add(MethodWord(Command) + (Proxy.empty() ? Path : Url) + " HTTP/1.0");
  if (!Proxy.empty()) {
    lines.Add("Proxy-Connection: Keep-Alive");
    lines.Add("Host: " + Host);
  }
  lines.SetHeader("Host", Host);
  lines.Add("Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff");
  lines.Add("Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript");
  const THeaderInfo& info = *HeaderInfo;
  if (!info.LocalProgram.empty()) lines.SetHeader("User-Agent", info.LocalProgram);
  if (!info.LocalMailAddress.empty()) lines.SetHeader("From", info.LocalMailAddress);
  if (!info.Cookie.empty()) lines.SetHeader("Cookie", info.Cookie);
  if (!info.Referer.empty()) lines.SetHeader("Referer", info.Referer);
  if (!info.UserId.empty() && !info.Password.empty())
    lines.SetHeader("Authorization", "Basic " + Base64Line(info.UserId + ":" + info.Password));
  lines.Add("Content-type: application/x-www-form-urlencoded");
  if (Command == CmdCopy || Command == CmdMove) lines.Add("URI-header: " + ExtraHeaderValue);
  if (Command == CmdLink || Command == CmdUnlink) lines.Add("Link: " + ExtraHeaderValue);
  if (SendsBody(Command)) {
    int64_t length = static_cast<int64_t>(SendData.size());
    if (OutputFileMode) length = TFileStream(SendData, fmOpenRead).Size();
    lines.Add("Content-Length: " + IntToStr(length));
  }

  // A line break inside a value would start a header (or a request) of the caller's making, and
  // a NUL would cut the header short when it is sent.
  for (const std::string& line : lines.Lines())
    if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
      throw Exception("Request header contains a line break or NUL character");
}

void TNMHTTP::SendRequest() {
  Write(RequestLines->Text());
  Writeln("");
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

void TNMHTTP::ReadResponseHeader() {
  BytesTotal = 0;
  ReceivedCookie.clear();
  std::unique_ptr<TFileStream> file;
  if (OutputFileMode)
    file = std::make_unique<TFileStream>(Header, fmCreate);
  else
    Header.clear();
  auto store = [&](const std::string& line) {
    if (file)
      file->WriteBuffer(line.data(), static_cast<int64_t>(line.size()));
    else
      Header += line;
  };

  std::string line = ReadLn();
  if (line.empty()) return; // closed before replying
  StatusRead = DecimalOrZero(NthWord(line, ' ', 2));
  ReplyNumber = static_cast<int16_t>(static_cast<uint16_t>(StatusRead));
  store(line);
  for (;;) {
    line = ReadLn();
    std::string upper = UpperCase(line);
    std::string name = NthWord(upper, ' ', 1);
    if (name == "SET-COOKIE:")
      ReceivedCookie = ReplyValue(line, 12);
    else if (name == "LOCATION:")
      RedirectLocation = ReplyValue(line, 10);
    else if (name == "CONTENT-LENGTH:")
      BytesTotal = ContentLength(upper);
    store(line);
    if (line.empty() || line == "\n" || line == "\r\n") break;
  }
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

void TNMHTTP::ExecuteRequest() {
  for (int pass = 1;; ++pass) {
    ParseUrl();
    BuildRequest();
    if (OnAboutToSend) OnAboutToSend(this);
    try {
      Connect();
      SendRequest();
      ReplyNumber = 0;
      StatusRead = 0;
      ReadResponseHeader();
      if (InputFileMode)
        CaptureFile(Body);
      else
        Body = CaptureString(-1);

      const int status = Status();
      if (status == 0) {
        // No status line (closed before replying, or not HTTP), or a number that is no HTTP
        // status and whose low 16 bits could pass for one: nothing usable was delivered.
        RaiseOutcome(false);
      } else if (status < 299) {
        // A body cut short by the server's close is no download, whatever the status said.
        bool truncated = Command != CmdHead && BytesTotal > 0 && BytesRecvd < BytesTotal;
        RaiseOutcome(!truncated);
      } else if (status >= 300 && status <= 302) {
        Url = RedirectLocation;
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

    const int status = Status();
    const bool follows = status >= 300 && status <= 302;
    if (status >= 300 && status <= 398) {
      bool handled = false;
      if (!ReceivedCookie.empty()) HeaderInfo->Cookie = ReceivedCookie;
      if (OnRedirect) OnRedirect(handled);
      if (handled) return;
      if (Url.find('/') == std::string::npos) {
        Url = "http://" + Host + "/" + Url;
      } else if (follows && !Proxy.empty() && Url[0] == '/') {
        // A proxy needs the absolute URL; the target keeps this pass's host and port.
        std::string origin = "http://" + Host;
        if (Port != 80) origin.append(1, ':').append(IntToStr(Port));
        Url = origin + Url;
      }
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
