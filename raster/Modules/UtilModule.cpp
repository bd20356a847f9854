#include "raster/Modules/UtilModule.h"

#include "host/Failure.h"
#include "host/data/RasterLayer.h"
#include "shared/ErrorHandling.h"

KV_MODULE("Modules/UtilModule");

namespace kv {

namespace h = korvane::host;

h::RasterDatasetPtr GetRasterDSfromGeoDS(const h::RasterDatasetPtr& raster) {
    h::RasterDatasetPtr result;
    KV_PROCEDURE("GetRasterDSfromGeoDS", TopLevel).run([&] {
        KV_LINE;
        if (!raster) h::failObjectNotSet();
        KV_LINE;
        if (raster->bandCount() < 1) h::fail(h::err::HostInvalidArg, "Raster", "The raster has no band.");
        result = raster;
    });
    return result;
}

h::TablePtr GetRasterTable(const h::RasterDatasetPtr& raster) {
    h::TablePtr result;
    KV_PROCEDURE("GetRasterTable", TopLevel).run([&] {
        KV_LINE;
        if (!raster) h::failObjectNotSet();
        KV_LINE;
        result = raster->attributeTable();
    });
    return result;
}

bool IsUsableIntegerGrid(const h::LayerPtr& layer) {
    bool result = false;
    KV_PROCEDURE("IsUsableIntegerGrid", TopLevel).run([&] {
        KV_LINE;
        auto rl = std::dynamic_pointer_cast<h::RasterLayer>(layer);
        if (!rl) return;
        KV_LINE;
        h::TablePtr table = GetRasterTable(rl->raster());
        if (!table) return;
        KV_LINE;
        // Exact spellings, in this order; a table with none of them is not usable.
        const h::Fields& fields = table->fields();
        int32_t index = -1;
        for (const char* name : {"value", "Value", "VALUE"}) {
            for (int32_t i = 0; i < fields.count() && index < 0; ++i)
                if (fields.field(i).name == name) index = i;
            if (index >= 0) break;
        }
        if (index < 0) return;
        KV_LINE;
        int32_t type = fields.field(index).type;
        result = type == h::FieldInteger || type == h::FieldSmallInteger;
    });
    return result;
}

}  // namespace kv
