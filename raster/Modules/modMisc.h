#pragma once
// Layer, field and permanent-raster utilities of the raster library.
#include <cstdint>
#include <string>
#include <vector>

#include "host/Forms.h"
#include "host/Layer.h"
#include "host/data/AnalysisEnvironment.h"
#include "host/data/Raster.h"
#include "host/data/RasterWorkspace.h"
#include "host/data/Table.h"

namespace korvane::host { class Application; }

namespace kv {

// True when the focused map has a layer and the layer selected in the table
// of contents is a raster layer. Reads only the document: opens no table.
bool IsRasterLayerSelected(korvane::host::Application* app);

// Refills the combo box with the layer's field names (a raster layer: its
// attribute table's), without OBJECTID, FID and Shape in any letter case.
// No layer, or a layer without fields, gives a message and leaves the box.
void PopulateFieldListBox(const korvane::host::LayerPtr& layer, korvane::host::ComboBox& combo);

// The distinct values of the table's field, in row order (numbers compared
// by value, texts by text). Failures of the read are raised to the caller.
std::vector<korvane::host::Value> DistinctFieldValues(korvane::host::Table& table, int32_t field);

// Copies the source's settings onto the target: output workspace, output
// spatial reference (when set), the two prefixes, mask (when set), cell size
// (when not 0), extent (when set), verify type. False, after the message
// "Set Spatial Analysis Settings: " and the error's description, when a step
// fails; the target is then left as it was. A missing source copies nothing
// (true).
bool SetSpatialAnalysisSettings(korvane::host::RasterAnalysisEnvironment* target,
                                const korvane::host::RasterAnalysisEnvironment* source);

// The raster workspace of the folder, created (under its parent folder) when
// the folder does not exist; nothing, without a message, after a failure.
std::optional<korvane::host::RasterWorkspace> OpenOrCreateRasterWorkspace(const std::string& path);

// Stores the raster as folder/name: no extension a GRID, "tif" a TIFF, "img"
// an IMAGINE file (the text after the first "." compared exactly). True when
// stored. False silently for an empty folder or name; false after the
// message "Make Permanent Raster: Unsupported file extension" for any other
// name, before anything is touched; false after "Make Permanent Raster:" and
// the error's description when the write or the swap fails. An existing
// dataset of that name is replaced whole (written under a temporary name,
// then swapped in, its own sidecars with it) and stays as it was on failure.
// table, when given, is the value table saved instead of the raster's own;
// saved, when given, receives the saved dataset.
bool MakePermanentRaster(const korvane::host::RasterDatasetPtr& raster, const std::string& folder,
                         const std::string& name, const korvane::host::RasterTableRows* table = nullptr,
                         korvane::host::RasterDatasetPtr* saved = nullptr);

// Whether the value table counts any cell with a value (a grid whose every
// cell is NoData has no row, or only rows of count 0).
bool HasDataCells(korvane::host::Table& valueTable, int32_t valueField);
// "<name> has no cells with a value (every cell is NoData): <what>.  Nothing
// was written."
std::string NoDataCellsMessage(const std::string& name, const std::string& what);

// The raster dataset folder/name; nothing silently for an empty folder or
// name, nothing after "Open Raster Dataset:" and the error's description.
korvane::host::RasterDatasetPtr OpenRasterDataset(const std::string& folder, const std::string& name);

}  // namespace kv
