// NoticeLog: a listener callback that keeps the notices it receives, in order, for the listener and
// property tests; eventually() waits for a condition with a deadline. Tests only.
#pragma once
#include "plugin/CoreLswr.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Waits, checking every millisecond, until done() holds or the deadline has passed; done()'s last answer.
inline bool eventually(const std::function<bool()>& done, std::chrono::seconds within = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// What a listener received: the notices in order, with what onNotice added (under the same lock).
struct NoticeLog {
    struct Entry {
        void* object;
        AudioUnitEvent event;
        float value;
    };
    static void callback(void* object, void* second, const AudioUnitEvent* event, uint64_t hostTime, float value) {
        auto* log = static_cast<NoticeLog*>(object);
        if (log->onNotice) log->onNotice(*event);
        std::lock_guard<std::mutex> hold(log->lock);
        log->entries.push_back({object, *event, value});
        if (second != nullptr || hostTime != 0) log->badArguments = true;
    }
    std::vector<Entry> copy() {
        std::lock_guard<std::mutex> hold(lock);
        return entries;
    }
    size_t size() {
        std::lock_guard<std::mutex> hold(lock);
        return entries.size();
    }
    size_t count(uint32_t id) {
        std::lock_guard<std::mutex> hold(lock);
        size_t n = 0;
        for (const Entry& entry : entries) n += entry.event.id == id;
        return n;
    }

    std::mutex lock;
    std::vector<Entry> entries;
    bool badArguments = false;
    std::function<void(const AudioUnitEvent&)> onNotice; // runs on the listener's thread
};
