#pragma once
// A folder of rasters: GeoTIFF and IMAGINE files and GRID folders.
#include <optional>
#include <string>
#include <vector>

#include "host/data/Raster.h"

namespace korvane::host {

// The format that a dataset name asks for: no "." a GRID, "tif" a TIFF,
// "img" an IMAGINE file, where the extension is all the text after the first
// "." compared exactly; nothing for any other name ("a.TIF", "a.tiff",
// "a.b.tif").
std::optional<RasterFormat> rasterFormatForName(const std::string& name);

class RasterWorkspace {
public:
    // Whether the folder exists (any folder can hold rasters).
    static bool isWorkspace(const std::string& folder);
    // Fails (HostFileNotFound) when the folder does not exist.
    static RasterWorkspace open(const std::string& folder);
    // Creates the folder parent/name (the parent must exist) and opens it.
    // Fails (PathNotFound) when it cannot be created.
    static RasterWorkspace create(const std::string& parent, const std::string& name);

    const std::string& path() const { return path_; }
    std::string datasetPath(const std::string& name) const;
    // Whether a dataset of that name (a file, or a GRID folder) is there.
    bool exists(const std::string& name) const;
    // The datasets of the folder, sorted: .tif and .img files, GRID folders.
    std::vector<std::string> datasetNames() const;

    // Fails as RasterDataset::open.
    RasterDatasetPtr openRasterDataset(const std::string& name) const;

    // Whether the dataset exists and its files and folder may be written.
    bool canDelete(const std::string& name) const;
    // Deletes the dataset with every sidecar (.aux.xml, .vat.dbf, .vat.cpg,
    // .aux, .ovr) or the GRID folder. Fails (HostFileNotFound) when missing,
    // (HostAccessDenied) when read-only.
    void deleteDataset(const std::string& name) const;

    // Copies the dataset's files (every sidecar) under the new name, in the
    // same format (a GRID to a GRID name, a file to a name with the same
    // extension). Fails (HostGeneric) when the name exists.
    RasterDatasetPtr copy(const RasterDataset& source, const std::string& name) const;
    // Writes band 0 of source in the format as a new dataset name, with its
    // attribute table (sidecar and GDAL table). Fails (HostGeneric) when
    // the name exists; a failed write leaves nothing behind.
    RasterDatasetPtr saveAs(const RasterDataset& source, const std::string& name, RasterFormat format) const;

    // Writes band 0 of source in the format as the dataset name, replacing
    // any dataset of that name: the new files are written whole under
    // temporary names and renamed over the old ones (a GRID folder is
    // swapped in whole); sidecars the new dataset does not have (an old
    // table, statistics, .aux, .ovr) are removed after it is in place. A
    // failure leaves an existing dataset of that name as it was. source may
    // be that dataset itself. Fails (HostGeneric) when a file stands where a
    // GRID folder would go, or a folder where a file would. table, when
    // given, is the value table written instead of source's own.
    RasterDatasetPtr saveReplacing(const RasterDataset& source, const std::string& name, RasterFormat format,
                                   const RasterTableRows* table = nullptr) const;

private:
    explicit RasterWorkspace(std::string path) : path_(std::move(path)) {}
    std::string path_;
};

}  // namespace korvane::host
