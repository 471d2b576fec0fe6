// Runs the "Extended Data" items on a few threads under one deadline and writes their lines in the
// items' fixed order, whatever order they end in. An item not started by the deadline is skipped; each
// item's last line carries the time it took.
#pragma once

#include "core/jobs/ExtendedEvidenceLines.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct SExtendedItem {
    std::string strLabel;
    std::function<void(IReporter&)> run;
};

class CExtendedEvidenceQueue {
public:
    // dwDeadlineMs counts from the call of Run; onStart (may be empty) hears each item's label soon
    // after it starts, on the thread that called Run.
    CExtendedEvidenceQueue(unsigned uConcurrency, DWORD dwDeadlineMs, std::function<bool()> isCancelled,
                           std::function<void(const std::string&)> onStart = {});

    void Run(std::vector<SExtendedItem> items, IReporter& reporter);

    // What is left of the deadline, 0 once it has passed.
    DWORD TimeLeftMs() const;

private:
    unsigned m_uConcurrency;
    DWORD m_dwDeadlineMs;
    ULONGLONG m_started = 0;
    std::function<bool()> m_isCancelled;
    std::function<void(const std::string&)> m_onStart;
};
