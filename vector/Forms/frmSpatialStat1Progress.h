#pragma once
// Steps of one phase of a metric run on its progress window. The window
// repaints on every value it is given, so a long phase hands it a new value
// only when the bar moves by a thousandth of its length (and at the end);
// the bar's maximum and final value are those of every single step.
#include <algorithm>
#include <cstdint>

#include "shared/frmProgress.h"

namespace kv {

class ProgressSteps {
public:
    explicit ProgressSteps(frmProgress& window) : window_(window) {}

    // Value 0, then the new maximum (the value first, so it never lies above
    // the maximum).
    void start(int64_t max) {
        value_ = 0;
        max_ = std::max<int64_t>(0, max);
        window_.setValue(0);
        window_.setMax(clamp(max_));
        shown_ = 0;
        stride_ = std::max<int64_t>(1, max_ / 1000);
    }
    // Raises the maximum of the phase under way.
    void raiseMax(int64_t by) {
        max_ += std::max<int64_t>(0, by);
        window_.setMax(clamp(max_));
        stride_ = std::max<int64_t>(1, max_ / 1000);
    }
    // One or more steps; the value never passes the maximum.
    void step(int64_t n = 1) {
        value_ = std::min(max_, value_ + n);
        if (value_ - shown_ >= stride_ || value_ == max_) show();
    }
    // Shows the value reached.
    void show() {
        shown_ = value_;
        window_.setValue(clamp(value_));
    }
    int64_t value() const { return value_; }
    int64_t max() const { return max_; }

private:
    static int32_t clamp(int64_t v) { return static_cast<int32_t>(std::min<int64_t>(v, INT32_MAX)); }

    frmProgress& window_;
    int64_t value_ = 0;
    int64_t max_ = 0;
    int64_t shown_ = 0;
    int64_t stride_ = 1;
};

}  // namespace kv
