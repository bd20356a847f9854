#pragma once
// What the toolbox's tools share (internal to host/toolbox): inputs by
// layer name or path, the output check, generated field names, GEOS
// ownership and polygon clean-up, and the output writer.
#include <geos_c.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/Failure.h"
#include "host/data/FeatureLayer.h"
#include "host/data/GeosSupport.h"
#include "host/data/Table.h"
#include "host/data/Workspace.h"
#include "host/toolbox/Toolbox.h"

namespace korvane::host::tools {

// Splits a ';' list; blanks around entries and enclosing single quotes go,
// empty entries are dropped.
std::vector<std::string> splitList(const std::string& text);
std::string upper(std::string s);

// An input: a feature layer of the focused map (its selection is honoured)
// or a shapefile.
struct Input {
    FeatureClassPtr fc;
    FeatureLayerPtr layer;   // when the input is a layer of the map
    std::string name;        // the dataset's name
    // The input's features: the layer's selection when it has one, else all.
    Cursor features() const;
};
// Resolves a parameter text; nothing (and the message) when it names no
// polygon feature class.
std::optional<Input> resolveInput(const std::string& label, const std::string& text, const ToolContext& ctx,
                                  std::string& message);

// Checks an output shapefile name against the inputs: "" when it may be
// written (path then holds its absolute .shp path), else the message.
std::string checkOutput(const std::string& text, const std::vector<Input>& inputs, std::string& path);

// Whether two inputs have the same coordinate system (both none counts).
bool sameCoordinateSystem(const FeatureClass& a, const FeatureClass& b);

// Field names as a shapefile holds them: at most 10 characters; a name
// already taken (in any letter case) gets "_1", "_2", ... with the stem cut
// to fit.
class FieldNamer {
public:
    std::string add(const std::string& wanted);

private:
    std::vector<std::string> used_;
};

// A GEOS geometry owned here.
struct GeosDeleter {
    void operator()(GEOSGeometry* g) const {
        if (g) GEOSGeom_destroy_r(GeosAccess::context(), g);
    }
};
using GeosPtr = std::unique_ptr<GEOSGeometry, GeosDeleter>;

// The polygons of a shape read from a feature: repaired first when invalid,
// only the polygonal parts kept; nullptr when nothing polygonal is left.
GeosPtr readPolygons(const Geometry& shape);
// Only the parts of dimension dim (0 points, 1 lines, 2 polygons) of g,
// collected as one geometry; nullptr when there are none.
GeosPtr partsOfDimension(GeosPtr g, int dim);
// The polygons of g one by one (a polygon gives itself).
std::vector<GeosPtr> polygonsOf(const GEOSGeometry* g);

// A tool whose parameters Prepare checks into a plan (or refuses with a
// message): validate() gives the refusal, execute() checks again and runs
// the plan.
template <class Plan, std::optional<Plan> (*Prepare)(const GPParameterArray&, const ToolContext&, std::string&)>
class PlannedTool : public GPTool {
public:
    std::string validate(const GPParameterArray& params, const ToolContext& ctx) const final {
        std::string message;
        Prepare(params, ctx, message);
        return message;
    }
    std::string execute(const GPParameterArray& params, const ToolContext& ctx) const final {
        std::string message;
        std::optional<Plan> p = Prepare(params, ctx, message);
        if (!p) fail(err::HostInvalidArg, displayName(), message);
        return run(*p, ctx);
    }

protected:
    // Writes the output and returns its path.
    virtual std::string run(Plan& plan, const ToolContext& ctx) const = 0;
};

// Writes the new shapefile: created under a marked temporary name when
// opened, features added one by one, and put in place under its own name by
// finish() (checked whole, through DatasetReplacement). On any failure
// before then, or a kill, no file of the output's name is there.
class OutputWriter {
public:
    OutputWriter(const std::string& shpPath, const std::vector<FieldDef>& fields, ShapeType type,
                 const std::optional<SpatialReference>& sr);
    ~OutputWriter();
    OutputWriter(const OutputWriter&) = delete;
    OutputWriter& operator=(const OutputWriter&) = delete;

    // Values in the order of the fields given; the shape is taken over.
    void add(const std::vector<Value>& values, GeosPtr shape);
    int64_t count() const { return count_; }
    void finish();

private:
    void discard();   // removes the files of an unfinished output
    std::string folder_, name_;
    std::unique_ptr<DatasetReplacement> next_;
    FeatureClassPtr fc_;
    InsertCursor cursor_;
    RowPtr buffer_;
    std::vector<int32_t> indexes_;
    int64_t count_ = 0;
    bool done_ = false;
};

}  // namespace korvane::host::tools
