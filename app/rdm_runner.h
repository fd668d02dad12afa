#pragma once
// Runs the window's RDM work on one worker thread, one run at a time, so that the
// event thread keeps painting and taking input. A run can be asked to stop; it
// then ends after its current exchange. Work asked for meanwhile waits in the RDM
// service's queue, which starts it once this run's results are in.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

class RdmRunner {
public:
    using Task = std::function<void()>;
    // How work reaches the event thread (queued, in order).
    using Post = std::function<void(Task)>;

    // `threaded` false runs every job at once on the calling thread, as tests of
    // the window's blocking behaviour want.
    RdmRunner(bool threaded, Post post);
    ~RdmRunner();  // stops the run in progress and waits for it
    RdmRunner(const RdmRunner&) = delete;
    RdmRunner& operator=(const RdmRunner&) = delete;

    // Hands `job` to the worker; only when not busy. Afterwards `finished` runs on
    // the event thread, or `failed` there instead when the job threw.
    void start(Task job, Task finished, std::function<void(const std::string&)> failed);

    // Event thread: a run has started and its `finished` has not run yet.
    bool busy() const { return busy_; }
    bool onWorker() const { return std::this_thread::get_id() == workerId_; }

    // Asks the run in progress to end after its current exchange.
    void requestStop() { stop_.store(true); }
    bool stopRequested() const { return stop_.load(); }

    // Stops and waits for the worker; later starts are ignored.
    void shutDown();

private:
    struct Entry {
        Task job, finished;
        std::function<void(const std::string&)> failed;
    };
    void loop();
    void runOne(Entry& entry);

    const bool threaded_;
    Post post_;
    bool busy_ = false;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<Entry> next_;  // the job handed over, until the worker takes it
    bool quit_ = false;
    std::thread worker_;
    std::thread::id workerId_;
};
