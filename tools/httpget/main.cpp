// httpget: one request with the HTTP component, its events as lines on stderr.
//
//   httpget [-o FILE] [-X METHOD] [-d DATA] [--proxy HOST:PORT] [--timeout MS]
//           [--report-level N] [--user USER:PASSWORD] [--agent TEXT] [--from TEXT]
//           [--cookie TEXT] [--referer TEXT] [--resume FROM/TOTAL] URL
//
// --resume continues FILE, which holds the first FROM bytes of a body of TOTAL bytes.
//
// Without -o the body goes to standard output as it arrives. --timeout is a deadline in
// milliseconds for each operation (lookup, connect, each header line, the whole body), not an
// idle time; 0 waits for ever.
// Exit status: 0 after OnSuccess, 1 after OnFailure, 2 after an exception (or bad usage),
// 3 when the call ended with neither event.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "framework/Sysutils.h"
#include "netcomp/NMHttp.h"
#include "platform/appinit.h"

namespace {

const char kUsage[] =
    "usage: httpget [-o FILE] [-X METHOD] [-d DATA] [--proxy HOST:PORT] [--timeout MS]\n"
    "               [--report-level N] [--user USER:PASSWORD] [--agent TEXT] [--from TEXT]\n"
    "               [--cookie TEXT] [--referer TEXT] [--resume FROM/TOTAL] URL\n"
    "  -o FILE       write the body to FILE (default: standard output, as it arrives)\n"
    "  --timeout MS  deadline of each operation (lookup, connect, header line, whole body);\n"
    "                0 waits for ever\n";

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
  return haveUrl;
}

void Line(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
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

  enum { None, Success, Failure } outcome = None;
  try {
    TNMHTTP http(nullptr);
    if (o.toFile) {
      http.InputFileMode = true;
      http.Body = o.output;
    } else {
      http.BodySink = [](const char* data, size_t size) {
        if (std::fwrite(data, 1, size, stdout) != size)
          throw EWriteError("Cannot write file stdout");
      };
    }
    if (!o.proxy.empty()) {
      size_t colon = o.proxy.rfind(':');
      if (colon == std::string::npos) {
        http.Proxy = o.proxy;
        http.ProxyPort = 80;
      } else {
        http.Proxy = o.proxy.substr(0, colon);
        http.ProxyPort = StrToInt(o.proxy.substr(colon + 1));
      }
    }
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

    http.OnPacketRecvd = [&http](TObject*) {
      Line("packet-recvd " + IntToStr(http.BytesRecvd) + " " + IntToStr(http.BytesTotal));
    };
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

    Request(http, o.method, o.url, o.data);

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
