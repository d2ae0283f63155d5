// How often a stream of yields reads the clock. The search yields after every directory entry and
// the scan after every field it reads, each a microsecond or less apart on a warm disk: reading the
// clock at each of them took a twentieth of the scan's own thread. The clock is read once every
// `stride` yields instead; the stride doubles while the yields between two readings came quickly,
// and falls back to every yield as soon as they did not, so that slow yields (a cold disk) still
// read it at each one.
#pragma once

#include <algorithm>
#include <chrono>

namespace quelix {

class ClockPace {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  // Counts a yield: true where it is to read the clock and hand the reading to Read().
  bool Due() { return ++unclocked_ >= stride_; }

  void Read(TimePoint now) {
    stride_ = now - last_ < kQuickStretch ? std::min(stride_ * 2, kLongestStride) : 1;
    last_ = now;
    unclocked_ = 0;
  }

  // At most this many yields pass between two readings, and only while they pass within
  // kQuickStretch: a sudden turn to slow yields holds the window up by at most that many.
  static constexpr int kLongestStride = 32;
  static constexpr std::chrono::microseconds kQuickStretch{100};

 private:
  int stride_ = 1;
  int unclocked_ = 0;
  TimePoint last_;
};

}  // namespace quelix
