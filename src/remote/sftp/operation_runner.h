#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "common/yield.h"
#include "remote/sftp/component_events.h"

// Runs the component's operations on its worker thread while the caller's thread waits in a
// loop that hands over the operation's events and lets the caller's own events run (the yield
// callable, about every 50 ms). So an operation looks blocking to the caller, its events arrive
// on the caller's thread before it returns, and the window stays responsive meanwhile.
namespace vs::sftp {

class OperationRunner final : private EventPoster {
  public:
    using Job = std::function<void(EventPoster&)>;
    using Deliver = std::function<void(const ComponentEvent&)>;

    explicit OperationRunner(YieldFn yield);
    ~OperationRunner() override;
    OperationRunner(const OperationRunner&) = delete;
    OperationRunner& operator=(const OperationRunner&) = delete;

    // Runs `job` on the worker; returns when it ended and all its events were delivered, then
    // rethrows what the job threw. What an event handler or the yield callable throws ends the
    // wait as well (the running transfer is told to abort) and is rethrown once the worker is
    // idle again. `interrupt` is called once when an abort is not honoured within a few
    // seconds (a server that stopped answering) to break the worker's blocked call.
    // Refuses, with a RuntimeError, to start while another operation is running (a call made
    // from inside an event or the yield callable).
    void run(const std::string& what, Job job, const Deliver& deliver,
             const std::function<void()>& interrupt);

    bool busy() const { return busy_; }
    const std::string& current() const { return current_; }
    // Caller's thread: asks the running job to stop early (seen through abortRequested()).
    void requestAbort() { abort_.store(true); }
    // Stops the worker thread; nothing may run afterwards.
    void shutdown();

    static constexpr std::chrono::milliseconds kYieldInterval{50};
    static constexpr std::chrono::milliseconds kProgressInterval{250};
    static constexpr std::chrono::seconds kAbortGrace{5};

  private:
    // EventPoster, worker side.
    void post(ComponentEvent event) override;
    void progress(std::int64_t position, std::int64_t total) override;
    void finished(std::int64_t total) override;
    bool abortRequested() const override { return abort_.load(); }

    void workerLoop();

    YieldFn yield_;
    std::mutex mutex_;
    std::condition_variable workReady_;
    std::condition_variable eventsReady_;
    Job job_;
    bool jobDone_ = true;
    bool stopping_ = false;
    std::exception_ptr jobError_;
    std::deque<ComponentEvent> queue_;
    std::optional<ProgressEvent> pendingProgress_;
    std::atomic<bool> abort_{false};

    // Caller's thread only.
    bool busy_ = false;
    std::string current_;

    std::thread worker_;  // last: starts after everything above exists
};

}  // namespace vs::sftp
