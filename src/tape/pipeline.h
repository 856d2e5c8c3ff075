// Two-stage pipelines over a ring of reusable items: one stage on a second thread, the other on
// the calling thread, so that reading and converting a recording use both cores.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <system_error>
#include <thread>

namespace pulsecut {

// Waits until `count` exceeds `n`. The other stage usually gets there within microseconds, so
// the wait first yields the processor a few thousand times and only then sleeps: putting a
// thread to sleep and waking it again costs more than a block's work on a virtual machine.
// (Spinning on the pause instruction instead made the run time jump from one run to the next
// there.)
inline void WaitBeyond(const std::atomic<uint64_t>& count, uint64_t n) {
  uint64_t seen = count.load(std::memory_order_acquire);
  for (int spin = 0; seen <= n && spin < (1 << 12); ++spin) {
    std::this_thread::yield();
    seen = count.load(std::memory_order_acquire);
  }
  while (seen <= n) {
    count.wait(seen, std::memory_order_acquire);
    seen = count.load(std::memory_order_acquire);
  }
}

// Both stages in turns on the calling thread, over one item.
template <typename Item, typename Produce, typename Consume>
void RunInTurns(Item& item, Produce& produce, Consume& consume) {
  for (bool more = true; more;) {
    more = produce(item);
    if (!consume(item)) return;
  }
}

// Fills the items of `ring` in turn with `produce` on a new thread and hands each one, in the
// same order, to `consume` on the calling thread. The producer runs up to ring.size() items
// ahead and never touches an item the consumer still holds.
//
// produce(Item&) fills an item and returns whether more follow; the item it returns false for
// is the last one, and it is consumed too. consume(Item&) returns whether to go on; once it
// returns false nothing more is consumed and the producer stops at its next item. Returns when
// the last item was consumed or the consumer stopped, the producer thread joined in both cases,
// so whatever the producer used is the caller's again. `ring` must hold at least one item; with
// exactly one, or when no thread can be started, both stages take turns on the calling thread.
template <typename Item, typename Produce, typename Consume>
void RunPipeline(std::span<Item> ring, Produce&& produce, Consume&& consume) {
  if (ring.size() == 1) return RunInTurns(ring[0], produce, consume);
  const uint64_t size = ring.size();
  // Counts of items published by the producer and handed back by the consumer. The release
  // store of a count publishes the item's contents, the acquire load on the other side sees
  // them.
  std::atomic<uint64_t> filled{0};
  std::atomic<uint64_t> freed{0};
  std::atomic<uint64_t> total{UINT64_MAX};  // items in all, once the producer knows
  std::atomic<bool> stop{false};

  std::thread producer;
  try {
    producer = std::thread([&] {
      for (uint64_t n = 0;; ++n) {
        if (n >= size) WaitBeyond(freed, n - size);
        if (stop.load(std::memory_order_acquire)) return;
        const bool more = produce(ring[n % size]);
        if (!more) total.store(n + 1, std::memory_order_relaxed);
        filled.store(n + 1, std::memory_order_release);
        filled.notify_one();
        if (!more) return;
      }
    });
  } catch (const std::system_error&) {  // out of threads: the work gets done all the same
    return RunInTurns(ring[0], produce, consume);
  }

  for (uint64_t n = 0;; ++n) {
    WaitBeyond(filled, n);
    const bool go = consume(ring[n % size]);
    if (!go) stop.store(true, std::memory_order_release);
    freed.store(n + 1, std::memory_order_release);
    freed.notify_one();
    if (!go || n + 1 == total.load(std::memory_order_relaxed)) break;
  }
  producer.join();
}

}  // namespace pulsecut
