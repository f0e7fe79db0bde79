// The rules every view shares, through the recording view.
#include <gtest/gtest.h>

#include "support/recording_view.h"

TEST(ViewRules, NegativeMaximumIsRefusedAndKeepsTheRange) {
  testview::RecordingView view;
  view.SetProgressMax(250);
  try {
    view.SetProgressMax(-1);
    FAIL() << "no exception";
  } catch (const EInvalidOperation& E) {
    EXPECT_EQ(E.Message, "TProgressBar property out of range");
  }
  EXPECT_EQ(view.ProgressMax(), 250);
}

TEST(ViewRules, ZeroAndLargeMaximaAreAcceptedAndTheSameValueChangesNothing) {
  testview::RecordingView view;
  EXPECT_NO_THROW(view.SetProgressMax(0));
  EXPECT_NO_THROW(view.SetProgressPosition(0));
  view.SetProgressMax(7'000'000);
  view.calls.clear();
  view.SetProgressMax(7'000'000);
  EXPECT_TRUE(view.calls.empty());
  EXPECT_EQ(view.ProgressMax(), 7'000'000);
}

TEST(ViewRules, LogLinesKeepEmptyLinesAndSplitAtLineBreaks) {
  testview::RecordingView view;
  view.ClearLog();
  view.AddLogLine("one");
  view.AddLogLine("");
  view.AddLogLine("two\r\nthree");
  EXPECT_EQ(view.LogLines(), (std::vector<std::string>{"one", "", "two", "three"}));
  EXPECT_EQ(view.memoText, "one\r\n\r\ntwo\r\nthree\r\n");
}
