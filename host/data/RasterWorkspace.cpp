#include "host/data/RasterWorkspace.h"

#include <gdal_priv.h>
#include <gdal_utils.h>
#include <unistd.h>

#include <fmt/format.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "host/Failure.h"
#include "host/FileReplace.h"
#include "host/Progress.h"
#include "host/System.h"
#include "host/data/GdalSupport.h"
#include "host/data/RasterImpl.h"
#include "host/data/TableImpl.h"

namespace korvane::host {

namespace stdfs = std::filesystem;

namespace {

constexpr const char* kSource = "RasterWorkspace";

// GDAL's block cache while it copies a whole raster (see gdal::BlockCacheLimit).
constexpr int64_t kCopyCacheBytes = int64_t{48} << 20;

// The sidecars a raster file may have beside it, by suffix.
constexpr const char* kSidecars[] = {".aux.xml", ".vat.dbf", ".vat.cpg", ".aux", ".ovr"};

void checkName(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
        fail(err::HostInvalidArg, kSource, "Not a valid raster name: \"" + name + "\".");
}


}  // namespace

namespace data {

namespace {

// Sets band 1's GDAL table inside an IMAGINE file.
void setImagineTable(const std::string& file, GDALDefaultRasterAttributeTable&& rat) {
    gdal::NoAuxiliaryFile noAux;  // the host writes its own (see writeDatasetFiles)
    gdal::ErrorTrap trap;
    auto* ds = static_cast<GDALDataset*>(GDALOpen(file.c_str(), GA_Update));
    bool ok = ds != nullptr;
    if (ds) {
        ok = ds->GetRasterBand(1)->SetDefaultRAT(&rat) == CE_None;
        ds->FlushCache();
        GDALClose(ds);
    }
    if (!ok || trap.failed()) fail(err::HostGeneric, kSource, gdal::describe("Cannot write the table of " + file, trap));
}

// The table of a dataset written from rows held in memory: the sidecar and
// the GDAL copy, each written once.
void writeTableFiles(const RasterTableRows& rows, RasterFormat format, const DatasetFiles& out,
                     std::vector<std::string>& written) {
    std::string dbfBase = out.dbf.substr(0, out.dbf.size() - 4);
    written.push_back(out.dbf);
    written.push_back(dbfBase + ".cpg");
    writeDbfRows(out.dbf, rows);
    std::error_code ec;
    if (stdfs::exists(dbfBase + ".cpg", ec) && dbfBase + ".cpg" != out.cpg) {
        stdfs::rename(dbfBase + ".cpg", out.cpg, ec);
        if (ec) fail(err::PathNotFound, kSource, "Cannot write " + out.cpg + ": " + ec.message());
        written.push_back(out.cpg);
    }
    if (format == RasterFormat::Imagine) {
        setImagineTable(out.data, toGdalTable(rows));
    } else {
        written.push_back(out.aux);
        writeGdalTableXml(out.aux, rows);
    }
}

}  // namespace

void writeDatasetFiles(const RasterDataset& src, RasterFormat format, const DatasetFiles& out,
                       const RasterTableRows* rows) {
    RasterDataset::Impl& m = RasterAccess::impl(src);
    GDALDataset& in = m.handle();
    std::vector<std::string> written;
    auto cleanup = [&] {
        std::error_code ec;
        for (const std::string& f : written) stdfs::remove(f, ec);
    };
    try {
        {
            gdal::NoAuxiliaryFile noAux;
            gdal::ErrorTrap trap;
            std::vector<std::string> args = {"-b", "1", "-of", format == RasterFormat::Imagine ? "HFA" : "GTiff"};
            if (format != RasterFormat::Imagine) {
                // Tiles are compressed on every core: each alone, written in
                // order, so the file is the same as from one.
                for (const char* co : {"COMPRESS=DEFLATE", "TILED=YES", "BIGTIFF=IF_SAFER", "NUM_THREADS=ALL_CPUS"}) {
                    args.push_back("-co");
                    args.push_back(co);
                }
            }
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            GDALTranslateOptions* opts = GDALTranslateOptionsNew(argv.data(), nullptr);
            if (opts) GDALTranslateOptionsSetProgress(opts, gdalProgress, nullptr);
            int usageError = 0;
            written.push_back(out.data);
            bool ok = false;
            {
                // Neither the source's blocks nor the copy's are read again:
                // the cache need only hold the swaths in flight.
                gdal::BlockCacheLimit limit(kCopyCacheBytes);
                GDALDatasetH h = GDALTranslate(out.data.c_str(), GDALDataset::ToHandle(&in), opts, &usageError);
                GDALTranslateOptionsFree(opts);
                ok = h != nullptr && !trap.failed();
                if (h) {
                    GDALFlushCache(h);
                    GDALClose(h);
                }
                if (in.GetAccess() == GA_ReadOnly) in.GetRasterBand(1)->FlushCache(false);
            }
            if (!ok || trap.failed()) fail(err::HostGeneric, kSource, gdal::describe("Cannot write " + out.data, trap));
        }
        if (rows) {
            writeTableFiles(*rows, format, out, written);
            return;
        }
        TablePtr table = const_cast<RasterDataset&>(src).attributeTable();
        if (table) {
            std::string dbfBase = out.dbf.substr(0, out.dbf.size() - 4);
            written.push_back(out.dbf);
            written.push_back(dbfBase + ".cpg");
            copyTableTo(*table, out.dbf);
            std::error_code ec;
            if (stdfs::exists(dbfBase + ".cpg", ec) && dbfBase + ".cpg" != out.cpg) {
                stdfs::rename(dbfBase + ".cpg", out.cpg, ec);
                if (ec) fail(err::PathNotFound, kSource, "Cannot write " + out.cpg + ": " + ec.message());
                written.push_back(out.cpg);
            }
            forgetDataset(out.dbf);
            if (format == RasterFormat::Imagine) {
                setImagineTable(out.data, toGdalTable(*table));
            } else {
                written.push_back(out.aux);
                writeNewFile(out.aux, gdalTableXml(*table, ""));
            }
        }
    } catch (...) {
        cleanup();
        throw;
    }
}

DatasetFiles filesFor(const std::string& dataFile) {
    return {dataFile, dataFile + ".vat.dbf", dataFile + ".vat.cpg", dataFile + ".aux.xml"};
}

}  // namespace data

std::optional<RasterFormat> rasterFormatForName(const std::string& name) {
    size_t dot = name.find('.');
    if (dot == std::string::npos) return RasterFormat::Grid;
    std::string ext = name.substr(dot + 1);
    if (ext == "tif") return RasterFormat::Tiff;
    if (ext == "img") return RasterFormat::Imagine;
    return std::nullopt;
}

bool RasterWorkspace::isWorkspace(const std::string& folder) {
    std::error_code ec;
    return !folder.empty() && stdfs::is_directory(folder, ec) && !RasterDataset::isRasterPath(folder);
}

RasterWorkspace RasterWorkspace::open(const std::string& folder) {
    gdal::init();
    std::error_code ec;
    if (folder.empty() || !stdfs::is_directory(folder, ec))
        fail(err::HostFileNotFound, kSource, "The folder does not exist: " + folder);
    return RasterWorkspace(data::canonical(folder));
}

RasterWorkspace RasterWorkspace::create(const std::string& parent, const std::string& name) {
    checkName(name);
    std::error_code ec;
    if (parent.empty() || !stdfs::is_directory(parent, ec))
        fail(err::PathNotFound, kSource, "The folder does not exist: " + parent);
    stdfs::path p = stdfs::path(parent) / name;
    if (!stdfs::is_directory(p, ec)) {
        if (fs::IsReadOnly(parent)) fail(err::PathNotFound, kSource, "Cannot create a folder in " + parent + ": it is read-only.");
        stdfs::create_directory(p, ec);
        if (ec) fail(err::PathNotFound, kSource, "Cannot create the folder " + p.string() + ": " + ec.message());
    }
    return open(p.string());
}

std::string RasterWorkspace::datasetPath(const std::string& name) const { return (stdfs::path(path_) / name).string(); }

bool RasterWorkspace::exists(const std::string& name) const {
    std::error_code ec;
    return stdfs::exists(datasetPath(name), ec);
}

std::vector<std::string> RasterWorkspace::datasetNames() const {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e : stdfs::directory_iterator(path_, ec)) {
        std::string n = e.path().filename().string();
        if (n.find(".kvtmp-") != std::string::npos) continue;
        if (e.is_directory(ec) ? RasterDataset::isRasterPath(e.path().string())
                               : (data::lowerExt(n) == ".tif" || data::lowerExt(n) == ".img"))
            names.insert(n);
    }
    return {names.begin(), names.end()};
}

RasterDatasetPtr RasterWorkspace::openRasterDataset(const std::string& name) const {
    checkName(name);
    return RasterDataset::open(datasetPath(name));
}

bool RasterWorkspace::canDelete(const std::string& name) const {
    if (name.empty() || !exists(name)) return false;
    if (fs::IsReadOnly(path_)) return false;
    std::error_code ec;
    std::string p = datasetPath(name);
    if (stdfs::is_directory(p, ec)) {
        // An immutable file cannot be removed, not even by root: access()
        // says so where the mode bits do not.
        auto fixed = [](const std::string& f) { return fs::IsReadOnly(f) || ::access(f.c_str(), W_OK) != 0; };
        if (fixed(p)) return false;
        for (const auto& e : stdfs::recursive_directory_iterator(p, ec))
            if (fixed(e.path().string())) return false;
        return true;
    }
    for (const char* s : {"", ".aux.xml", ".vat.dbf", ".vat.cpg", ".aux", ".ovr"})
        if (stdfs::exists(p + s, ec) && fs::IsReadOnly(p + s)) return false;
    return true;
}

void RasterWorkspace::deleteDataset(const std::string& name) const {
    checkName(name);
    if (!exists(name)) fail(err::HostFileNotFound, kSource, "There is no raster " + name + " in " + path_ + ".");
    if (!canDelete(name)) fail(err::HostAccessDenied, kSource, "Cannot delete " + name + ": it is read-only.");
    std::string p = datasetPath(name);
    data::forgetRaster(p);
    std::error_code ec;
    if (stdfs::is_directory(p, ec)) {
        for (const auto& e : stdfs::recursive_directory_iterator(p, ec))
            if (data::lowerExt(e.path().string()) == ".dbf") {
                std::string dbf = e.path().string();
                if (TablePtr t = data::cachedTable(data::canonical(dbf.substr(0, dbf.size() - 4)))) t->close();
                data::forgetDataset(dbf);
            }
        stdfs::remove_all(p, ec);
        if (ec) fail(err::HostAccessDenied, kSource, "Cannot delete " + p + ": " + ec.message());
        return;
    }
    data::removeDbf(p + ".vat.dbf");
    for (const char* s : {"", ".aux.xml", ".vat.cpg", ".aux", ".ovr"}) {
        stdfs::remove(p + s, ec);
        if (ec) fail(err::HostAccessDenied, kSource, "Cannot delete " + p + s + ": " + ec.message());
    }
}

RasterDatasetPtr RasterWorkspace::copy(const RasterDataset& source, const std::string& name) const {
    checkName(name);
    if (exists(name)) fail(err::HostGeneric, kSource, "A raster named " + name + " already exists in " + path_ + ".");
    std::optional<RasterFormat> want = rasterFormatForName(name);
    bool folder = source.format() == RasterFormat::Grid || source.format() == RasterFormat::ArcInfoGrid;
    if (folder != (want == RasterFormat::Grid) ||
        (!folder && data::lowerExt(name) != data::lowerExt(source.name())))
        fail(err::HostInvalidArg, kSource, "A copy of " + source.name() + " keeps its format: " + name + " does not.");
    if (auto t = const_cast<RasterDataset&>(source).attributeTable()) t->flush();
    std::string target = datasetPath(name);
    std::error_code ec;
    std::vector<std::string> made;
    auto undo = [&] {
        std::error_code ignore;
        for (const std::string& f : made) stdfs::remove_all(f, ignore);
    };
    if (folder) {
        made.push_back(target);
        stdfs::copy(source.path(), target, stdfs::copy_options::recursive, ec);
        if (!ec && source.format() == RasterFormat::Grid) {
            // The files inside a GRID carry its name.
            for (const auto& e : std::vector<stdfs::directory_entry>(stdfs::directory_iterator(target), {})) {
                std::string fn = e.path().filename().string();
                if (fn.rfind(source.name() + ".", 0) == 0)
                    stdfs::rename(e.path(), e.path().parent_path() / (name + fn.substr(source.name().size())), ec);
                if (ec) break;
            }
        }
    } else {
        for (const std::string& f : source.files()) {
            std::string to = target + f.substr(source.dataPath().size());
            made.push_back(to);
            stdfs::copy_file(f, to, ec);
            if (ec) break;
        }
    }
    if (ec) {
        undo();
        fail(err::HostGeneric, kSource, "Cannot copy " + source.path() + ": " + ec.message());
    }
    return openRasterDataset(name);
}

RasterDatasetPtr RasterWorkspace::saveAs(const RasterDataset& source, const std::string& name, RasterFormat format) const {
    checkName(name);
    if (exists(name)) fail(err::HostGeneric, kSource, "A raster named " + name + " already exists in " + path_ + ".");
    if (fs::IsReadOnly(path_)) fail(err::HostAccessDenied, kSource, "Cannot write in " + path_ + ": it is read-only.");
    std::string target = datasetPath(name);
    if (format == RasterFormat::Grid || format == RasterFormat::ArcInfoGrid) {
        std::error_code ec;
        stdfs::create_directory(target, ec);
        if (ec) fail(err::PathNotFound, kSource, "Cannot create the folder " + target + ": " + ec.message());
        try {
            data::writeDatasetFiles(source, RasterFormat::Tiff, data::filesFor(target + "/" + name + ".tif"));
        } catch (...) {
            stdfs::remove_all(target, ec);
            throw;
        }
    } else {
        data::writeDatasetFiles(source, format, data::filesFor(target));
    }
    return openRasterDataset(name);
}

namespace {

// Closes what this process holds open of the dataset at path (the raster,
// its table), before its files are renamed over or removed.
void release(const std::string& path) {
    data::forgetRaster(path);
    for (const std::string& dbf : {path + ".vat.dbf"}) {
        if (TablePtr t = data::cachedTable(data::canonical(dbf.substr(0, dbf.size() - 4)))) t->close();
        data::forgetDataset(dbf);
    }
}

void releaseFolder(const std::string& folder) {
    data::forgetRaster(folder);
    std::error_code ec;
    for (const auto& e : stdfs::directory_iterator(folder, ec))
        if (data::lowerExt(e.path().string()) != ".dbf") release(e.path().string());
        else release(e.path().string().substr(0, e.path().string().size() - 8));
}

}  // namespace

RasterDatasetPtr RasterWorkspace::saveReplacing(const RasterDataset& source, const std::string& name,
                                                RasterFormat format, const RasterTableRows* table) const {
    checkName(name);
    if (fs::IsReadOnly(path_)) fail(err::HostAccessDenied, kSource, "Cannot write in " + path_ + ": it is read-only.");
    std::string target = datasetPath(name);
    std::error_code ec;
    bool grid = format == RasterFormat::Grid || format == RasterFormat::ArcInfoGrid;
    if (grid && stdfs::exists(target, ec) && !stdfs::is_directory(target, ec))
        fail(err::HostGeneric, kSource, "A file named " + name + " stands where the GRID would go in " + path_ + ".");
    if (!grid && stdfs::is_directory(target, ec))
        fail(err::HostGeneric, kSource, "A folder named " + name + " stands where the raster would go in " + path_ + ".");
    if (!grid) {
        std::vector<stdfs::path> targets = {target, target + ".vat.cpg", target + ".aux.xml", target + ".vat.dbf"};
        FileReplacement r(targets);
        r.checkDatasets();
        data::DatasetFiles files{r.temporary(0).string(), r.temporary(3).string(), r.temporary(1).string(),
                                 r.temporary(2).string()};
        data::writeDatasetFiles(source, format, files, table);
        for (const stdfs::path& t : targets)
            if (stdfs::exists(t, ec) && fs::IsReadOnly(t.string()))
                fail(err::HostAccessDenied, kSource, "Cannot replace " + t.string() + ": it is read-only.");
        std::vector<stdfs::path> kept = r.leaveOutUnwritten();
        release(target);
        // The files renamed over are one dataset: should a later rename fail,
        // the ones already renamed are put back from links kept to the old files.
        std::vector<std::pair<stdfs::path, stdfs::path>> backups;
        auto dropBackups = [&] {
            std::error_code ignore;
            for (auto& [t, b] : backups) stdfs::remove(b, ignore);
        };
        for (const stdfs::path& t : kept) {
            if (!stdfs::is_regular_file(t, ec)) continue;
            stdfs::path b = temporaryNameFor(t);
            stdfs::create_hard_link(t, b, ec);
            if (ec) {
                dropBackups();
                fail(err::PathNotFound, kSource, "Cannot replace " + t.string() + ": " + ec.message());
            }
            backups.emplace_back(t, b);
        }
        try {
            r.commit();
        } catch (...) {
            std::error_code ignore;
            // (A target not yet replaced is the same file as its link: renaming
            // does nothing there, and the link is removed.)
            for (auto& [t, b] : backups) {
                stdfs::rename(b, t, ignore);
                stdfs::remove(b, ignore);
            }
            // A target that had no old file and exists now came in with this commit.
            for (const stdfs::path& t : kept)
                if (std::none_of(backups.begin(), backups.end(), [&](auto& p) { return p.first == t; }))
                    stdfs::remove(t, ignore);
            throw;
        }
        dropBackups();
        data::copyDatasetTypes(files.dbf, target + ".vat.dbf");
        data::forgetDataset(files.dbf);
        // The old dataset's sidecars that the new one does not have.
        for (const char* suffix : kSidecars) {
            stdfs::path side = target + suffix;
            if (std::find(kept.begin(), kept.end(), side) == kept.end()) stdfs::remove(side, ec);
        }
        return table ? RasterAccess::open(datasetPath(name), true) : openRasterDataset(name);
    }
    // A GRID: the new folder is written whole beside the old one, then swapped
    // in. An old one that cannot be removed is refused before anything is written.
    const bool had = stdfs::exists(target, ec);
    if (had && !canDelete(name)) {
        noteFailedWrite(target);
        fail(err::HostAccessDenied, kSource, "Cannot replace " + target + ": it is read-only.");
    }
    stdfs::path fresh = temporaryNameFor(target);
    stdfs::create_directory(fresh, ec);
    if (ec) fail(err::PathNotFound, kSource, "Cannot create the folder " + fresh.string() + ": " + ec.message());
    auto dropFresh = [&] {
        std::error_code ignore;
        stdfs::remove_all(fresh, ignore);
    };
    try {
        data::writeDatasetFiles(source, RasterFormat::Tiff, data::filesFor((fresh / (name + ".tif")).string()), table);
    } catch (...) {
        dropFresh();
        throw;
    }
    data::forgetDataset((fresh / (name + ".tif.vat.dbf")).string());
    stdfs::path old = temporaryNameFor(target);
    if (had) {
        releaseFolder(target);
        stdfs::rename(target, old, ec);
        if (ec) {
            dropFresh();
            fail(err::PathNotFound, kSource, "Cannot replace " + target + ": " + ec.message());
        }
    }
    stdfs::rename(fresh, target, ec);
    if (ec) {
        std::error_code ignore;
        if (had) stdfs::rename(old, target, ignore);
        dropFresh();
        fail(err::PathNotFound, kSource, "Cannot replace " + target + ": " + ec.message());
    }
    if (had) stdfs::remove_all(old, ec);
    return table ? RasterAccess::open(datasetPath(name), true) : openRasterDataset(name);
}

}  // namespace korvane::host
