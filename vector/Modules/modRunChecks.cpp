#include "vector/Modules/modRunChecks.h"

#include <cstdio>
#include <map>

#include <fmt/format.h>

#include "host/Ui.h"
#include "host/data/FeatureLayer.h"

namespace kv {

namespace h = korvane::host;

bool IsGeographicLayer(const h::Table& table) {
    auto fc = dynamic_cast<const h::FeatureClass*>(&table);
    return fc && fc->spatialReference() && fc->spatialReference()->geographic;
}

void WarnGeographicLayer(const std::string& layerName) {
    std::fprintf(stderr, "Warning: layer '%s' is in geographic coordinates: areas in square degrees, lengths in degrees.\n",
                 layerName.c_str());
}

std::string CutValueClash(const std::vector<h::Value>& values, int32_t bytes, const std::string& column) {
    std::map<std::string, std::vector<std::string>> byCut;
    for (const h::Value& v : values) {
        if (h::isNull(v)) continue;
        std::string text = h::toText(v);
        byCut[FitBytes(text, bytes)].push_back(text);
    }
    std::string names;
    for (const auto& [cut, full] : byCut) {
        if (full.size() < 2) continue;
        for (const std::string& f : full) names += "\r\n  \"" + f + "\"";
    }
    if (names.empty()) return {};
    return fmt::format("These values are the same in their first {} bytes, all that the {} column of the output "
                       "table holds, and their rows could not be told apart:{}\r\nShorten or recode them.  Cannot "
                       "continue.",
                       bytes, column, names);
}

void ReportNullsLeftOut(int64_t nullClasses, int64_t nullRegions) {
    if (nullClasses <= 0 && nullRegions <= 0) return;
    std::string text;
    if (nullRegions > 0) text = fmt::format("{} patches with no region value (null)", nullRegions);
    if (nullClasses > 0)
        text += (text.empty() ? "" : " and ") + fmt::format("{} patches with no class value (null)", nullClasses);
    h::MsgBox(text + " were left out of the rows.", h::mb::Information, "Patches Left Out");
}

}  // namespace kv
