#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>

#include "host/System.h"

namespace korvane::host::fs {

struct FolderRemover::Impl {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> waiting;
    bool busy = false, stopping = false;
    std::thread worker;

    void work() {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return stopping || !waiting.empty(); });
            if (waiting.empty()) return;   // stopping, with nothing left
            std::string folder = std::move(waiting.front());
            waiting.pop_front();
            busy = true;
            lock.unlock();
            std::error_code ec;   // a folder that cannot go stays, as a plain removal leaves it
            std::filesystem::remove_all(folder, ec);
            lock.lock();
            busy = false;
            changed.notify_all();
        }
    }
};

FolderRemover::FolderRemover() : impl_(std::make_unique<Impl>()) {}

FolderRemover::~FolderRemover() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->changed.notify_all();
    if (impl_->worker.joinable()) impl_->worker.join();
}

void FolderRemover::remove(std::string folder) {
    std::lock_guard lock(impl_->mutex);
    impl_->waiting.push_back(std::move(folder));
    if (!impl_->worker.joinable()) {
        try {
            impl_->worker = std::thread([this] { impl_->work(); });
        } catch (const std::system_error&) {
            // No thread to be had: the folder goes here and now.
            std::string now = std::move(impl_->waiting.back());
            impl_->waiting.pop_back();
            std::error_code ec;
            std::filesystem::remove_all(now, ec);
            return;
        }
    }
    impl_->changed.notify_all();
}

void FolderRemover::wait() {
    std::unique_lock lock(impl_->mutex);
    impl_->changed.wait(lock, [&] { return impl_->waiting.empty() && !impl_->busy; });
}

}  // namespace korvane::host::fs
