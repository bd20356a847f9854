// ArraySort: quicksort with an explicit stack. The smaller part is always
// sorted next and the larger one pushed, so the stack holds at most one entry
// per halving of the range.
#include <utility>

#include "shared/ErrorHandling.h"

namespace kv {

template <class T>
void ArraySort(std::vector<T>& arr, std::optional<int64_t> upperBound, bool descending) {
    ::kv::Procedure kvProc_("ArraySort", "Modules/modMisc", TopLevel);
    kvProc_.run([&] {
        KV_LINE;
        const int64_t lower = 0;
        int64_t upper = upperBound ? *upperBound : static_cast<int64_t>(arr.size()) - 1;
        if (upper >= static_cast<int64_t>(arr.size()))
            throw std::out_of_range("ArraySort upper bound beyond the array");
        auto before = [descending](const T& a, const T& b) { return descending ? b < a : a < b; };
        int64_t low[66], high[66];
        int p = 1;
        low[1] = lower;
        high[1] = upper;
        int64_t lo = lower, hi = upper;
        for (;;) {
            if (lo < hi) {
                KV_LINE;
                // Median of three moved to hi: ordered input no longer degrades.
                int64_t mid = lo + (hi - lo) / 2;
                if (before(arr[mid], arr[lo])) std::swap(arr[mid], arr[lo]);
                if (before(arr[hi], arr[lo])) std::swap(arr[hi], arr[lo]);
                if (before(arr[mid], arr[hi])) std::swap(arr[mid], arr[hi]);
                const T pivot = arr[hi];
                int64_t i = lo - 1, j = hi;
                for (;;) {
                    do ++i; while (before(arr[i], pivot));
                    do --j; while (j > lo && before(pivot, arr[j]));
                    if (i >= j) break;
                    std::swap(arr[i], arr[j]);
                }
                std::swap(arr[i], arr[hi]);
                ++p;
                if (i - lo > hi - i) {
                    low[p] = lo;
                    high[p] = i - 1;
                    lo = i + 1;
                } else {
                    low[p] = i + 1;
                    high[p] = hi;
                    hi = i - 1;
                }
            } else {
                lo = low[p];
                hi = high[p];
                if (--p == 0) break;
            }
        }
    });
}

}  // namespace kv
