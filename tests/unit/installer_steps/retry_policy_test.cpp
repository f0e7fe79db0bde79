// The pauses between tries, read off a policy fed the outcomes a test chooses.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "downloads/Download.h"

namespace {

struct Outcome {
  bool progressed;
  int64_t retryAfter;
};

std::vector<int64_t> Pauses(const std::vector<Outcome>& tries) {
  TRetryPolicy policy;
  std::vector<int64_t> pauses;
  for (const Outcome& o : tries)
    pauses.push_back(policy.NextPause(o.progressed, o.retryAfter));
  return pauses;
}

// Nothing arriving is given two minutes of pauses, as an outage of the Wi-Fi or a server
// restart needs; a Retry-After can only lengthen a pause.
TEST(RetryPolicy, PausesGrowUntilTwoMinutesBringNothing) {
  const Outcome none{false, -1}, some{true, -1};
  const std::vector<Outcome> eight(8, none);
  const struct {
    const char* what;
    std::vector<Outcome> tries;
    std::vector<int64_t> pauses;
  } cases[] = {
      {"nothing ever arrives", eight, {1000, 2000, 4000, 8000, 16000, 32000, 60000, -1}},
      {"new bytes start the count again",
       {none, none, some, none, none, none, none, none, none, none, none},
       {1000, 2000, 1000, 1000, 2000, 4000, 8000, 16000, 32000, 60000, -1}},
      {"Retry-After is waited when longer, up to five minutes",
       {{false, 2}, {false, 0}, {false, 1}, {false, 86400}, none},
       {2000, 2000, 4000, 300000, 16000}},
      // Far beyond what seconds times 1000 can hold in 64 bits.
      {"Retry-After too large to count in milliseconds",
       {{false, 99999999999999999}, {false, INT64_MAX}, {false, 300}, {false, 299}},
       {300000, 300000, 300000, 299000}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Pauses(c.tries), c.pauses);
  }
}

} // namespace
