#pragma once

#include <QMutex>
#include <QMutexLocker>

#include <atomic>
#include <memory>

// The process-wide objects (the settings, the database holder) are made on
// first use from whichever thread asks first; their making is guarded by a
// mutex, later look-ups take no lock. They live until the process ends.
template <typename T>
class Singleton
{
public:
    static T *instance()
    {
        T *existing = pointer().load(std::memory_order_acquire);
        if (existing)
            return existing;
        static QMutex mutex;
        QMutexLocker locker(&mutex);
        existing = pointer().load(std::memory_order_relaxed);
        if (!existing) {
            holder().reset(new T);
            existing = holder().get();
            pointer().store(existing, std::memory_order_release);
        }
        return existing;
    }

private:
    static std::atomic<T *> &pointer()
    {
        static std::atomic<T *> p{nullptr};
        return p;
    }
    static std::unique_ptr<T> &holder()
    {
        static std::unique_ptr<T> h;
        return h;
    }
};
