#include "app/clock_pace.h"

#include <gtest/gtest.h>

namespace quelix {
namespace {

using std::chrono::microseconds;

// Runs `yields` yields `apart` from each other through `pace` from `*now` on, and counts how
// many of them read the clock; `*longest_unread` gets the longest run of yields without a reading.
int Readings(ClockPace& pace, ClockPace::TimePoint* now, microseconds apart, int yields,
             int* longest_unread) {
  int readings = 0;
  int unread = 0;
  *longest_unread = 0;
  for (int i = 0; i < yields; ++i) {
    *now += apart;
    if (!pace.Due()) {
      *longest_unread = std::max(*longest_unread, ++unread);
      continue;
    }
    unread = 0;
    ++readings;
    pace.Read(*now);
  }
  return readings;
}

TEST(ClockPaceTest, QuickYieldsReadTheClockSeldomAndSlowOnesAtEachYield) {
  ClockPace pace;
  ClockPace::TimePoint now{std::chrono::seconds(1)};
  int longest_unread = 0;
  // A microsecond apart: after the first few readings, one reading in kLongestStride yields.
  EXPECT_LE(Readings(pace, &now, microseconds(1), 3200, &longest_unread), 100 + 6);
  EXPECT_EQ(longest_unread, ClockPace::kLongestStride - 1);
  // Then a millisecond apart: one stride may pass unread, and from then on every yield reads.
  Readings(pace, &now, microseconds(1000), ClockPace::kLongestStride, &longest_unread);
  EXPECT_EQ(Readings(pace, &now, microseconds(1000), 50, &longest_unread), 50);
  // Quick again: the stride grows back.
  EXPECT_LE(Readings(pace, &now, microseconds(1), 3200, &longest_unread), 100 + 6);
}

}  // namespace
}  // namespace quelix
