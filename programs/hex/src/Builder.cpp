#include "hex/Builder.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>

#include <cpl_error.h>
#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>

#include "hex/ShapeWriter.h"

namespace hex {

namespace sfs = std::filesystem;

namespace {

constexpr double kSquareMetresPerHectare = 10000.0;
// Beyond this many "_Z" only the uniform readings are tried.
constexpr size_t kMaxMixedMarks = 8;

std::string trimmed(const std::string& s) {
    const char* blanks = " \t";
    auto b = s.find_first_not_of(blanks);
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(blanks) - b + 1);
}

// A quoted argument as some shells leave it.
std::string unquoted(const std::string& s) {
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
    return s;
}

bool isFile(const std::string& path) {
    std::error_code ec;
    return sfs::is_regular_file(path, ec);
}

struct Input {
    Extent extent{0, 0, 0, 0};
    bool empty = true;
    double metresPerUnit = 1.0;
};

// Opens the shapefile and reads its extent and linear units.
bool readInput(const std::string& path, Input* in) {
    GDALAllRegister();
    const char* drivers[] = {"ESRI Shapefile", nullptr};
    GDALDatasetH ds = GDALOpenEx(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, drivers, nullptr, nullptr);
    if (!ds) return false;
    bool ok = false;
    if (OGRLayerH layer = GDALDatasetGetLayerCount(ds) > 0 ? GDALDatasetGetLayer(ds, 0) : nullptr) {
        ok = true;
        OGREnvelope env;
        if (OGR_L_GetFeatureCount(layer, TRUE) > 0 && OGR_L_GetExtent(layer, &env, TRUE) == OGRERR_NONE) {
            in->extent = {env.MinX, env.MinY, env.MaxX, env.MaxY};
            in->empty = false;
        }
        if (OGRSpatialReferenceH srs = OGR_L_GetSpatialRef(layer); srs && OSRIsProjected(srs)) {
            double m = OSRGetLinearUnits(srs, nullptr);
            if (m > 0 && std::isfinite(m)) in->metresPerUnit = m;
        }
    }
    GDALClose(ds);
    return ok;
}

std::string withExtension(const std::string& shp, const char* ext) {
    sfs::path p(shp);
    p.replace_extension(ext);
    return p.string();
}

}  // namespace

bool parseNumber(const std::string& text, double* value) {
    std::string t = trimmed(text);
    if (t.empty()) return false;
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(t.c_str(), &end);
    if (end != t.c_str() + t.size() || errno == ERANGE || !std::isfinite(v)) return false;
    // strtod also reads "0x1p3", "inf" and "nan"; a typed number is decimal.
    if (t.find_first_of("xXnNiI") != std::string::npos) return false;
    *value = v;
    return true;
}

std::vector<std::string> inputCandidates(const std::string& argument) {
    std::vector<size_t> marks;
    for (size_t i = argument.find("_Z"); i != std::string::npos; i = argument.find("_Z", i + 2)) marks.push_back(i);
    std::vector<std::string> out;
    auto reading = [&](auto choose) {
        std::string s = argument;
        for (size_t j = 0; j < marks.size(); ++j) {
            const char* r = choose(j);
            s[marks[j]] = r[0];
            s[marks[j] + 1] = r[1];
        }
        for (const auto& o : out)
            if (o == s) return;
        out.push_back(s);
    };
    static const char* kReadings[] = {".s", ".S", "_Z"};
    for (const char* r : kReadings) reading([&](size_t) { return r; });
    if (marks.size() > 1 && marks.size() <= kMaxMixedMarks) {
        size_t combos = 1;
        for (size_t j = 0; j < marks.size(); ++j) combos *= 3;
        for (size_t n = 0; n < combos; ++n)
            reading([&](size_t j) {
                size_t v = n;
                for (size_t k = 0; k < j; ++k) v /= 3;
                return kReadings[v % 3];
            });
    }
    return out;
}

Outcome build(const std::string& inputArgument, const std::string& outputBase, double hectares, double offset) {
    try {
        std::string inputPath;
        for (const auto& c : inputCandidates(inputArgument))
            if (isFile(c)) {
                inputPath = c;
                break;
            }
        Input in;
        if (inputPath.empty() || !readInput(inputPath, &in))
            return {Code::InputNotOpened, "cannot open the input shapefile " + inputArgument};

        const double area = hectares * kSquareMetresPerHectare / (in.metresPerUnit * in.metresPerUnit);
        Code check = checkTessellation(in.extent, area, offset);
        if (check != Code::Success) {
            return {check, check == Code::TooMany ? "more than 10000000 hexagons, or an area that is not positive"
                                                  : "the hexagon is larger than the extent of the input"};
        }
        HexGrid grid(in.extent, area, offset);

        ShapeWriter writer;
        if (Code c = writer.create(outputBase); c != Code::Success)
            return {c, "cannot create the output " + outputBase + " (.shp, .shx, .dbf; none may exist yet)"};
        grid.forEach([&](int64_t c, int64_t r) { writer.add(grid.ring(c, r)); });
        if (Code c = writer.finish(); c != Code::Success) return {c, "cannot write the output " + outputBase};

        std::string prj = withExtension(inputPath, ".prj");
        if (!isFile(prj)) prj = withExtension(inputPath, ".PRJ");
        std::string note;
        if (isFile(prj)) {
            std::error_code ec;
            sfs::copy_file(prj, outputBase + ".prj", sfs::copy_options::overwrite_existing, ec);
            if (ec) note = "; the coordinate system (.prj) could not be copied";
        }
        return {Code::Success, std::to_string(writer.written()) + " hexagons of side " + std::to_string(grid.side()) +
                                   " written to " + outputBase + ".shp" + note};
    } catch (const std::bad_alloc&) {
        return {Code::OutOfMemory, "out of memory"};
    }
}

int runCommandLine(const std::vector<std::string>& args) {
    CPLSetErrorHandler(CPLQuietErrorHandler);
    const char* usage = "usage: hex INPUT.shp OUTPUT LOG AREA_HECTARES OFFSET\n"
                        "  covers the extent of INPUT.shp with regular hexagons of AREA_HECTARES hectares\n"
                        "  (OFFSET from 0 to 1) written to OUTPUT; the result code goes to LOG.\n"
                        "  --help prints this text, --version the version.\n";
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (args.size() == 1 && args[0] == "--version") {
        std::printf("hex %d.%d.%d\n", KORVANE_VERSION_MAJOR, KORVANE_VERSION_MINOR, KORVANE_VERSION_REVISION);
        return 0;
    }
    if (args.size() != 5) {
        std::fputs(usage, stderr);
        return 2;
    }
    const std::string log = unquoted(args[2]);
    Outcome result;
    double hectares = 0, offset = 0;
    if (!parseNumber(args[3], &hectares) || !parseNumber(args[4], &offset))
        result = {Code::BadArguments, "the area and the offset must be numbers"};
    else
        result = build(unquoted(args[0]), unquoted(args[1]), hectares, offset);

    std::FILE* f = std::fopen(log.c_str(), "wb");
    bool logged = f && std::fprintf(f, "%c %s\r\n", static_cast<char>(result.code), result.detail.c_str()) > 0;
    logged = f && std::fclose(f) == 0 && logged;
    if (!logged) std::fprintf(stderr, "hex: cannot write the log %s\n", log.c_str());
    if (result.code != Code::Success) std::fprintf(stderr, "hex: %s\n", result.detail.c_str());
    return result.code == Code::Success && logged ? 0 : 1;
}

}  // namespace hex
