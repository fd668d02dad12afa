#include "app/rdm_runner.h"

#include <exception>

RdmRunner::RdmRunner(bool threaded, Post post) : threaded_(threaded), post_(std::move(post))
{
    if (threaded_) {
        worker_ = std::thread([this] { loop(); });
        workerId_ = worker_.get_id();
    }
}

RdmRunner::~RdmRunner() { shutDown(); }

void RdmRunner::shutDown()
{
    stop_.store(true);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
        next_.reset();
    }
    wake_.notify_all();
    if (worker_.joinable())
        worker_.join();
}

void RdmRunner::start(Task job, Task finished, std::function<void(const std::string&)> failed)
{
    stop_.store(false);  // a stop ends the run it was meant for, not the next one
    Entry entry{std::move(job), std::move(finished), std::move(failed)};
    if (!threaded_) {
        busy_ = true;
        runOne(entry);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (quit_)
            return;
        busy_ = true;
        next_ = std::move(entry);
    }
    wake_.notify_one();
}

void RdmRunner::loop()
{
    for (;;) {
        Entry entry;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return quit_ || next_; });
            if (quit_)
                return;
            entry = std::move(*next_);
            next_.reset();
        }
        runOne(entry);
    }
}

void RdmRunner::runOne(Entry& entry)
{
    std::string error;
    bool threw = false;
    try {
        entry.job();
    } catch (const std::exception& e) {
        threw = true;
        error = e.what();
    } catch (...) {
        threw = true;
    }
    // The run counts as over once the event thread has taken its results.
    auto done = [this, threw, error, finished = std::move(entry.finished), failed = std::move(entry.failed)] {
        busy_ = false;
        if (threw) {
            if (failed)
                failed(error);
        } else if (finished) {
            finished();
        }
    };
    if (threaded_)
        post_(std::move(done));
    else
        done();
}
