#pragma once
// What the benchmarks that drive a dialog share: the host's UI as a script
// driver that echoes no forms and keeps what it was shown (messages, error
// reports, its output in `sink`) for the benchmark to check, set for the
// driver's lifetime; and the peak memory of this process or its children.
#include <sys/resource.h>
#include <sstream>
#include "host/Ui.h"

namespace korvane::bench {

struct QuietUi {
    std::ostringstream sink;
    korvane::host::ScriptDriver driver{sink};
    QuietUi() {
        driver.echoForms = false;
        korvane::host::setUi(&driver);
    }
    ~QuietUi() { korvane::host::setUi(nullptr); }
    QuietUi(const QuietUi&) = delete;
    QuietUi& operator=(const QuietUi&) = delete;
};

// Peak resident memory in MB of this process (RUSAGE_SELF) or of its
// largest child so far (RUSAGE_CHILDREN).
inline double peakMegabytes(int who = RUSAGE_SELF) {
    rusage u{};
    getrusage(who, &u);
    return static_cast<double>(u.ru_maxrss) / 1024.0;
}

}  // namespace korvane::bench
