#include "host/data/ShpRecords.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace korvane::host::data {

namespace {

constexpr size_t kWindow = 1 << 20;

uint32_t bigEndian32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
int32_t littleEndian32(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

int openFile(const std::string& path, uint64_t& size) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && ::fstat(fd, &st) == 0) {
        size = static_cast<uint64_t>(st.st_size);
        return fd;
    }
    if (fd >= 0) ::close(fd);
    return -1;
}

}  // namespace

const uint8_t* ShpRecords::Window::get(uint64_t at, size_t n) {
    if (fd < 0 || at + n > size) return nullptr;
    if (at >= start && at + n <= start + bytes.size()) return bytes.data() + (at - start);
    size_t want = std::max(kWindow, n);
    if (at + want > size) want = static_cast<size_t>(size - at);
    bytes.resize(want);
    size_t got = 0;
    while (got < want) {
        ssize_t r = ::pread(fd, bytes.data() + got, want - got, static_cast<off_t>(at + got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            bytes.clear();
            return nullptr;
        }
        got += static_cast<size_t>(r);
    }
    start = at;
    return bytes.data();
}

ShpRecords::ShpRecords(const std::string& base) {
    shp_.fd = openFile(base + ".shp", shp_.size);
    shx_.fd = openFile(base + ".shx", shx_.size);
    const uint8_t* h = shx_.get(0, 100);
    const uint8_t* s = shp_.get(0, 100);
    if (!h || !s || bigEndian32(h) != 9994 || bigEndian32(s) != 9994) {
        records_ = 0;
        return;
    }
    records_ = static_cast<int64_t>((shx_.size - 100) / 8);
}

ShpRecords::~ShpRecords() {
    if (shp_.fd >= 0) ::close(shp_.fd);
    if (shx_.fd >= 0) ::close(shx_.fd);
}

ShpRecords::Kind ShpRecords::read(int64_t record, std::vector<uint8_t>& wkb) {
    if (record < 0 || record >= records_) return Kind::Other;
    const uint8_t* entry = shx_.get(100 + static_cast<uint64_t>(record) * 8, 8);
    if (!entry) return Kind::Other;
    const uint64_t offset = uint64_t{bigEndian32(entry)} * 2;
    const uint64_t length = uint64_t{bigEndian32(entry + 4)} * 2;  // the content, after the 8-byte record header
    if (offset < 100 || length < 4 || length > (uint64_t{1} << 30)) return Kind::Other;
    const uint8_t* rec = shp_.get(offset, static_cast<size_t>(8 + length));
    if (!rec || bigEndian32(rec + 4) * uint64_t{2} != length) return Kind::Other;
    const uint8_t* c = rec + 8;
    const int32_t type = littleEndian32(c);
    if (type == 0) return Kind::Null;
    if (type != 5 || length < 44) return Kind::Other;
    const int32_t parts = littleEndian32(c + 36);
    const int32_t points = littleEndian32(c + 40);
    if (parts != 1 || points < 4 || length != 44 + 4 + 16 * static_cast<uint64_t>(points)) return Kind::Other;
    if (littleEndian32(c + 44) != 0) return Kind::Other;
    const uint8_t* xy = c + 48;
    const size_t bytes = 16 * static_cast<size_t>(points);
    if (std::memcmp(xy, xy + bytes - 16, 16) != 0) return Kind::Other;  // an open ring
    wkb.resize(13 + bytes);
    wkb[0] = 1;
    const uint32_t head[3] = {3, 1, static_cast<uint32_t>(points)};
    std::memcpy(&wkb[1], head, 12);
    std::memcpy(&wkb[13], xy, bytes);
    return Kind::Polygon;
}

}  // namespace korvane::host::data
