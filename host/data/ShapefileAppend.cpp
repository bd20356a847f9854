#include "host/data/ShapefileAppend.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "host/Failure.h"

namespace korvane::host::data {

namespace {

constexpr const char* kSource = "Table";
constexpr int32_t kPolygon = 5;
constexpr size_t kHeader = 100;

uint32_t be32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}
void putBe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>((v >> (24 - 8 * i)) & 0xFF);
}
template <class T>
T getLe(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);   // shapefiles and the host's shapes are little-endian, as this machine
    return v;
}
template <class T>
void putLe(std::vector<uint8_t>& out, T v) {
    const auto* p = reinterpret_cast<const uint8_t*>(&v);
    out.insert(out.end(), p, p + sizeof v);
}
void putBe(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t b[4];
    putBe32(b, v);
    out.insert(out.end(), b, b + 4);
}

uint64_t fileSize(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

std::string errnoText() { return std::strerror(errno); }

// The signed sum by which the driver tells a ring's turning: above 0
// anticlockwise, below 0 clockwise.
double turning(const double* x, const double* y, size_t n) {
    double sum = x[0] * (y[1] - y[n - 1]);
    size_t i = 1;
    for (; i < n - 1; ++i) sum += x[i] * (y[i + 1] - y[i - 1]);
    sum += x[i] * (y[0] - y[i - 1]);
    return sum;
}

}  // namespace

std::unique_ptr<ShapefileAppender> ShapefileAppender::open(const std::string& base, OGRLayer& layer) {
    // A spatial index beside the files would go stale: the driver deals with it.
    for (const char* ext : {".qix", ".sbn", ".sbx", ".QIX", ".SBN", ".SBX"})
        if (::access((base + ext).c_str(), F_OK) == 0) return nullptr;
    std::unique_ptr<ShapefileAppender> a(new ShapefileAppender);
    a->shpPath_ = base + ".shp";
    a->shxPath_ = base + ".shx";
    a->shp_ = ::open(a->shpPath_.c_str(), O_RDWR | O_CLOEXEC);
    a->shx_ = ::open(a->shxPath_.c_str(), O_RDWR | O_CLOEXEC);
    if (a->shp_ < 0 || a->shx_ < 0) return nullptr;
    if (!readAt(a->shp_, a->header_.data(), kHeader, 0)) return nullptr;
    uint8_t shxHeader[kHeader];
    if (!readAt(a->shx_, shxHeader, kHeader, 0)) return nullptr;
    const uint8_t* h = a->header_.data();
    if (be32(h) != 9994 || getLe<int32_t>(h + 28) != 1000 || getLe<int32_t>(h + 32) != kPolygon) return nullptr;
    a->shpWritten_ = a->shpEnd_ = fileSize(a->shp_);
    a->shxWritten_ = fileSize(a->shx_);
    // Files whose headers give their sizes, and an index of whole entries.
    if (a->shpEnd_ != 2ull * be32(h + 24) || a->shxWritten_ != 2ull * be32(shxHeader + 24) ||
        a->shxWritten_ < kHeader || (a->shxWritten_ - kHeader) % 8 != 0)
        return nullptr;
    a->records_ = static_cast<int64_t>((a->shxWritten_ - kHeader) / 8);
    for (int i = 0; i < 4; ++i) a->bounds_[static_cast<size_t>(i)] = getLe<double>(h + 36 + 8 * i);
    a->dbf_ = DbfRecordWriter::open(base + ".dbf", layer);
    if (!a->dbf_ || a->dbf_->recordCount() != a->records_) return nullptr;
    return a;
}

ShapefileAppender::~ShapefileAppender() {
    try {
        flush();
    } catch (...) {
    }
    if (shp_ >= 0) ::close(shp_);
    if (shx_ >= 0) ::close(shx_);
}

bool ShapefileAppender::encode(const Geometry& shape) {
    xs_.clear();
    ys_.clear();
    parts_.clear();
    if (shape.isEmpty()) return true;
    const std::vector<uint8_t>& b = shape.wkb();
    size_t at = 0;
    auto need = [&](size_t n) { return at + n <= b.size(); };
    if (!need(9) || b[0] != 1) return false;
    const uint32_t type = getLe<uint32_t>(&b[1]);
    if (type != 3 && type != 6) return false;
    uint32_t polygons = 1;
    at = 1;
    if (type == 6) {
        polygons = getLe<uint32_t>(&b[5]);
        at = 9;
    } else {
        at = 0;
    }
    for (uint32_t p = 0; p < polygons; ++p) {
        if (!need(9) || b[at] != 1 || getLe<uint32_t>(&b[at + 1]) != 3) return false;
        const uint32_t rings = getLe<uint32_t>(&b[at + 5]);
        at += 9;
        if (rings == 0) return false;
        for (uint32_t r = 0; r < rings; ++r) {
            if (!need(4)) return false;
            const uint32_t n = getLe<uint32_t>(&b[at]);
            at += 4;
            if (n < 4 || !need(16ull * n)) return false;
            const size_t start = xs_.size();
            parts_.push_back(static_cast<int32_t>(start));
            for (uint32_t i = 0; i < n; ++i, at += 16) {
                xs_.push_back(getLe<double>(&b[at]));
                ys_.push_back(getLe<double>(&b[at + 8]));
            }
            // The driver writes outer rings clockwise and holes anticlockwise.
            const double sum = turning(&xs_[start], &ys_[start], n);
            const bool hole = r > 0;
            if ((sum < 0 && hole) || (sum > 0 && !hole)) {
                std::reverse(xs_.begin() + static_cast<std::ptrdiff_t>(start), xs_.end());
                std::reverse(ys_.begin() + static_cast<std::ptrdiff_t>(start), ys_.end());
            }
        }
    }
    return at == b.size();
}

int64_t ShapefileAppender::append(const Geometry& shape, const Value* values, size_t count) {
    if (failed_ || !encode(shape)) return -1;
    const size_t content = xs_.empty() ? 4 : 44 + 4 * parts_.size() + 16 * xs_.size();
    // The driver's limit: a .shp of at most 4 GB.
    if (shpEnd_ + 8 + content > 0xFFFFFFFFull) return -1;
    if (!dbf_->append(values, count)) return -1;
    const uint32_t number = static_cast<uint32_t>(records_ + 1);
    putBe(shxRun_, static_cast<uint32_t>(shpEnd_ / 2));
    putBe(shxRun_, static_cast<uint32_t>(content / 2));
    putBe(shpRun_, number);
    putBe(shpRun_, static_cast<uint32_t>(content / 2));
    if (xs_.empty()) {
        putLe<int32_t>(shpRun_, 0);
    } else {
        const auto [xmin, xmax] = std::minmax_element(xs_.begin(), xs_.end());
        const auto [ymin, ymax] = std::minmax_element(ys_.begin(), ys_.end());
        putLe<int32_t>(shpRun_, kPolygon);
        for (double v : {*xmin, *ymin, *xmax, *ymax}) putLe<double>(shpRun_, v);
        putLe<int32_t>(shpRun_, static_cast<int32_t>(parts_.size()));
        putLe<int32_t>(shpRun_, static_cast<int32_t>(xs_.size()));
        for (int32_t p : parts_) putLe<int32_t>(shpRun_, p);
        for (size_t i = 0; i < xs_.size(); ++i) {
            putLe<double>(shpRun_, xs_[i]);
            putLe<double>(shpRun_, ys_[i]);
        }
        // The file's bounds start at the first record's first point.
        if (records_ == 0) bounds_ = {xs_[0], ys_[0], xs_[0], ys_[0]};
        bounds_[0] = std::min(bounds_[0], *xmin);
        bounds_[1] = std::min(bounds_[1], *ymin);
        bounds_[2] = std::max(bounds_[2], *xmax);
        bounds_[3] = std::max(bounds_[3], *ymax);
    }
    shpEnd_ += 8 + content;
    return records_++;
}

void ShapefileAppender::flush() {
    if (shpRun_.empty() && shxRun_.empty()) return;
    if (failed_) fail(err::HostGeneric, kSource, "An earlier write to " + shpPath_ + " failed.");
    failed_ = true;
    if (!writeAt(shp_, shpRun_.data(), shpRun_.size(), static_cast<off_t>(shpWritten_)))
        fail(err::HostGeneric, kSource, "Cannot write the shapes of " + shpPath_ + ": " + errnoText());
    if (!writeAt(shx_, shxRun_.data(), shxRun_.size(), static_cast<off_t>(shxWritten_)))
        fail(err::HostGeneric, kSource, "Cannot write the index " + shxPath_ + ": " + errnoText());
    // The headers last, the .dbf's at the very end: until then the files
    // read as the last flush left them.
    uint8_t* h = header_.data();
    putBe32(h + 24, static_cast<uint32_t>(shpEnd_ / 2));
    for (int i = 0; i < 4; ++i) std::memcpy(h + 36 + 8 * i, &bounds_[static_cast<size_t>(i)], 8);
    std::memset(h + 68, 0, 32);   // no heights or measures in a 2D polygon file
    if (!writeAt(shp_, h, kHeader, 0))
        fail(err::HostGeneric, kSource, "Cannot write the header of " + shpPath_ + ": " + errnoText());
    std::array<uint8_t, kHeader> index = header_;
    putBe32(index.data() + 24, static_cast<uint32_t>((kHeader + 8 * static_cast<uint64_t>(records_)) / 2));
    if (!writeAt(shx_, index.data(), kHeader, 0))
        fail(err::HostGeneric, kSource, "Cannot write the header of " + shxPath_ + ": " + errnoText());
    dbf_->flushAppended();
    shpWritten_ = shpEnd_;
    shxWritten_ = kHeader + 8 * static_cast<uint64_t>(records_);
    shpRun_.clear();
    shxRun_.clear();
    failed_ = false;
}

}  // namespace korvane::host::data
