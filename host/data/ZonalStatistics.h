#pragma once
// Zonal statistics as a table: the cells of a value raster summarised per
// zone, the zones being the features of a feature class rasterized on a
// field onto the value raster's own lattice (cell-centre rule, the
// environment's mask applied).
//
// The table has the zone field first, named and typed like the feature
// class's field (its text values for a text field), then Count, Area, Min,
// Max, Range, Mean, Std, Sum, Variety, Majority, Minority and Median (names
// in this letter case, which tables joined from it keep), one row per zone
// that holds at least one cell, ascending by zone value.
//   Count     cells with a value
//   Area      Count times the cell area
//   Std       the population standard deviation
//   Variety   the number of distinct values
//   Majority  the most frequent value (the smallest on a tie), Minority the
//             least frequent (likewise)
//   Median    the middle value of the sorted cells, the lower one of the two
//             middle values for an even count
// With ignoreNoData false, a zone that holds a NoData value cell gets null
// statistics (its key stays); with true those cells are passed over.
// One pass over the value raster with one accumulator per zone.
#include <string>

#include "host/data/AnalysisEnvironment.h"
#include "host/data/Raster.h"
#include "host/data/Table.h"

namespace korvane::host {

// Writes the table as a new dBASE file (which must not exist) and returns
// it open. Fails (HostInvalidArg) as featuresToRaster fails, and
// (HostGeneric) when the table cannot be written.
TablePtr zonalStatisticsAsTable(const FeatureClassPtr& zones, const std::string& zoneField,
                                const RasterDatasetPtr& values, bool ignoreNoData, const std::string& outDbfPath,
                                const RasterAnalysisEnvironment& env);

}  // namespace korvane::host
