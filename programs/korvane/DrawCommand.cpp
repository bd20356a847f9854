#include "programs/korvane/DrawCommand.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <optional>

#include <fmt/format.h>

#include "host/Document.h"
#include "host/Failure.h"
#include "host/Ui.h"
#include "host/data/MapView.h"
#include "programs/korvane/Commands.h"

namespace korvane::app {

namespace h = korvane::host;
namespace sfs = std::filesystem;

namespace {

std::string shown(const std::string& s) { return h::escapeControls(s); }

// A whole number of 1 to 9 digits, the whole text.
std::optional<int64_t> wholeNumber(const std::string& s) {
    if (s.empty() || s.size() > 9 || !std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); }))
        return std::nullopt;
    return std::stoll(s);
}

// "xmin,ymin,xmax,ymax": four finite numbers, or nothing.
std::optional<h::Envelope> extentNumbers(const std::string& s) {
    h::Envelope e;
    double* parts[] = {&e.xmin, &e.ymin, &e.xmax, &e.ymax};
    size_t at = 0;
    for (int k = 0; k < 4; ++k) {
        size_t end = k < 3 ? s.find(',', at) : s.size();
        if (end == std::string::npos) return std::nullopt;
        std::string part = s.substr(at, end - at);
        part.erase(0, part.find_first_not_of(' '));
        part.erase(part.find_last_not_of(' ') + 1);
        const char* b = part.data();
        auto [p, ec] = std::from_chars(b, b + part.size(), *parts[k]);
        if (part.empty() || ec != std::errc() || p != b + part.size() || !std::isfinite(*parts[k])) return std::nullopt;
        at = end + 1;
    }
    e.empty = false;
    return e;
}

}  // namespace

CLI::App* addDrawCommand(CLI::App& cli, DrawOptions& opt) {
    auto* draw = cli.add_subcommand("draw", "Draw the map's visible layers into a PNG picture");
    draw->add_option("out", opt.out, "The picture file (.png)")->required();
    draw->add_option("--size", opt.size, "The picture's size in pixels, WxH (default: 1200 wide, the map's aspect)");
    draw->add_option("--extent", opt.extent,
                     "What to show: a layer (name, #N or path) or xmin,ymin,xmax,ymax (default: the full extent)");
    return draw;
}

int runDrawCommand(Session& session, const DrawOptions& opt) {
    const h::Document& doc = *session.app().document();
    h::ViewRequest request;
    if (!opt.size.empty()) {
        size_t x = opt.size.find_first_of("xX");
        std::optional<int64_t> w = x == std::string::npos ? std::nullopt : wholeNumber(opt.size.substr(0, x));
        std::optional<int64_t> hgt = x == std::string::npos ? std::nullopt : wholeNumber(opt.size.substr(x + 1));
        if (!w || !hgt || *w < 1 || *hgt < 1 || *w > h::kMaxPictureSide || *hgt > h::kMaxPictureSide ||
            *w * *hgt > h::kMaxPicturePixels) {
            std::cerr << fmt::format("korvane: --size {}: give the picture's width and height in pixels as WxH, "
                                     "such as 1600x1200 (1 to {} a side, at most {} pixels in all)\n",
                                     shown(opt.size), h::kMaxPictureSide, h::kMaxPicturePixels);
            return ExitCommandLine;
        }
        request.width = *w;
        request.height = *hgt;
    }
    if (!opt.extent.empty()) {
        if (auto e = extentNumbers(opt.extent)) {
            if (!(e->xmin < e->xmax) || !(e->ymin < e->ymax)) {
                std::cerr << fmt::format("korvane: --extent {}: xmin must be below xmax and ymin below ymax\n",
                                         shown(opt.extent));
                return ExitCommandLine;
            }
            request.extent = *e;
        } else {
            LayerLookup found = findLayer(doc, opt.extent);
            if (!found.layer) {
                std::cerr << "korvane: --extent: " << found.problem
                          << " (give a layer of the map or xmin,ymin,xmax,ymax)\n";
                return ExitBadInput;
            }
            request.extent = h::layerExtent(*found.layer);
            if (!request.extent) {
                std::cerr << fmt::format("korvane: --extent: the layer {} has no data to take an extent from\n",
                                         shown(found.layer->name()));
                return ExitBadInput;
            }
        }
    }
    std::string ext = sfs::path(opt.out).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ext != ".png") {
        std::cerr << fmt::format("korvane: {}: the picture is written as PNG; name it .png\n", shown(opt.out));
        return ExitBadInput;
    }
    std::error_code ec;
    sfs::path folder = sfs::path(opt.out).parent_path();
    if (folder.empty()) folder = ".";
    if (!sfs::is_directory(folder, ec)) {
        std::cerr << fmt::format("korvane: cannot write {}: there is no folder {}\n", shown(opt.out),
                                 shown(folder.string()));
        return ExitBadInput;
    }
    if (sfs::is_directory(opt.out, ec)) {
        std::cerr << fmt::format("korvane: cannot write {}: it is a folder\n", shown(opt.out));
        return ExitBadInput;
    }
    h::Picture picture = h::drawMap(*doc.focusMap(), request);
    h::writePng(picture, opt.out);
    const h::Envelope& e = picture.extent;
    std::cout << fmt::format("{}: {}x{} pixels, extent {},{},{},{}\n", shown(opt.out), picture.width, picture.height,
                             e.xmin, e.ymin, e.xmax, e.ymax);
    return ExitOk;
}

}  // namespace korvane::app
