// Whether a dataset's files agree with each other: a shapefile or dBASE
// table that a failed write cut short, or that was damaged on the way, is
// refused rather than read in part.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "host/data/TableImpl.h"

namespace korvane::host::data {

namespace {

struct File {
    int fd = -1;
    uint64_t size = 0;
    explicit File(const std::string& path) {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st;
        if (fd >= 0 && ::fstat(fd, &st) == 0) size = static_cast<uint64_t>(st.st_size);
    }
    ~File() {
        if (fd >= 0) ::close(fd);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    bool read(void* buf, size_t n, uint64_t at) const {
        auto* p = static_cast<char*>(buf);
        while (n > 0) {
            ssize_t got = ::pread(fd, p, n, static_cast<off_t>(at));
            if (got <= 0) return false;
            p += got;
            n -= static_cast<size_t>(got);
            at += static_cast<uint64_t>(got);
        }
        return true;
    }
};

uint32_t be32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint32_t le16(const uint8_t* p) { return p[0] | (p[1] << 8); }

// The file of the dataset with the extension in either letter case.
std::string fileOf(const std::string& base, const char* ext) {
    std::error_code ec;
    std::string lowerExt = base + ext;
    if (std::filesystem::exists(lowerExt, ec)) return lowerExt;
    std::string upper = ext;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (std::filesystem::exists(base + upper, ec)) return base + upper;
    return {};
}

}  // namespace

std::optional<std::string> datasetDamage(const std::string& base) {
    std::optional<uint64_t> dbfRecords;
    const std::string dbf = fileOf(base, ".dbf");
    if (!dbf.empty()) {
        File f(dbf);
        uint8_t h[32];
        if (f.fd < 0 || f.size < 32 || !f.read(h, 32, 0))
            return dbf + " is shorter than a dBASE header";
        uint64_t records = le32(h + 4), headerLength = le16(h + 8), recordLength = le16(h + 10);
        uint64_t needed = headerLength + records * recordLength;
        if (headerLength < 33 || recordLength < 1) return dbf + " has no valid dBASE header";
        if (f.size < needed)
            return fmt::format("{} holds {} bytes, but its header describes {} records needing {}", dbf, f.size,
                               records, needed);
        dbfRecords = records;
    }
    const std::string shp = fileOf(base, ".shp");
    if (shp.empty()) return std::nullopt;
    File s(shp);
    uint8_t h[100];
    if (s.fd < 0 || s.size < 100 || !s.read(h, 100, 0)) return shp + " is shorter than a shapefile header";
    if (be32(h) != 9994) return shp + " is not a shapefile";
    uint64_t declared = static_cast<uint64_t>(be32(h + 24)) * 2;
    if (s.size < declared)
        return fmt::format("{} holds {} bytes, but its header says {}", shp, s.size, declared);
    const std::string shx = fileOf(base, ".shx");
    if (shx.empty()) return std::nullopt;   // the driver rebuilds a missing index
    File x(shx);
    uint8_t xh[100];
    if (x.fd < 0 || x.size < 100 || !x.read(xh, 100, 0)) return shx + " is shorter than a shapefile index header";
    uint64_t xDeclared = static_cast<uint64_t>(be32(xh + 24)) * 2;
    if (x.size < xDeclared || (xDeclared - 100) % 8 != 0)
        return fmt::format("{} holds {} bytes, but its header says {}", shx, x.size, xDeclared);
    const uint64_t records = (xDeclared - 100) / 8;
    if (dbfRecords && *dbfRecords != records)
        return fmt::format("{} holds {} records, but {} indexes {} shapes", dbf, *dbfRecords, shx, records);
    // Every record the index points at lies within the .shp.
    std::vector<uint8_t> entries;
    const uint64_t batch = 8192;
    for (uint64_t first = 0; first < records; first += batch) {
        uint64_t n = std::min(batch, records - first);
        entries.resize(static_cast<size_t>(n * 8));
        if (!x.read(entries.data(), entries.size(), 100 + first * 8)) return shx + " cannot be read";
        for (uint64_t i = 0; i < n; ++i) {
            uint64_t offset = static_cast<uint64_t>(be32(&entries[i * 8])) * 2;
            uint64_t length = static_cast<uint64_t>(be32(&entries[i * 8 + 4])) * 2;
            if (offset < 100 || offset + 8 + length > s.size)
                return fmt::format("record {} of {} lies past the end of {} ({} bytes)", first + i + 1, shx, shp,
                                   s.size);
        }
    }
    return std::nullopt;
}

}  // namespace korvane::host::data
