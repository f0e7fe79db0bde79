// httpget: one request with the HTTP component, its events as lines on stderr.
//
//   httpget [-o FILE] [-X METHOD] [-d DATA] [--proxy URL] [--timeout MS]
//           [--report-level N] [--user USER:PASSWORD] [--agent TEXT] [--from TEXT]
//           [--cookie TEXT] [--referer TEXT] [--resume FROM/TOTAL] [-C - | --continue]
//           [--retry N] [--idle-timeout S] URL
//
// --resume continues FILE, which holds the first FROM bytes of a body of TOTAL bytes; -C - (or
// --continue) continues FILE from what it holds, whatever the total.
// --retry N tries again up to N times after a cut, a reset, a refused connection, a failed lookup,
// a stall or a 408, 429 or 5xx reply but 501 and 505, with the installer's pauses (1 s, 2 s,
// 4 s ... 60 s, longer when a Retry-After asks for it, up to 5 minutes; the tries in a row
// without a new byte end it once their pauses span 2 minutes); a body going to FILE continues
// from what was written. --idle-timeout S gives a connection up when no
// byte has come for S seconds (0, the default: never).
//
// An https URL is fetched over TLS 1.2 or 1.3, the server's certificate checked for the URL's host
// against the system's trust; a refused certificate or protocol ends the run at once (exit 2,
// "error ETlsError: " and the reason on stderr), also with --retry.
// Without -o the body goes to standard output as it arrives. --timeout is a deadline in
// milliseconds for each operation (lookup, connect, each header line, the whole body), not an
// idle time; 0 waits for ever.
// The progress line of a block ("packet-recvd RECEIVED TOTAL") reaches stderr at most 100 ms after
// the block; every other line at once.
// Exit status: 0 after OnSuccess, 1 after OnFailure, 2 after an exception (or bad usage),
// 3 when the call ended with neither event.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <system_error>

#include "downloads/Download.h"
#include "framework/Forms.h"
#include "framework/Sysutils.h"
#include "netcomp/NMHttp.h"
#include "platform/appinit.h"
#include "platform/paths.h"
#include "platform/proxy.h"

namespace {

const char kUsage[] =
    "usage: httpget [-o FILE] [-X METHOD] [-d DATA] [--proxy URL] [--timeout MS]\n"
    "               [--report-level N] [--user USER:PASSWORD] [--agent TEXT] [--from TEXT]\n"
    "               [--cookie TEXT] [--referer TEXT] [--resume FROM/TOTAL] [-C - | --continue]\n"
    "               [--retry N] [--idle-timeout S] URL\n"
    "  -o FILE       write the body to FILE (default: standard output, as it arrives)\n"
    "  --proxy URL   http://[user:password@]host:port, or direct (default: the system's)\n"
    "  --timeout MS  deadline of each operation (lookup, connect, header line, whole body);\n"
    "                0 waits for ever\n"
    "  --idle-timeout S  give a connection up after S seconds without a byte (0: never)\n"
    "  --retry N     try again up to N times after a cut, stall or busy server\n"
    "  -C -, --continue  continue FILE from what it holds\n";

struct Options {
  std::string output;
  bool toFile = false;
  std::string method = "GET";
  std::string data;
  std::string proxy;
  std::string timeout;
  std::string reportLevel;
  std::string user;
  bool hasUser = false;
  std::string agent, from, cookie, referer;
  std::string resume;
  bool continueFile = false;
  int retries = 0;
  int idleSeconds = 0;
  std::string url;
};

bool ParseArgs(int argc, char** argv, Options& o) {
  bool haveUrl = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string& target) {
      if (i + 1 >= argc) return false;
      target = argv[++i];
      return true;
    };
    bool ok = true;
    if (arg == "-o") {
      ok = value(o.output);
      o.toFile = true;
    } else if (arg == "-X") {
      ok = value(o.method);
    } else if (arg == "-d") {
      ok = value(o.data);
    } else if (arg == "--proxy") {
      ok = value(o.proxy);
    } else if (arg == "--timeout") {
      ok = value(o.timeout);
    } else if (arg == "--report-level") {
      ok = value(o.reportLevel);
    } else if (arg == "--user") {
      ok = value(o.user);
      o.hasUser = true;
    } else if (arg == "--agent") {
      ok = value(o.agent);
    } else if (arg == "--from") {
      ok = value(o.from);
    } else if (arg == "--cookie") {
      ok = value(o.cookie);
    } else if (arg == "--referer") {
      ok = value(o.referer);
    } else if (arg == "--resume") {
      ok = value(o.resume) && o.resume.find('/') != std::string::npos;
    } else if (arg == "-C") {
      std::string dash;
      ok = value(dash) && dash == "-";
      o.continueFile = true;
    } else if (arg == "--continue") {
      o.continueFile = true;
    } else if (arg == "--retry" || arg == "--idle-timeout") {
      std::string number;
      ok = value(number) && !number.empty() &&
           number.find_first_not_of("0123456789") == std::string::npos && number.size() < 7;
      if (ok) (arg == "--retry" ? o.retries : o.idleSeconds) = std::stoi(number);
    } else if (arg.size() > 1 && arg[0] == '-') {
      return false;
    } else if (!haveUrl) {
      o.url = arg;
      haveUrl = true;
    } else {
      return false;
    }
    if (!ok) return false;
  }
  return haveUrl && (!o.continueFile || (o.toFile && o.resume.empty()));
}

int64_t FileSize(const std::string& path) {
  return std::max<int64_t>(platform::FileLength(path), 0);
}

// Waits with the message loop running, as the installer does between tries.
void Pause(int64_t ms) {
  bool due = false;
  TThreadTimer timer(nullptr);
  timer.SetInterval(static_cast<uint32_t>(std::max<int64_t>(1, ms)));
  timer.SetOnTimer([&due](TObject*) { due = true; });
  while (!due)
    Application->HandleMessage();
}

// The lines go out as they come, but for the progress line of each block: thousands of those a
// second, one write each, were a tenth of a download's time. They are held and written together,
// before the next other line and at the latest 100 ms after the first of them (a timer sees to it
// while a transfer waits), so that every line comes, in its order, just a little later.
class TLines {
public:
  void Line(const std::string& text) {
    Hold(text);
    Flush();
  }

  // Writes what is held; the timer goes while the message loop still runs.
  void End() {
    Flush();
    timer_.reset();
  }

  // "packet-recvd RECEIVED TOTAL", written into what is held: a line a block, made without a
  // string of its own.
  void Progress(int64_t received, int64_t total) {
    const auto now = Clock::now();
    if (held_.empty()) {
      since_ = now;
      if (!timer_) {
        timer_ = std::make_unique<TThreadTimer>(nullptr);
        timer_->SetInterval(static_cast<uint32_t>(Latest.count()));
        timer_->SetOnTimer([this](TObject*) { Flush(); });
      }
      timer_->SetEnabled(true);
    }
    char number[24];
    held_ += "packet-recvd ";
    held_.append(number, std::to_chars(number, number + sizeof number, received).ptr);
    held_ += ' ';
    held_.append(number, std::to_chars(number, number + sizeof number, total).ptr);
    held_ += '\n';
    if (now - since_ >= Latest) Flush();
  }

private:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds Latest{100};

  void Hold(const std::string& text) {
    held_ += text;
    held_ += '\n';
  }

  void Flush() {
    if (timer_) timer_->SetEnabled(false);
    if (held_.empty()) return;
    std::fwrite(held_.data(), 1, held_.size(), stderr);
    std::fflush(stderr);
    held_.clear();
  }

  std::string held_;
  Clock::time_point since_;
  std::unique_ptr<TThreadTimer> timer_;
};

TLines lines;

void Line(const std::string& text) {
  lines.Line(text);
}

void Request(TNMHTTP& http, const std::string& method, const std::string& url,
             const std::string& data) {
  if (method == "GET") return http.Get(url);
  if (method == "HEAD") return http.Head(url);
  if (method == "OPTIONS") return http.Options(url);
  if (method == "DELETE") return http.Delete(url);
  if (method == "POST") return http.Post(url, data);
  if (method == "PUT") return http.Put(url, data);
  if (method == "PATCH") return http.Patch(url, data);
  if (method == "TRACE") return http.Trace(url, data);
  if (method == "COPY") return http.Copy(url, data);
  if (method == "MOVE") return http.Move(url, data);
  if (method == "LINK") return http.Link(url, data);
  if (method == "UNLINK") return http.Unlink(url, data);
  // Any other word goes out as command 12, which has no method word of its own.
  http.Cmd12Method = method;
  http.SendCmd12(url, data);
}

} // namespace

int main(int argc, char** argv) {
  platform::RestrictDllSearch();
  Options o;
  if (!ParseArgs(argc, argv, o)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  platform::InitializeConsoleApplication();
  platform::SetBinaryStandardOutput();
  struct TEnd {
    ~TEnd() { lines.End(); }
  } end;

  enum { None, Success, Failure } outcome = None;
  try {
    TNMHTTP http(nullptr);
    http.SecureSocket = true;
    if (o.toFile) {
      http.InputFileMode = true;
      http.Body = o.output;
    } else {
      http.BodySink = [](const char* data, size_t size) {
        if (std::fwrite(data, 1, size, stdout) != size)
          throw EWriteError("Cannot write file stdout");
      };
    }
    // The system's proxy unless --proxy names one (or "direct").
    http.ProxyFor = platform::SystemProxyFor;
    if (!o.proxy.empty()) {
      platform::TProxy proxy;
      if (o.proxy != "direct" && !platform::ParseProxyUrl(o.proxy, proxy, 80))
        throw Exception("--proxy needs http://[user:password@]host:port or direct");
      http.ProxyFor = [proxy](const std::string&) { return proxy; };
    }
    const platform::TProxy route = http.ProxyFor(o.url);
    if (!route.Direct()) Line("proxy " + route.Text());
    if (!o.timeout.empty()) http.TimeOut = StrToInt(o.timeout);
    if (!o.reportLevel.empty()) http.ReportLevel = StrToInt(o.reportLevel);
    if (o.hasUser) {
      size_t colon = o.user.find(':');
      http.HeaderInfo->UserId = o.user.substr(0, colon);
      if (colon != std::string::npos) http.HeaderInfo->Password = o.user.substr(colon + 1);
    }
    http.HeaderInfo->LocalProgram = o.agent;
    http.HeaderInfo->LocalMailAddress = o.from;
    http.HeaderInfo->Cookie = o.cookie;
    http.HeaderInfo->Referer = o.referer;
    if (!o.resume.empty()) {
      http.ResumeFrom = std::stoll(o.resume.substr(0, o.resume.find('/')));
      http.ResumeTotal = std::stoll(o.resume.substr(o.resume.find('/') + 1));
    }

    http.OnPacketRecvd = [&http](TObject*) { lines.Progress(http.BytesRecvd, http.BytesTotal); };
    http.OnStatus = [](TObject*, const std::string& status) { Line("status " + status); };
    http.OnSuccess = [&outcome](CmdType cmd) {
      outcome = Success;
      Line("success " + IntToStr(cmd));
    };
    http.OnFailure = [&outcome](CmdType cmd) {
      outcome = Failure;
      Line("failure " + IntToStr(cmd));
    };
    http.OnRedirect = [](bool&) { Line("redirect"); };
    http.OnAuthenticationNeeded = [](TObject*) { Line("authentication-needed"); };

    http.IdleTimeOut = o.idleSeconds * 1000;
    TRetryPolicy policy;
    int64_t mostHeld = -1, total = http.ResumeTotal;
    bool bodyWritten = false;
    if (!o.toFile) {
      auto sink = http.BodySink;
      http.BodySink = [sink, &bodyWritten](const char* data, size_t size) {
        bodyWritten = true;
        sink(data, size);
      };
    }
    for (int tries = 0;; ++tries) {
      // A file this run or the caller began continues from what it holds.
      const int64_t held = o.toFile ? FileSize(o.output) : 0;
      // Only bytes beyond what was held before count as progress, as in the installer.
      mostHeld = std::max(mostHeld, held);
      if (o.toFile && tries > 0 && total > held && held > 0) {
        http.ResumeFrom = held;
        http.ResumeTotal = total;
      } else if (o.continueFile && held > 0) {
        http.ResumeFrom = held;
        http.ResumeTotal = 0;
      } else if (tries > 0) {
        http.ResumeFrom = 0;
      }
      outcome = None;
      bool cut = false;
      std::exception_ptr error;
      try {
        Request(http, o.method, o.url, o.data);
      } catch (const ESockError& e) {
        error = std::current_exception();
        // A certificate or protocol refusal would only be met again.
        const auto* tls = dynamic_cast<const ETlsError*>(&e);
        cut = !tls || !tls->Lasting();
        Line(std::string("try ended: ") + e.Message);
      }
      if (outcome == Success) break;
      const int32_t status = http.StatusRead;
      if (status == 407 && !http.Proxy.empty())
        Line("proxy-authenticate " + http.ProxyAuthenticate);
      const bool busy = TRetryPolicy::MayHeal(status);
      const bool bodyCut = http.CapturedStatus >= 200 && http.CapturedStatus <= 298;
      if (!error && outcome == Failure) cut = !http.ReplyHeaderComplete() || busy || bodyCut;
      if (bodyCut && http.BytesTotal > 0 && !http.Resumed) total = http.BytesTotal;
      if (http.Resumed) total = http.ResumeTotal;
      const int64_t now = o.toFile ? FileSize(o.output) : http.BytesRecvd;
      const bool progressed = now > mostHeld;
      mostHeld = std::max(mostHeld, now);
      int64_t pause = -1;
      // A body already on standard output cannot be taken back, nor continued.
      if (cut && tries < o.retries && !bodyWritten)
        pause = policy.NextPause(progressed, busy ? http.RetryAfter : -1);
      if (pause < 0) {
        if (error) std::rethrow_exception(error);
        break;
      }
      Line("retry in " + IntToStr(pause) + " ms");
      Pause(pause);
    }

    if (std::fflush(stdout) != 0) throw EWriteError("Cannot write file stdout");
    Line("reply " + IntToStr(http.ReplyNumber));
  } catch (const Exception& e) {
    Line(std::string("error ") + e.ClassName() + ": " + e.Message);
    return 2;
  } catch (const std::exception& e) {
    Line(std::string("error std::exception: ") + e.what());
    return 2;
  }
  return outcome == Success ? 0 : outcome == Failure ? 1 : 3;
}
