// kv_landgen: writes the bundled sample landscape and large grid landscapes.
//
//   kv_landgen sample FOLDER [--seed S]
//   kv_landgen grid FOLDER NAME --patches N --classes K [--seed S] [--cell-size M] [--jitter F] [--force]
//   kv_landgen raster FOLDER NAME --side N --classes K [--seed S] [--cell-size M]

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "landgen.h"

namespace lg = korvane::landgen;

namespace {

void printSample(const std::string& folder, std::uint64_t seed, const lg::SampleSummary& s) {
  fmt::print("sample written to {} (seed {})\n", folder, seed);
  fmt::print("  extent {:.0f} {:.0f} {:.0f} {:.0f} (EPSG:{})\n", s.minX, s.minY, s.maxX, s.maxY, lg::kEpsg);
  fmt::print("  landscape.shp: {} patches, {} with holes\n", s.patches, s.patchesWithHoles);
  for (const auto& c : s.classes)
    fmt::print("    {:>3} {:<13} {:>4} patches {:>14.2f} m²\n", c.code, c.name, c.patches, c.area);
  fmt::print("  cores.shp: {} rows from {} patches with a core ({:.0f} m edge)\n", s.coreRows, s.patchesWithCore,
             lg::kSampleEdgeDepth);
  fmt::print("  regions.shp: {} regions\n", s.regions);
  fmt::print("  landscape.tif: {} x {} cells of {:.0f} m\n", s.rasterColumns, s.rasterRows, s.cellSize);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Korvane landscape generator: sample data and large synthetic landscapes"};
  app.require_subcommand(1);

  std::string sampleFolder;
  std::uint64_t sampleSeed = lg::kDefaultSampleSeed;
  CLI::App* sample = app.add_subcommand("sample", "write the sample landscape into FOLDER");
  sample->add_option("folder", sampleFolder, "output folder")->required();
  sample->add_option("--seed", sampleSeed, "random seed")->capture_default_str();

  std::string gridFolder, gridName;
  lg::GridOptions grid;
  CLI::App* gridCmd = app.add_subcommand("grid", "write a grid landscape FOLDER/NAME.shp");
  gridCmd->add_option("folder", gridFolder, "output folder")->required();
  gridCmd->add_option("name", gridName, "file name without .shp")->required();
  gridCmd->add_option("--patches", grid.patches, "number of polygons")->required();
  gridCmd->add_option("--classes", grid.classes, "number of classes")->required();
  gridCmd->add_option("--seed", grid.seed, "random seed")->capture_default_str();
  gridCmd->add_option("--cell-size", grid.cellSize, "polygon size, m")->capture_default_str();
  gridCmd->add_option("--jitter", grid.jitter, "vertex displacement as a fraction of the cell size (0..0.25)")
      ->capture_default_str();
  gridCmd->add_flag("--force", grid.force, "regenerate even if a matching file exists");

  std::string rasterFolder, rasterName;
  std::int64_t rasterSide = 0;
  int rasterClasses = 0;
  std::uint64_t rasterSeed = 1;
  double rasterCell = 30;
  CLI::App* rasterCmd = app.add_subcommand("raster", "write a clustered class raster FOLDER/NAME.tif");
  rasterCmd->add_option("folder", rasterFolder, "output folder")->required();
  rasterCmd->add_option("name", rasterName, "file name without .tif")->required();
  rasterCmd->add_option("--side", rasterSide, "rows and columns")->required();
  rasterCmd->add_option("--classes", rasterClasses, "number of classes")->required();
  rasterCmd->add_option("--seed", rasterSeed, "random seed")->capture_default_str();
  rasterCmd->add_option("--cell-size", rasterCell, "cell size, m")->capture_default_str();

  CLI11_PARSE(app, argc, argv);

  try {
    if (*sample) {
      const lg::SampleSummary s = lg::generateSample(sampleFolder, lg::SampleOptions{sampleSeed});
      printSample(sampleFolder, sampleSeed, s);
    } else if (*rasterCmd) {
      fmt::print("{}\n", lg::generateClusteredRaster(rasterFolder, rasterName, rasterSide, rasterClasses, rasterSeed,
                                                     rasterCell)
                             .string());
    } else {
      const auto start = std::chrono::steady_clock::now();
      const lg::GridResult r = lg::generateGrid(gridFolder, gridName, grid);
      const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      fmt::print("{} {}: {} polygons ({} x {}), {} classes, {:.2f} s\n", r.reused ? "kept" : "wrote",
                 r.shapefile.string(), grid.patches, r.columns, r.rows, grid.classes, secs);
    }
  } catch (const std::exception& e) {
    fmt::print(stderr, "kv_landgen: {}\n", e.what());
    return 1;
  }
  return 0;
}
