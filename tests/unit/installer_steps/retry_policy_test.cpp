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

TEST(RetryPolicy, PausesGrowUntilFiveTriesBringNothing) {
  const Outcome none{false, -1}, some{true, -1};
  const struct {
    const char* what;
    std::vector<Outcome> tries;
    std::vector<int64_t> pauses;
  } cases[] = {
      {"nothing ever arrives", {none, none, none, none, none}, {1000, 2000, 4000, 8000, -1}},
      {"new bytes start the count again",
       {none, none, some, none, none, none, none, none},
       {1000, 2000, 1000, 1000, 2000, 4000, 8000, -1}},
      {"Retry-After is waited, up to five minutes",
       {{false, 2}, {false, 0}, {false, 86400}, none},
       {2000, 0, 300000, 8000}},
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
