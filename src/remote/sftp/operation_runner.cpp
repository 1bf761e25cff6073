#include "remote/sftp/operation_runner.h"

#include "common/runtime_error.h"

namespace vs::sftp {

using Clock = std::chrono::steady_clock;

OperationRunner::OperationRunner(YieldFn yield)
    : yield_(std::move(yield)), worker_([this] { workerLoop(); }) {}

OperationRunner::~OperationRunner() {
    shutdown();
}

void OperationRunner::shutdown() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    workReady_.notify_all();
    if (worker_.joinable()) worker_.join();
}

void OperationRunner::workerLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        workReady_.wait(lock, [this] { return stopping_ || job_; });
        if (!job_) return;
        Job job = std::move(job_);
        job_ = nullptr;
        lock.unlock();
        std::exception_ptr error;
        try {
            job(*this);
        } catch (...) {
            error = std::current_exception();
        }
        job = nullptr;
        lock.lock();
        jobError_ = error;
        jobDone_ = true;
        eventsReady_.notify_all();
    }
}

void OperationRunner::post(ComponentEvent event) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(event));
    }
    eventsReady_.notify_all();
}

void OperationRunner::progress(std::int64_t position, std::int64_t total) {
    bool wake;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wake = !pendingProgress_;
        pendingProgress_ = ProgressEvent{position, total};
    }
    if (wake) eventsReady_.notify_all();
}

void OperationRunner::finished(std::int64_t total) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // An older intermediate position must not arrive after the final one.
        pendingProgress_.reset();
        queue_.push_back(ProgressEvent{total, total});
    }
    eventsReady_.notify_all();
}

void OperationRunner::run(const std::string& what, Job job, const Deliver& deliver,
                          const std::function<void()>& interrupt) {
    if (busy_)
        throw RuntimeError(kErrGeneric,
                           "SFTP: impossibile " + what + " mentre è in corso: " + current_);
    busy_ = true;
    current_ = what;
    struct Idle {
        OperationRunner& runner;
        ~Idle() {
            runner.busy_ = false;
            runner.current_.clear();
        }
    } idle{*this};

    abort_.store(false);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.clear();
        pendingProgress_.reset();
        jobError_ = nullptr;
        jobDone_ = false;
        job_ = std::move(job);
    }
    workReady_.notify_all();

    std::exception_ptr callerError;
    auto lastYield = Clock::now();
    std::optional<Clock::time_point> lastProgress;
    std::optional<Clock::time_point> abortSeen;
    bool interrupted = false;
    for (;;) {
        std::deque<ComponentEvent> events;
        std::optional<ProgressEvent> progress;
        bool done;
        auto now = Clock::now();
        {
            std::unique_lock<std::mutex> lock(mutex_);
            auto progressDue = [&] {
                return pendingProgress_ &&
                       (!lastProgress || Clock::now() - *lastProgress >= kProgressInterval);
            };
            auto deadline = lastYield + kYieldInterval;
            if (pendingProgress_ && lastProgress)
                deadline = std::min(deadline, *lastProgress + kProgressInterval);
            eventsReady_.wait_until(lock, deadline,
                                    [&] { return jobDone_ || !queue_.empty() || progressDue(); });
            events.swap(queue_);
            now = Clock::now();
            if (progressDue()) {
                progress = pendingProgress_;
                pendingProgress_.reset();
            }
            done = jobDone_;
        }
        if (!callerError) {
            try {
                for (const ComponentEvent& event : events) {
                    if (std::holds_alternative<ProgressEvent>(event)) lastProgress = now;
                    deliver(event);
                }
                if (progress) {
                    lastProgress = now;
                    deliver(*progress);
                }
            } catch (...) {
                callerError = std::current_exception();
                abort_.store(true);
            }
        }
        if (done) break;
        if (abort_.load() && !abortSeen) abortSeen = now;
        if (abortSeen && !interrupted && now - *abortSeen >= kAbortGrace) {
            interrupted = true;
            if (interrupt) interrupt();
        }
        if (now - lastYield >= kYieldInterval) {
            if (!callerError && yield_) {
                try {
                    yield_();
                } catch (...) {
                    callerError = std::current_exception();
                    abort_.store(true);
                }
            }
            lastYield = Clock::now();
        }
    }
    std::exception_ptr jobError;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobError = jobError_;
        jobError_ = nullptr;
    }
    if (callerError) std::rethrow_exception(callerError);
    if (jobError) std::rethrow_exception(jobError);
}

}  // namespace vs::sftp
