// Requests are answered in slices: the UI thread takes at most so many per
// turn and is woken again for the rest, so that its other events get a turn.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "engine/host_requests.h"
#include "ui/request_queue.h"

namespace velmar::testing {
namespace {

TEST(RequestSlices, TakeHandsOutAtMostTheSliceAndWakesAgainForTheRest) {
  std::atomic<int> wakes{0};
  RequestQueue queue([&] { ++wakes; });
  std::vector<std::thread> workers;
  for (int i = 0; i < 5; ++i) {
    workers.emplace_back([&] { queue.sendAndWait(HostRequest{REQ_SHOW, nullptr}, "x"); });
  }
  // All five queued (the first arrival woke the UI thread once).
  std::vector<std::shared_ptr<PendingRequest>> got;
  while (got.size() < 5) {
    while (wakes.load() == 0) std::this_thread::yield();
    wakes = 0;
    auto slice = queue.take(2);
    EXPECT_LE(slice.size(), 2u);
    for (auto& pending : slice) {
      pending->finish();
      got.push_back(pending);
    }
    // Something left: take() itself woke the UI thread again; nothing left
    // and nothing new: no wake until a worker asks again.
  }
  for (auto& worker : workers) worker.join();
  EXPECT_EQ(got.size(), 5u);
  EXPECT_TRUE(queue.take(2).empty());
}

}  // namespace
}  // namespace velmar::testing
