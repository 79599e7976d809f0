// RecordingProperties: a property interface for editor tests: records every set and every stpar
// call in order, and answers a get with the bytes last set (or given by put) for that id, zeros
// when none. Any thread may call it. Tests only.
#pragma once
#include "display/CoreCnst.h"
#include "display/CoreDspc.h"
#include "plugin/CorePpwr.h"

#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class RecordingProperties : public CorePpwr {
public:
    struct Set {
        int32_t id;
        std::string bytes;
    };
    struct Parameter {
        int32_t id;
        float value;
    };

    int32_t wsprp(int32_t id, int32_t, int32_t, const void* data, uint32_t size) override {
        std::lock_guard<std::mutex> hold(lock);
        const std::string bytes(static_cast<const char*>(data), size);
        sets.push_back({id, bytes});
        values[id] = bytes;
        return iCdone;
    }
    int32_t wgprp(int32_t id, int32_t, int32_t, void* data, uint32_t& size) override {
        {
            std::lock_guard<std::mutex> hold(lock);
            const std::string& bytes = values[id];
            const uint32_t capacity = size;
            if (data) {
                std::memset(data, 0, capacity);
                std::memcpy(data, bytes.data(), std::min<size_t>(capacity, bytes.size()));
            }
            ++gets;
            // The popup records answer with their size, as the effect does; a menu contents size
            // query may be followed by new contents (afterMenuSizeQuery) before the read.
            if (id == iCmenuarm || id == iCmenucontents) size = uint32_t(bytes.size());
            if (id != iCmenucontents || data || !afterMenuSizeQuery) return iCdone;
        }
        afterMenuSizeQuery();
        return iCdone;
    }
    void stpar(int32_t id, float value) override {
        std::lock_guard<std::mutex> hold(lock);
        parameters.push_back({id, value});
    }

    template <typename T>
    void put(int32_t id, const T& value) {
        std::lock_guard<std::mutex> hold(lock);
        values[id] = std::string(reinterpret_cast<const char*>(&value), sizeof value);
    }
    template <typename T>
    T value(int32_t id) {
        std::lock_guard<std::mutex> hold(lock);
        T out{};
        std::memcpy(&out, values[id].data(), std::min(sizeof out, values[id].size()));
        return out;
    }
    // The records set for id, in order.
    template <typename T>
    std::vector<T> setsOf(int32_t id) {
        std::lock_guard<std::mutex> hold(lock);
        std::vector<T> out;
        for (const Set& set : sets) {
            if (set.id != id) continue;
            T record{};
            std::memcpy(&record, set.bytes.data(), std::min(sizeof record, set.bytes.size()));
            out.push_back(record);
        }
        return out;
    }
    // Property 100104: the value array of a record built by CoreDsif::newdd, as the test wrote it.
    void putCells(const CoreCnst::DISPLAYDATA& data) {
        std::lock_guard<std::mutex> hold(lock);
        values[iCdisplaydata] =
            std::string(reinterpret_cast<const char*>(data.values), size_t(data.total) * sizeof(double));
    }
    std::vector<CoreDspc::MESSAGELOC> messages() { return setsOf<CoreDspc::MESSAGELOC>(iCdisplaymessage); }
    // The menu contents as the display pushes them: count records of 52 bytes.
    template <typename Entry>
    void putEntries(const std::vector<Entry>& entries) {
        std::lock_guard<std::mutex> hold(lock);
        values[iCmenucontents] =
            std::string(reinterpret_cast<const char*>(entries.data()), entries.size() * sizeof(Entry));
    }
    std::function<void()> afterMenuSizeQuery; // runs on the reading thread, outside the lock
    std::vector<Parameter> stpars() {
        std::lock_guard<std::mutex> hold(lock);
        return parameters;
    }
    int32_t getCount() {
        std::lock_guard<std::mutex> hold(lock);
        return gets;
    }
    void clear() {
        std::lock_guard<std::mutex> hold(lock);
        sets.clear();
        parameters.clear();
    }
    // The status record (100102) as the control thread sends it: stored, then announced to the
    // registered listeners.
    void sendStatus(const STATUSRECORD& status) {
        put(iCstatus, status);
        prchg(iCstatus, 0, 0);
    }

private:
    std::mutex lock;
    std::vector<Set> sets;
    std::map<int32_t, std::string> values;
    std::vector<Parameter> parameters;
    int32_t gets = 0;
};
