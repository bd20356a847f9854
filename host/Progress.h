#pragma once
// Progress of long work: the host's operators report the share of their work
// done to the innermost ProgressScope of the calling thread (nothing happens
// without one), so that a command can show it without every operator taking
// a callback.
//
//     ProgressScope scope([&](double share) { bar.setValue(share * 100); });
//     RasterDatasetPtr out = combine(grids, env);   // reports as it goes
#include <functional>

namespace korvane::host {

using ProgressFunction = std::function<void(double share)>;

class ProgressScope {
public:
    explicit ProgressScope(ProgressFunction report);
    ~ProgressScope();
    ProgressScope(const ProgressScope&) = delete;
    ProgressScope& operator=(const ProgressScope&) = delete;

private:
    friend void reportProgress(double share);
    ProgressFunction report_;
    ProgressScope* outer_;
};

// Hands the share done (0 to 1) to the innermost scope of this thread.
void reportProgress(double share);

// reportProgress as a GDAL progress function (its argument unused).
int gdalProgress(double share, const char* message, void* unused);

}  // namespace korvane::host
