// Fan-out of a worker function over all processors with POSIX threads: no pool, threads are
// created and joined on every call.
#include <unistd.h>

#include <memory>

#include "KernelFrame.h"

namespace {

// One started thread: what it runs and its POSIX handle.
struct WorkerThreadRecord {
    WorkerFunction worker;
    void* userData;
    int threadCount;
    int threadIndex;
    pthread_t thread;
    bool started;  // false when the thread could not be created: its share runs on the caller
};

void* WorkerThreadEntry(void* argument) {
    const WorkerThreadRecord& record = *static_cast<const WorkerThreadRecord*>(argument);
    record.worker(record.threadCount, record.threadIndex, record.userData);
    return nullptr;
}

}  // namespace

int GetProcessorCount() {
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? int(count) : 1;
}

void RunOnAllProcessors(WorkerFunction worker, void* userData) {
    RunOnProcessors(GetProcessorCount(), worker, userData);
}

void RunOnProcessors(int threadCount, WorkerFunction worker, void* userData,
                     ThreadStartFunction startThread) {
    if (!worker) return;
    const int count = threadCount > 1 ? threadCount : 1;
    if (count == 1) {
        worker(1, 0, userData);
        return;
    }
    if (!startThread) startThread = &pthread_create;
    // Record i serves thread i; record 0 (the calling thread) stays unused.
    std::unique_ptr<WorkerThreadRecord[]> records(new WorkerThreadRecord[count]);
    for (int i = 1; i < count; ++i) {
        WorkerThreadRecord& record = records[i];
        record.worker = worker;
        record.userData = userData;
        record.threadCount = count;
        record.threadIndex = i;
        record.started = startThread(&record.thread, nullptr, &WorkerThreadEntry, &record) == 0;
    }
    // The started threads read their records: join them before the records go, even when a share
    // run here throws.
    auto joinStarted = [&records, count]() {
        for (int i = 1; i < count; ++i)
            if (records[i].started) pthread_join(records[i].thread, nullptr);
    };
    try {
        worker(count, 0, userData);
        // Shares whose thread could not be started.
        for (int i = 1; i < count; ++i)
            if (!records[i].started) worker(count, i, userData);
    } catch (...) {
        joinStarted();
        throw;
    }
    joinStarted();
}
