// A small pool rather than a thread per item: at most a few programs compete with the customer's own
// work, and the report is written as soon as the next item in order is done.
#include "core/jobs/ExtendedEvidenceQueue.h"

#include "common/log/GuardedOperation.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

CExtendedEvidenceQueue::CExtendedEvidenceQueue(unsigned uConcurrency, DWORD dwDeadlineMs,
                                               std::function<bool()> isCancelled,
                                               std::function<void(const std::string&)> onStart)
    : m_uConcurrency(uConcurrency == 0 ? 1 : uConcurrency), m_dwDeadlineMs(dwDeadlineMs),
      m_isCancelled(std::move(isCancelled)), m_onStart(std::move(onStart))
{
}

DWORD CExtendedEvidenceQueue::TimeLeftMs() const
{
    const ULONGLONG spent = ::GetTickCount64() - m_started;
    return spent >= m_dwDeadlineMs ? 0 : static_cast<DWORD>(m_dwDeadlineMs - spent);
}

void CExtendedEvidenceQueue::Run(std::vector<SExtendedItem> items, IReporter& reporter)
{
    KVX_FUNCTION("CExtendedEvidenceQueue::Run");
    m_started = ::GetTickCount64();
    struct SSlot {
        CExtendedEvidenceLines lines;
        ULONGLONG elapsedMs = 0;
        bool bDone = false;
    };
    std::vector<SSlot> slots(items.size());
    std::mutex lock;
    std::condition_variable changed;
    size_t next = 0;
    std::vector<std::string> started; // labels of items begun, not yet told to onStart

    auto work = [&]() {
        for (;;) {
            size_t index = 0;
            {
                std::lock_guard<std::mutex> guard(lock);
                if (next == items.size()) {
                    return;
                }
                index = next++;
            }
            SSlot& slot = slots[index];
            const SExtendedItem& item = items[index];
            const ULONGLONG begun = ::GetTickCount64();
            if (m_isCancelled && m_isCancelled()) {
                slot.lines.Report("%s: skipped, the analysis was cancelled", item.strLabel.c_str());
            } else if (TimeLeftMs() == 0) {
                slot.lines.Report("%s: skipped, the section's time limit of %lu s had passed", item.strLabel.c_str(),
                                  static_cast<unsigned long>(m_dwDeadlineMs / 1000));
            } else {
                if (m_onStart) {
                    std::lock_guard<std::mutex> guard(lock);
                    started.push_back(item.strLabel);
                    changed.notify_all();
                }
                kvx::GuardedProcedure(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT, [&] { item.run(slot.lines); });
                if (slot.lines.Lines().empty()) {
                    slot.lines.Report("%s: no outcome", item.strLabel.c_str());
                }
            }
            std::lock_guard<std::mutex> guard(lock);
            slot.elapsedMs = ::GetTickCount64() - begun;
            slot.bDone = true;
            changed.notify_all();
        }
    };

    std::vector<std::thread> workers;
    // A worker that cannot be made leaves its share to the others, and to this thread at the end.
    for (unsigned i = 0; i < m_uConcurrency && i < items.size(); ++i) {
        try {
            workers.emplace_back(work);
        } catch (...) {
            break;
        }
    }
    if (workers.empty()) {
        work();
    }
    for (size_t index = 0; index < slots.size(); ++index) {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            changed.wait(guard, [&] { return slots[index].bDone || !started.empty(); });
            if (started.empty()) {
                break;
            }
            // Told from this thread, the caller's, so that a notification built on it keeps to the
            // job's thread.
            std::vector<std::string> told;
            told.swap(started);
            guard.unlock();
            for (const std::string& label : told) {
                kvx::GuardedProcedure(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT, [&] { m_onStart(label); });
            }
            guard.lock();
        }
        SSlot& slot = slots[index];
        guard.unlock();
        std::vector<std::string>& lines = slot.lines.Lines();
        char took[48];
        std::snprintf(took, sizeof took, " [%llu.%01llu s]", static_cast<unsigned long long>(slot.elapsedMs / 1000),
                      static_cast<unsigned long long>(slot.elapsedMs % 1000 / 100));
        lines.back() += took;
        for (const std::string& line : lines) {
            reporter.Report("%s", line.c_str());
        }
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
}
