// The cut of a class grid to a region, written straight as fragstat's float
// grid: the grid's cells read, masked by the region's shapes and converted
// strip by strip, with no intermediate raster.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "host/FileReplace.h"
#include "host/Failure.h"
#include "host/data/RasterImpl.h"
#include "host/data/RasterOperatorsImpl.h"

namespace korvane::host {

namespace {
constexpr const char* kCut = "cutToFloatGrid";

// The cut's cells: a new file of the caller's working folder, written
// strip by strip from the start.
class ScratchFile {
public:
    explicit ScratchFile(std::string path) : path_(std::move(path)) {
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd_ < 0) fail(err::PathNotFound, kCut, "Cannot write " + path_ + ": " + std::strerror(errno));
    }
    ~ScratchFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    void write(std::string_view bytes) { writeAllTo(fd_, bytes, path_); }
    void close() {
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) fail(err::PathNotFound, kCut, "Cannot write " + path_ + ": " + std::strerror(errno));
    }

private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace

bool cutsToFloatGrid(const RasterDataset& grid) {
    return grid.isIntegerGrid() && grid.pixelType() != PixelType::UInt32;
}

std::vector<ValueCount> cutToFloatGrid(const RasterDataset& grid, const FeatureClassPtr& features,
                                       const SelectionSet* selection, const RasterLattice& window,
                                       const std::string& base) {
    if (!cutsToFloatGrid(grid))
        fail(err::HostInvalidArg, kCut, "The raster " + grid.path() + " is not a single-band integer raster.");
    if (!features) fail(err::HostInvalidArg, kCut, "No shapes to cut by.");
    if (window.columns <= 0 || window.rows <= 0)
        fail(err::HostInvalidArg, kCut, "The window has no cells: its extent is empty.");
    ops::FeatureBurner burner(window);
    ops::addShapes(burner, features, selection);
    ops::LatticeReader reader(grid, window);
    ops::ValueCounts counts;
    ScratchFile flt(base + ".flt");
    std::vector<int32_t> ints;
    std::vector<double> covered;
    std::vector<float> out;
    static_assert(sizeof(float) == 4);
    ops::forEachStrip(window, [&](int64_t r, int64_t n, size_t size) {
        ints.resize(size);
        covered.resize(size);
        out.resize(size);
        reader.readInt(r, n, ints.data());
        burner.burn(r, n, covered.data());
        for (size_t i = 0; i < size; ++i) {
            if (std::isnan(covered[i])) ints[i] = kIntegerNoData;
            out[i] = ints[i] == kIntegerNoData ? -9999.0f : static_cast<float>(ints[i]);
        }
        counts.add(ints.data(), size);
        flt.write(std::string_view(reinterpret_cast<const char*>(out.data()), size * sizeof(float)));
    });
    flt.close();
    data::writeNewFile(base + ".hdr",
                       data::floatGridHeader(window.columns, window.rows, window.xmin,
                                             window.ymax - window.cellY() * static_cast<double>(window.rows),
                                             window.cellSize));
    std::vector<ValueCount> values;
    for (auto [v, c] : counts.sorted()) values.push_back({v, c});
    return values;
}

}  // namespace korvane::host
