#include "host/data/OutputTable.h"

#include <filesystem>

#include "host/data/Table.h"
#include "host/data/TableImpl.h"

namespace korvane::host {

namespace stdfs = std::filesystem;

std::string foreignOutputTable(const std::string& dbfPath, const Table* table,
                               const std::vector<std::string>& leadingFields) {
    const stdfs::path dbf(dbfPath);
    const std::string name = data::lower(dbf.filename().string());
    if (name.ends_with(".vat.dbf"))
        return dbfPath + " is the value table of a raster, not a statistics table.  Choose another output table.";
    std::error_code ec;
    for (const char* ext : {".shp", ".SHP"}) {
        stdfs::path shp = dbf;
        shp.replace_extension(ext);
        if (stdfs::exists(shp, ec))
            return dbfPath + " is the attribute table of the shapefile " + shp.string() +
                   ", not a statistics table.  Choose another output table.";
    }
    if (table)
        for (const std::string& field : leadingFields)
            if (table->findField(field) < 0)
                return dbfPath + " is not a statistics table: it has no field " + field +
                       ".  Choose another output table.";
    return {};
}

namespace data {

// For OutputLock: a table this process still has open from before the lock
// (its own last run, say) shows the files as they were then; once the lock
// is taken the table is read anew.
void closeCachedTable(const std::string& path) {
    stdfs::path p(path);
    std::string ext = data::lower(p.extension().string());
    if (ext != ".dbf" && ext != ".shp") return;
    p.replace_extension();
    if (TablePtr t = cachedTable(canonical(p.string()))) t->close();
}

}  // namespace data

}  // namespace korvane::host
