#include "host/Progress.h"

#include <algorithm>
#include <cmath>

namespace korvane::host {

namespace {
thread_local ProgressScope* innermost = nullptr;
}

ProgressScope::ProgressScope(ProgressFunction report) : report_(std::move(report)), outer_(innermost) {
    innermost = this;
}

ProgressScope::~ProgressScope() { innermost = outer_; }

void reportProgress(double share) {
    if (!innermost || !innermost->report_ || std::isnan(share)) return;
    innermost->report_(std::clamp(share, 0.0, 1.0));
}

int gdalProgress(double share, const char*, void*) {
    reportProgress(share);
    return 1;
}

}  // namespace korvane::host
