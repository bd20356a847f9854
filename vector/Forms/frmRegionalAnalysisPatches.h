#pragma once
// The patches of Analysis by Regions grouped by region and class, and the
// one pass over the source layer that reads them (frmRegionalAnalysis's
// own; not for other callers).
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/data/FeatureLayer.h"
#include "host/data/Table.h"
#include "vector/Modules/modMisc.h"
#include "vector/Modules/modSpatialStats.h"

namespace kv {

class ProgressSteps;

// The patches of one region: every patch's area (whatever its class), and
// one group per class value present, keyed by the value's place in the
// class list so that rows come out in class-list order.
struct Region {
    double area = 0;
    std::map<int32_t, PatchGroup> byClass;
};

// Reads a patch's values as the regional run measures them: area and
// perimeter as the refresh of the source computed them (else the stored
// fields, else the shape); FD as stored when the layer has it, SI and PAR as
// stored only when the class or region field carries the name (the working
// copy keeps no other field of those names); else computed.
class RegionalPatchReader {
public:
    RegionalPatchReader(const korvane::host::Fields& fields, const std::string& classField,
                        const std::string& regionField, bool raster, const AreaAndPerimeter* written);
    PatchValues read(const korvane::host::Row& f) const;
    // With the area and perimeter given.
    PatchValues read(const korvane::host::Row& f, double area, double perimeter) const;

private:
    double k_;
    const AreaAndPerimeter* written_;
    int32_t area_, perimeter_, fd_, si_, par_;
};

// Adds a patch to its region and class; a null class value belongs to no
// class but its area is the region's.
void addPatch(Region& region, ClassIndex& classes, const korvane::host::Value& classValue, const PatchValues& p);

// Every patch of the layer, grouped by the equality that the region where
// clauses use (text as stored, numbers through their value; nulls in no
// region) and, within a region, by class value as a keyed collection
// compares them. Classes are listed in first-seen order over every feature,
// as GetClassList lists them.
struct RegionalPatches {
    bool landscape = false;
    ClassIndex classes;
    Region all;                                             // landscape mode
    std::unordered_map<std::string, Region> byText;         // a text region field
    std::unordered_map<double, Region> byNumber;            // any other
    bool textRegions = false;

    const Region* find(const korvane::host::Value& regionValue) const;
};

// Groups the features one at a time, in object-id order, into a
// RegionalPatches.
class RegionalGrouping {
public:
    // regionField empty: landscape mode (every patch in one region).
    RegionalGrouping(const korvane::host::Fields& fields, const std::string& classField,
                     const std::string& regionField, bool raster, const AreaAndPerimeter* written);
    void add(const korvane::host::Row& f) { add(f, nullptr); }
    // With the area and perimeter given.
    void add(const korvane::host::Row& f, double area, double perimeter) {
        const double given[2] = {area, perimeter};
        add(f, given);
    }
    std::unique_ptr<RegionalPatches> take() { return std::move(g_); }

private:
    void add(const korvane::host::Row& f, const double* given);
    std::unique_ptr<RegionalPatches> g_;
    int32_t classAt_, regionAt_;
    bool dateRegions_;
    RegionalPatchReader reader_;
};

// What one pass over the source layer gives a Run before anything is put in
// place: the region and class lists (first-seen order, as GetClassList gives
// them), the features that a null region or class value leaves out, the
// patches grouped by region and class with the areas and perimeters just
// measured, and the source with its new Area and Perimeter fields in an edit
// session that the run commits once its checks are passed (or drops).
struct RegionalPass {
    std::vector<korvane::host::Value> regions, classes;
    int64_t nullRegions = 0, nullClasses = 0;
    int64_t rows = 0;
    std::unique_ptr<RegionalPatches> grouped;
    std::unique_ptr<korvane::host::EditSession> refresh;
};

// The pass, made while reading the source's files once
// (Table::rewriteFields): the shapes measured, the fields the run needs
// read, the Area and Perimeter fields added (or refilled) and filled.
// Nothing, with the source as it was, where it cannot be made so (no
// polygon layer, a missing field, Area or Perimeter other than as the last
// two fields as the refresh makes them, read-only files, a feature without a
// polygon, deleted records, a value the field cannot hold): the run then
// takes its stages one by one and meets what stopped the pass where they
// meet it. classField empty: landscape level.
std::optional<RegionalPass> ReadRegionalLayer(korvane::host::FeatureClass& source, const std::string& classField,
                                              const std::string& regionField);

// One pass over every feature of the source, selected or not.
std::unique_ptr<RegionalPatches> GroupPatches(korvane::host::FeatureClass& source, const std::string& classField,
                                              const std::string& regionField, bool raster,
                                              const AreaAndPerimeter* written, ProgressSteps& progress);

}  // namespace kv
