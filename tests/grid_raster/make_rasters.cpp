// For the korvane test of rasters: writes ages.tif, ages.img and the GRID
// ages from a source grid through MakePermanentRaster, and two small rasters
// (float.tif, int.tif), into a folder.
#include <cstdio>

#include "RasterFixtures.h"
#include "host/data/RasterLayer.h"
#include "raster/Modules/modMisc.h"
#include "tests/vector_frame/TestUi.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_rasters SOURCE.tif FOLDER\n");
        return 2;
    }
    TestUi ui;
    auto src = korvane::host::openRasterLayer(argv[1])->raster();
    for (const char* name : {"ages.tif", "ages.img", "ages"})
        if (!kv::MakePermanentRaster(src, argv[2], name)) return 1;
    korvane::test::GridSpec f;
    f.columns = 4;
    f.rows = 3;
    f.type = GDT_Float32;
    f.cells = {0.5, 1.5, 2.5};
    korvane::test::writeGrid(std::string(argv[2]) + "/float.tif", f);
    korvane::test::GridSpec i;
    i.cells = {1, 1, 2};
    korvane::test::writeGrid(std::string(argv[2]) + "/int.tif", i);
    return 0;
}
