// Runs jobs on a fixed number of threads and hands their results back in
// the order the jobs were submitted, so that a tool reading many frames in
// parallel still prints them in input order.
//
// With one thread the jobs run at once, in submit(), on the caller's
// thread: a single-threaded run pays nothing for the pool.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace quarrow::tools {

template <class Result>
class OrderedPool {
public:
    // `threads` >= 1. At most `maxPending` results wait to be taken; the
    // caller keeps the count in bounds by taking results (see full()).
    OrderedPool(int threads, std::size_t maxPending) : maxPending_(maxPending < 1 ? 1 : maxPending) {
        if (threads > 1) {
            for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
        }
    }

    ~OrderedPool() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : workers_) t.join();
    }

    OrderedPool(const OrderedPool&) = delete;
    OrderedPool& operator=(const OrderedPool&) = delete;

    void submit(std::function<Result()> job) {
        if (workers_.empty()) {
            std::lock_guard<std::mutex> lock(mutex_);
            slots_.push_back(Slot{});
            slots_.back().result.emplace(job());
            return;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            slots_.push_back(Slot{});
            queue_.push_back({std::move(job), &slots_.back()});
        }
        wake_.notify_one();
    }

    // True when the caller should take a result before submitting more.
    bool full() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return slots_.size() >= maxPending_;
    }

    bool empty() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return slots_.empty();
    }

    // The oldest result, once it is ready; nothing when no job is pending.
    std::optional<Result> takeOldest() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (slots_.empty()) return std::nullopt;
        done_.wait(lock, [this] { return slots_.front().result.has_value(); });
        std::optional<Result> r = std::move(slots_.front().result);
        slots_.pop_front();
        return r;
    }

    // The oldest result if it is ready now.
    std::optional<Result> takeReady() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (slots_.empty() || !slots_.front().result) return std::nullopt;
        std::optional<Result> r = std::move(slots_.front().result);
        slots_.pop_front();
        return r;
    }

private:
    struct Slot {
        std::optional<Result> result;
    };
    struct Job {
        std::function<Result()> run;
        Slot* slot;  // a deque keeps its elements in place when either end grows or shrinks
    };

    void work() {
        for (;;) {
            Job job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
                if (queue_.empty()) return;
                job = std::move(queue_.front());
                queue_.pop_front();
            }
            Result r = job.run();
            {
                std::lock_guard<std::mutex> lock(mutex_);
                job.slot->result.emplace(std::move(r));
            }
            done_.notify_all();
        }
    }

    const std::size_t maxPending_;
    mutable std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::deque<Slot> slots_;
    std::deque<Job> queue_;
    std::vector<std::thread> workers_;
    bool stopping_ = false;
};

}  // namespace quarrow::tools
