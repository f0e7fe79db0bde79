#include "downloads/Download.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "framework/Forms.h"
#include "platform/paths.h"
#include "platform/programfile.h"

namespace {

void RemoveQuietly(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(platform::FilePath(path), ec);
}

int64_t FileSize(const std::string& path) {
  std::error_code ec;
  auto size = std::filesystem::file_size(platform::FilePath(path), ec);
  return ec ? 0 : static_cast<int64_t>(size);
}

// The total size of the download a part file belongs to, kept beside it, and on the next line
// what identified the server's version of it (see TNMHTTP::Validator).
std::string TotalFile(const std::string& part) {
  return part + ".total";
}
int64_t ReadTotal(const std::string& part, std::string& validator) {
  std::ifstream in(platform::FilePath(TotalFile(part)));
  long long total = 0;
  if (!(in >> total) || total <= 0) return 0;
  in >> std::ws;
  std::getline(in, validator);
  if (!validator.empty() && validator.back() == '\r') validator.pop_back();
  return total;
}
void WriteTotal(const std::string& part, int64_t total, const std::string& validator) {
  std::ofstream(platform::FilePath(TotalFile(part)), std::ios::trunc) << total << "\n"
                                                                        << validator << "\n";
}

std::string FirstBytes(const std::string& path, size_t n) {
  std::ifstream in(platform::FilePath(path), std::ios::binary);
  std::string head(n, '\0');
  in.read(head.data(), static_cast<std::streamsize>(n));
  head.resize(static_cast<size_t>(std::max<std::streamsize>(0, in.gcount())));
  return head;
}

bool IsFinal2xx(int32_t status) {
  return status >= 200 && status <= 298;
}

// A reply that says the server may manage later.
bool IsBusy(int32_t status) {
  return status == 408 || status == 429 || (status >= 500 && status <= 599);
}

// Holds the caller's events back for one try and puts them back whatever happens.
class THeldEvents {
public:
  explicit THeldEvents(TNMHTTP& http)
      : http_(http), success_(http.OnSuccess), failure_(http.OnFailure) {}
  ~THeldEvents() {
    http_.OnSuccess = success_;
    http_.OnFailure = failure_;
  }
  THeldEvents(const THeldEvents&) = delete;
  THeldEvents& operator=(const THeldEvents&) = delete;

private:
  TNMHTTP& http_;
  TResultEvent success_, failure_;
};

} // namespace

int64_t TRetryPolicy::NextPause(bool progressed, int64_t retryAfterSeconds) {
  fruitless_ = progressed ? 0 : fruitless_ + 1;
  if (fruitless_ >= MaxFruitlessTries) return -1;
  if (retryAfterSeconds >= 0)
    return std::min(MaxRetryAfterMs, std::max<int64_t>(0, retryAfterSeconds) * 1000);
  const int doublings = std::max(0, fruitless_ - 1);
  return std::min(MaxPauseMs, FirstPauseMs << std::min(doublings, 16));
}

struct TDownloads::TTry {
  enum TEnd { Success, Failure, Error } end = Failure;
  std::exception_ptr error;
  bool socketError = false; // a cut, reset, refusal, failed lookup or stall
  bool stalled = false;
  bool unbuildable = false; // the request could not be composed
  bool foreign = false;     // not one of ours (out of memory, say)
  int32_t status = 0;
  int64_t retryAfter = -1;
  bool headerComplete = false;
  int32_t stored = 0; // CapturedStatus
};

TDownloads::TDownloads(TNMHTTP& http, std::function<void(const std::string&)> log)
    : http_(http), log_(std::move(log)) {
  Pause = [this](int64_t ms) {
    // A timer message ends the wait; everything else the window receives meanwhile is served.
    bool due = false;
    TThreadTimer timer(nullptr);
    timer.SetInterval(static_cast<uint32_t>(std::max<int64_t>(1, ms)));
    timer.SetOnTimer([&due](TObject*) { due = true; });
    while (!due && !stopped_)
      Application->HandleMessage();
    return !stopped_;
  };
}

TDownloads::~TDownloads() = default;

void TDownloads::Stop() {
  stopped_ = true;
  http_.Abort();
}

TDownloads::TTry TDownloads::RunTry(const std::string& url) {
  TTry t;
  bool succeeded = false, failed = false;
  {
    THeldEvents held(http_);
    http_.OnSuccess = [&](CmdType) { succeeded = true; };
    http_.OnFailure = [&](CmdType) { failed = true; };
    try {
      http_.Get(url);
      t.end = succeeded && !failed ? TTry::Success : TTry::Failure;
    } catch (const ESockError&) {
      t.end = TTry::Error;
      t.error = std::current_exception();
      t.socketError = true;
      t.stalled = http_.IdleTimedOut;
    } catch (const Exception& e) {
      t.end = TTry::Error;
      t.error = std::current_exception();
      t.unbuildable = e.Message == "Request header too long" ||
                      e.Message == "Request header contains a line break or NUL character";
    } catch (...) {
      t.end = TTry::Error;
      t.error = std::current_exception();
      t.foreign = true;
    }
  }
  t.status = http_.StatusRead;
  t.retryAfter = http_.RetryAfter;
  t.headerComplete = http_.ReplyHeaderComplete();
  t.stored = http_.CapturedStatus;
  return t;
}

bool TDownloads::Retryable(const TTry& t) const {
  if (t.end == TTry::Error) return t.socketError;
  if (t.end != TTry::Failure) return false;
  // No reply, a header or a body cut short, or a server that may manage later.
  return !t.headerComplete || IsFinal2xx(t.stored) || IsBusy(t.status);
}

std::string TDownloads::Why(const TTry& t, int64_t at) {
  if (t.stalled) return "connection stalled at byte " + IntToStr(at);
  if (t.end == TTry::Failure && t.headerComplete && IsBusy(t.status))
    return "the server answered " + IntToStr(t.status);
  return "connection lost at byte " + IntToStr(at);
}

bool TDownloads::WaitBeforeRetry(TRetryPolicy& policy, const TTry& t, bool progressed, int64_t at) {
  const int64_t pause = policy.NextPause(progressed, IsBusy(t.status) ? t.retryAfter : -1);
  if (pause < 0) return false;
  log_(Why(t, at) + " - retrying in " + IntToStr((pause + 999) / 1000) + " s");
  if (!Pause(pause) || stopped_) throw EAbort();
  return true;
}

void TDownloads::SettlePart(const std::string& part, const TTry& t) {
  // After an error that is none of ours, nothing that error may have left is trusted.
  if (!t.foreign && (t.stored == 0 || http_.Resumed)) return; // untouched, or continued
  if (t.foreign) {
    RemoveQuietly(part);
    RemoveQuietly(TotalFile(part));
    return;
  }
  if (IsFinal2xx(t.stored) && http_.BytesTotal > 0 && FileSize(part) > 0) {
    WriteTotal(part, http_.BytesTotal, http_.Validator);
    return;
  }
  RemoveQuietly(part);
  RemoveQuietly(TotalFile(part));
}

TDownloads::TResult TDownloads::Fetch(const std::string& url, const std::string& dest,
                                      bool program) {
  const std::string part = PartOf(dest);
  reused_ = false;
  TRetryPolicy policy;
  int64_t mostHeld = -1;
  for (;;) {
    std::string validator;
    int64_t have = FileSize(part);
    const int64_t total = ReadTotal(part, validator);
    // A part of another size than the one expected belongs to another release.
    if (have > 0 && (have > total || validator.size() > TNMHTTP::MaxKeptBytes ||
                     (http_.ExpectedSize >= 0 && total != http_.ExpectedSize))) {
      Discard(dest);
      have = 0;
    }
    mostHeld = std::max(mostHeld, have);

    http_.InputFileMode = true;
    http_.Body = part;
    http_.ResumeFrom = 0;
    http_.ResumeTotal = 0;
    http_.ResumeValidator.clear();
    TTry t;
    if (have > 0 && have == total) {
      reused_ = true;
      t.end = TTry::Success;
    } else {
      if (have > 0) {
        http_.ResumeFrom = have;
        http_.ResumeTotal = total;
        http_.ResumeValidator = validator;
        log_("resuming download from byte " + IntToStr(have));
      }
      t = RunTry(url);
      if (t.end != TTry::Success) SettlePart(part, t);
      if (stopped_) throw EAbort();
    }

    if (t.end == TTry::Success) {
      if (program && !platform::IsProgramStart(FirstBytes(part, 4))) {
        Discard(dest);
        if (reused_) continue; // what an earlier press left: fetched anew
        log_("the server sent something that is not a program for " + dest +
             " (a sign-in page may be in the way) - the download was discarded");
        return TResult::Failed;
      }
      if (http_.OnSuccess) http_.OnSuccess(http_.Command);
      return TResult::Complete;
    }

    const bool resuming = http_.ResumeFrom > 0;
    if (resuming && (t.unbuildable || (t.end == TTry::Failure && t.headerComplete &&
                                       (t.status == 416 || (t.status == 206 && !http_.Resumed))))) {
      log_("cannot resume - starting over");
      Discard(dest);
      continue;
    }
    const int64_t held = FileSize(part);
    const bool progressed = held > mostHeld;
    if (!Retryable(t) || !WaitBeforeRetry(policy, t, progressed, held)) {
      if (t.end == TTry::Error) std::rethrow_exception(t.error);
      if (http_.OnFailure) http_.OnFailure(http_.Command);
      return TResult::Failed;
    }
  }
}

bool TDownloads::FetchText(const std::string& url, std::string& text, int64_t maxBytes) {
  TRetryPolicy policy;
  int64_t mostReceived = 0;
  for (;;) {
    http_.InputFileMode = false;
    http_.ResumeFrom = 0;
    bool tooLong = false;
    TTry t;
    {
      auto progress = http_.OnPacketRecvd;
      struct TRestore {
        TNMHTTP& http;
        TNotifyEvent event;
        ~TRestore() { http.OnPacketRecvd = event; }
      } restore{http_, progress};
      http_.OnPacketRecvd = [&](TObject* Sender) {
        if (progress) progress(Sender);
        if (http_.BytesRecvd > maxBytes && !tooLong) {
          tooLong = true;
          http_.Abort();
        }
      };
      t = RunTry(url);
    }
    if (stopped_) throw EAbort();
    if (tooLong) return false;
    text = http_.Body;
    if (t.end == TTry::Success) {
      if (http_.OnSuccess) http_.OnSuccess(http_.Command);
      return true;
    }
    const bool progressed = http_.BytesRecvd > mostReceived;
    mostReceived = std::max(mostReceived, http_.BytesRecvd);
    if (!Retryable(t) || !WaitBeforeRetry(policy, t, progressed, http_.BytesRecvd)) {
      if (t.end == TTry::Error) std::rethrow_exception(t.error);
      if (http_.OnFailure) http_.OnFailure(http_.Command);
      return false;
    }
  }
}

void TDownloads::Install(const std::string& dest) {
  const std::string part = PartOf(dest);
  try {
    // On the disk before it replaces anything: a power cut must not leave a short file behind.
    TFileStream(part, fmOpenReadWrite).Close(true);
  } catch (Exception&) {
    Discard(dest);
    throw EWriteError(Format("Cannot write file %s", dest.c_str()));
  }
  std::error_code ec;
  std::filesystem::rename(platform::FilePath(part), platform::FilePath(dest), ec);
  if (ec) {
    // The old file stays (on Windows, for example, while the wallet runs), and so does the whole
    // part: the next try installs it without fetching it again.
    KeepWhole(dest);
    throw EFCreateError(Format("Cannot create file %s", dest.c_str()));
  }
  RemoveQuietly(TotalFile(part));
}

void TDownloads::KeepWhole(const std::string& dest) {
  const std::string part = PartOf(dest);
  std::string validator;
  const int64_t have = FileSize(part);
  if (have <= 0 || ReadTotal(part, validator) == have) return;
  WriteTotal(part, have, http_.Validator);
}

void TDownloads::Discard(const std::string& dest) {
  RemoveQuietly(PartOf(dest));
  RemoveQuietly(TotalFile(PartOf(dest)));
}
