// A stand-in "UI thread" for the channel tests: one loop thread with a queue. HandOver (called
// by reader threads) queues the work and blocks until the loop has run it, like a
// BlockingQueuedConnection; Call() runs something on the loop and waits for its result, so every
// CComm call of the tests happens on the UI thread as in the program.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>

#include "serial/comm.h"

namespace kalvor::test {

class UiLoop : public RxSink {
public:
    UiLoop() : m_thread([this] { Loop(); }) {}
    ~UiLoop() override {
        {
            std::lock_guard<std::mutex> lock(m_mu);
            m_stopping = true;
        }
        m_cv.notify_all();
        m_thread.join();
    }
    UiLoop(const UiLoop&) = delete;
    UiLoop& operator=(const UiLoop&) = delete;

    void HandOver(std::function<void()> work) override {
        Item item;
        item.work = &work;
        std::unique_lock<std::mutex> lock(m_mu);
        if (m_stopping) return;  // shutting down: return without running it
        m_queue.push_back(&item);
        m_cv.notify_all();
        m_cv.wait(lock, [&] { return item.done; });
    }

    // Runs f on the loop thread and returns its result.
    template <class F>
    auto Call(F f) -> std::invoke_result_t<F> {
        using R = std::invoke_result_t<F>;
        std::packaged_task<R()> task(std::move(f));
        std::future<R> result = task.get_future();
        std::function<void()> work = [&task] { task(); };
        Item item;
        item.work = &work;
        {
            std::unique_lock<std::mutex> lock(m_mu);
            m_queue.push_back(&item);
            m_cv.notify_all();
            m_cv.wait(lock, [&] { return item.done; });
        }
        return result.get();
    }

    // Queues f on the loop without waiting.
    void Post(std::function<void()> f) {
        auto* item = new Item;
        item->owned = new std::function<void()>(std::move(f));
        item->work = item->owned;
        item->heap = true;
        std::lock_guard<std::mutex> lock(m_mu);
        m_queue.push_back(item);
        m_cv.notify_all();
    }

    bool OnLoopThread() const { return std::this_thread::get_id() == m_thread.get_id(); }

private:
    struct Item {
        std::function<void()>* work = nullptr;
        std::function<void()>* owned = nullptr;
        bool heap = false;
        bool done = false;
    };

    void Loop() {
        std::unique_lock<std::mutex> lock(m_mu);
        for (;;) {
            m_cv.wait(lock, [&] { return m_stopping || !m_queue.empty(); });
            if (m_queue.empty()) break;  // stopping and nothing left
            Item* item = m_queue.front();
            m_queue.pop_front();
            lock.unlock();
            (*item->work)();
            lock.lock();
            if (item->heap) {
                delete item->owned;
                delete item;
            } else {
                item->done = true;
                m_cv.notify_all();
            }
        }
    }

    std::mutex m_mu;
    std::condition_variable m_cv;
    std::deque<Item*> m_queue;
    bool m_stopping = false;
    std::thread m_thread;  // last: starts after the members above exist
};

}  // namespace kalvor::test
