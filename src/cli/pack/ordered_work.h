// Work on a list of items done by several threads ahead of one consumer that takes the results
// strictly in the list's order, on the calling thread. What the consumer does (and so
// everything written) is the same whatever the number of threads; only the work overlaps.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace selfx::cli {

template <class Result>
struct OrderedWork {
  std::size_t count = 0;
  unsigned threads = 1;
  // The memory the results in flight may hold together: an item's cost is reserved before
  // its work starts and returned once the consumer is done with it. Reservations are made in
  // item order, so the item the consumer waits for always gets its share first; an item that
  // costs more than the whole budget runs alone.
  std::uint64_t budget = 0;
  std::vector<std::uint64_t> costs;  // one per item
  // Called with the worker's number (below threads), for per-thread state, and the item.
  std::function<Result(unsigned worker, std::size_t item)> work;
  // False stops everything: no further item is started or consumed.
  std::function<bool(std::size_t item, Result& result)> consume;

  bool Run() {
    if (threads <= 1 || count <= 1) {
      for (std::size_t item = 0; item < count; ++item) {
        Result result = work(0, item);
        if (!consume(item, result)) return false;
      }
      return true;
    }
    results_.assign(count, std::nullopt);
    std::vector<std::thread> pool;
    for (unsigned worker = 0; worker < threads; ++worker) {
      pool.emplace_back([this, worker] { WorkerLoop(worker); });
    }
    bool ok = ConsumeInOrder();
    for (std::thread& thread : pool) thread.join();
    return ok;
  }

 private:
  std::uint64_t Cost(std::size_t item) const { return costs[item] < budget ? costs[item] : budget; }

  void WorkerLoop(unsigned worker) {
    for (;;) {
      std::size_t item;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        can_start_.wait(
            lock, [this] { return stop_ || next_ == count || reserved_ + Cost(next_) <= budget; });
        if (stop_ || next_ == count) return;
        item = next_++;
        reserved_ += Cost(item);
      }
      Result result = work(worker, item);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        results_[item] = std::move(result);
      }
      done_.notify_all();
    }
  }

  bool ConsumeInOrder() {
    bool ok = true;
    for (std::size_t item = 0; ok && item < count; ++item) {
      Result result;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this, item] { return results_[item].has_value(); });
        result = std::move(*results_[item]);
        results_[item].reset();
      }
      ok = consume(item, result);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        reserved_ -= Cost(item);
        if (!ok) stop_ = true;
      }
      can_start_.notify_all();
    }
    return ok;
  }

  std::mutex mutex_;
  std::condition_variable can_start_;
  std::condition_variable done_;
  std::vector<std::optional<Result>> results_;
  std::size_t next_ = 0;
  std::uint64_t reserved_ = 0;
  bool stop_ = false;
};

}  // namespace selfx::cli
