// The installer's downloads on links that cut, stall, refuse and answer with other things: each
// file is received into a part file beside its destination, tried again by one policy, resumed
// from what was written, and checked before it may replace anything.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "netcomp/NMHttp.h"

// When a download is tried again. The pause doubles from FirstPauseMs with every try in a row
// that brought no new byte, up to MaxPauseMs; a delay the server asks for (Retry-After) makes it
// longer, up to MaxRetryAfterMs, never shorter. After MaxFruitlessTries such tries, enough for
// the pauses alone to outlast an outage of OutageMs (a Wi-Fi drop, a server restarting), the
// download has failed.
class TRetryPolicy {
public:
  static constexpr int64_t FirstPauseMs = 1000;
  static constexpr int64_t MaxPauseMs = 60000;
  static constexpr int64_t MaxRetryAfterMs = 300000;
  static constexpr int64_t OutageMs = 120000;

  // The pause after the given count of tries in a row without a new byte (0: the last try brought
  // some), when the server asks for none.
  static constexpr int64_t Backoff(int fruitless) {
    return std::min(MaxPauseMs, FirstPauseMs << std::clamp(fruitless - 1, 0, 16));
  }
  static const int MaxFruitlessTries;

  // Whether a reply with this status says the server may manage later: not 501 or 505, which
  // say it never will.
  static bool MayHeal(int32_t status);

  // Takes note of a try that may be tried again: whether it brought new bytes, and the seconds
  // its reply asked to wait (-1: none). Returns the pause before the next try in milliseconds,
  // or -1 when there is to be none.
  int64_t NextPause(bool progressed, int64_t retryAfterSeconds);

private:
  int fruitless_ = 0;
};
// The fewest tries whose pauses between them add up to OutageMs.
inline constexpr int TRetryPolicy::MaxFruitlessTries = [] {
  int tries = 1;
  for (int64_t waited = 0; waited < OutageMs; ++tries)
    waited += Backoff(tries);
  return tries;
}();

class TDownloads {
public:
  // log writes a line into the window's log pane.
  TDownloads(TNMHTTP& http, std::function<void(const std::string&)> log);
  ~TDownloads();

  // The longest a connection may bring no byte before it counts as cut.
  static constexpr int32_t IdleLimitMs = 30000;

  // Waits the given milliseconds with the window live; false when Stop ended the wait. Tests put
  // in a clock of their own.
  std::function<bool(int64_t Ms)> Pause;
  // The window is closing: ends a pause and the running try at once; nothing is tried again.
  void Stop();

  enum class TResult { Complete, Failed };
  // Receives url into PartOf(dest). Complete: the part holds the whole resource and, for a
  // program, begins like one; the success event has been raised. Failed: the failure event (or,
  // for something that is no program, a log line of its own) has said so. When the tries run out
  // on errors, the last one is raised. A part left by an earlier press continues; one that
  // already holds the whole file is only checked.
  TResult Fetch(const std::string& url, const std::string& dest, bool program);
  // Receives url into text, tried again and continued from what arrived as files are; a reply
  // beyond maxBytes fails at once. True after the success event.
  bool FetchText(const std::string& url, std::string& text, int64_t maxBytes);
  // Whether the Complete part came from an earlier press untouched by this one.
  bool Reused() const { return reused_; }

  // The part file makes dest's place on the disk, then replaces dest; raises "Cannot write file"
  // or "Cannot create file" with dest, leaving the old file where it was (and a whole part kept).
  void Install(const std::string& dest);
  // Keeps dest's whole part for the next try, which then installs it without fetching it again
  // (dest cannot be replaced now: a running program holds it).
  void KeepWhole(const std::string& dest);
  // Removes dest's part and what is kept about it.
  void Discard(const std::string& dest);

  static std::string PartOf(const std::string& dest) { return dest + ".part"; }

private:
  struct TTry;
  // One Get with the caller's outcome events held back.
  TTry RunTry(const std::string& url);
  // A plain request's stored body that may be continued keeps its total and validator;
  // everything else that is not resumable goes.
  void SettlePart(const std::string& part, const TTry& t);
  // The message the last try leaves for the log, e.g. "connection lost at byte 5000".
  static std::string Why(const TTry& t, int64_t at);
  bool Retryable(const TTry& t) const;
  bool WaitBeforeRetry(TRetryPolicy& policy, const TTry& t, bool progressed, int64_t at);
  // Logs the proxy url goes through when it is not the one the last download went through.
  void SayRoute(const std::string& url);
  // Logs what a proxy that refused the try (407) asked for.
  void SayProxyRefusal(const TTry& t);

  TNMHTTP& http_;
  std::function<void(const std::string&)> log_;
  bool stopped_ = false;
  bool reused_ = false;
  std::string route_;
};
