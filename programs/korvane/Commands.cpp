#include "programs/korvane/Commands.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>

#include <fmt/format.h>

#include "host/Failure.h"
#include "host/Ui.h"
#include "host/data/FeatureLayer.h"
#include "host/data/RasterLayer.h"
#include "host/data/Table.h"

namespace korvane::app {

namespace h = korvane::host;
namespace sfs = std::filesystem;

namespace {
std::string shown(const std::string& s) { return h::escapeControls(s); }

std::string describeLayer(const h::LayerPtr& l, size_t position) {
    return fmt::format("#{} {} ({})", position + 1, shown(l->name()), l->path().empty() ? "no file" : shown(l->path()));
}

bool samePath(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    std::error_code ea, eb;
    auto pa = sfs::weakly_canonical(a, ea), pb = sfs::weakly_canonical(b, eb);
    return !ea && !eb && pa == pb;
}

// Says why a command is disabled and what would enable it.
void explainDisabled(h::ICommand& cmd, const h::Document& doc) {
    std::string needs;
    if (auto* n = dynamic_cast<h::ICommandNeeds*>(&cmd)) needs = n->Needs();
    std::cerr << fmt::format("korvane: \"{}\" is not available now (the host shows it disabled): it needs {}.\n",
                             shown(cmd.Caption()), needs.empty() ? "something the current map does not have" : needs);
    auto layers = doc.focusMap()->allLayers();
    if (layers.empty()) {
        std::cerr << "  The map has no layers: add one with `korvane add FILE`.\n";
        return;
    }
    if (needs.find("table of contents") != std::string::npos) {
        std::string list;
        for (size_t i = 0; i < layers.size(); ++i) list += (i ? ", " : "") + describeLayer(layers[i], i);
        auto sel = doc.selectedLayer();
        std::cerr << fmt::format("  {}: select one with `korvane toc LAYER` (layers on the map: {}).\n",
                                 sel ? "The selected layer is " + shown(sel->name()) : "No layer is selected", list);
    }
}
}  // namespace

bool isStopMessage(const h::MessageBoxInfo& m) {
    return m.icon() != h::mb::Question && m.icon() != h::mb::Information && m.answers().size() < 2;
}

LayerLookup findLayer(const h::Document& doc, const std::string& ref) {
    auto layers = doc.focusMap()->allLayers();
    std::vector<size_t> named;
    for (size_t i = 0; i < layers.size(); ++i)
        if (layers[i]->name() == ref) named.push_back(i);
    if (named.size() == 1) return {layers[named[0]], {}};
    if (named.size() > 1) {
        std::string list;
        for (size_t i : named) list += "\n  " + describeLayer(layers[i], i);
        return {nullptr, fmt::format("{} layers are named \"{}\"; name one by its position (#N) or its path:{}",
                                     named.size(), shown(ref), list)};
    }
    if (ref.size() > 1 && ref[0] == '#' && ref.size() < 10 &&
        ref.find_first_not_of("0123456789", 1) == std::string::npos) {
        size_t n = std::stoul(ref.substr(1));
        if (n >= 1 && n <= layers.size()) return {layers[n - 1], {}};
        return {nullptr, fmt::format("there is no layer {}: the map has {} layer{}", ref, layers.size(),
                                     layers.size() == 1 ? "" : "s")};
    }
    std::vector<size_t> atPath;
    for (size_t i = 0; i < layers.size(); ++i)
        if (samePath(layers[i]->path(), ref)) atPath.push_back(i);
    if (atPath.size() == 1) return {layers[atPath[0]], {}};
    if (atPath.size() > 1) {
        std::string list;
        for (size_t i : atPath) list += "\n  " + describeLayer(layers[i], i);
        return {nullptr, fmt::format("{} layers show {}; name one by its position (#N):{}", atPath.size(), shown(ref),
                                     list)};
    }
    return {nullptr, fmt::format("no layer \"{}\" on the map", shown(ref))};
}

std::vector<std::string> sharedNameWarnings(const h::Document& doc, const std::set<std::string>& names) {
    auto layers = doc.focusMap()->allLayers();
    std::map<std::string, std::vector<size_t>> byName;
    for (size_t i = 0; i < layers.size(); ++i) byName[layers[i]->name()].push_back(i);
    std::vector<std::string> out;
    for (auto& [name, at] : byName) {
        if (at.size() < 2 || !names.contains(name)) continue;
        std::string list;
        for (size_t i : at) list += (list.empty() ? "" : ", ") + describeLayer(layers[i], i);
        out.push_back(fmt::format("the map holds {} layers named \"{}\" ({}); the dialogs find a layer by name and "
                                  "use the first, #{}; korvane's commands take a position (#N) or a path",
                                  at.size(), shown(name), list, at[0] + 1));
    }
    return out;
}

int runCommand(Session& session, const Options& opt) {
    h::ICommand* cmd = session.findCommand(opt.command);
    if (!cmd) {
        std::cerr << fmt::format("korvane: no command \"{}\" (see korvane menu)\n", shown(opt.command));
        return ExitBadInput;
    }
    auto& driver = session.driver();
    if (opt.script == "-") {
        driver.addScript(std::cin, "standard input");
    } else if (!opt.script.empty()) {
        std::error_code ec;
        if (!sfs::is_regular_file(opt.script, ec)) {
            std::cerr << fmt::format("korvane: cannot read the script {}\n", shown(opt.script));
            return ExitBadInput;
        }
        driver.addScriptFile(opt.script);
    }
    if (!cmd->Enabled()) {
        explainDisabled(*cmd, *session.app().document());
        return ExitDisabled;
    }
    if (opt.script.empty()) {
        if (isatty(STDIN_FILENO))
            driver.setInteractive(&std::cin);
        else
            std::cerr << "korvane: standard input is not a terminal and no --script was given: no actions are "
                         "read (dialogs close, message boxes take their default buttons; --script - reads them "
                         "from standard input)\n";
    }
    cmd->OnClick();
    driver.driveModeless();
    driver.finishScript();
    return ExitOk;
}

void addDataCommands(CLI::App& cli, Options& opt) {
    const char* layerHelp = "The layer: its name, its position as #N (see korvane status) or its data's path";
    auto* add = cli.add_subcommand("add", "Add a shapefile or raster (as a layer) or a dBASE table to the map");
    add->add_option("path", opt.path, "A .shp, .dbf, .tif or .img file, or a GRID folder")->required();
    auto* select = cli.add_subcommand("select", "Select the features of a layer that match a where clause");
    select->add_option("layer", opt.layer, layerHelp)->required();
    select->add_option("where", opt.where, "The where clause (empty: clear the selection)")->required();
    auto* toc = cli.add_subcommand("toc", "Select a layer in the table of contents (empty: none)");
    toc->add_option("layer", opt.layer, layerHelp)->required();
    auto* show = cli.add_subcommand("show-table", "Print a dBASE table, or the attributes of a layer or table of the map");
    show->add_option("table", opt.path, "A .dbf or .shp file, or a layer (name, #N) or table of the map")->required();
}

int runDataCommand(CLI::App& cli, Session& session, const Options& opt) {
    auto& doc = *session.app().document();
    auto lookup = [&](const std::string& ref) -> h::LayerPtr {
        LayerLookup found = findLayer(doc, ref);
        if (!found.layer) std::cerr << "korvane: " << found.problem << "\n";
        return found.layer;
    };
    if (cli.got_subcommand("add")) {
        std::error_code ec;
        if (!sfs::is_regular_file(opt.path, ec) && !(sfs::is_directory(opt.path, ec) && h::RasterDataset::isRasterPath(opt.path))) {
            std::cerr << fmt::format("korvane: cannot read {}{}\n", shown(opt.path),
                                     sfs::exists(opt.path, ec) ? "" : ": there is no such file");
            return ExitBadInput;
        }
        h::OpenedData data = h::openData(opt.path);
        if (data.layer) doc.focusMap()->addLayer(data.layer);
        if (data.raster) doc.focusMap()->addLayer(data.raster);
        if (data.table) doc.focusMap()->addTable(data.table);
        return ExitOk;
    }
    if (cli.got_subcommand("select")) {
        h::LayerPtr found = lookup(opt.layer);
        if (!found) return ExitBadInput;
        auto layer = std::dynamic_pointer_cast<h::FeatureLayer>(found);
        if (!layer) {
            std::cerr << fmt::format("korvane: {} is not a feature layer\n", shown(found->name()));
            return ExitBadInput;
        }
        if (opt.where.empty()) {
            layer->clearSelection();
            std::cout << fmt::format("{}: selection cleared\n", shown(layer->name()));
            return ExitOk;
        }
        int64_t n = h::selectWhere(*layer, opt.where);
        std::cout << fmt::format("{}: {} feature{} selected\n", shown(layer->name()), n, n == 1 ? "" : "s");
        return ExitOk;
    }
    if (cli.got_subcommand("toc")) {
        if (opt.layer.empty()) {
            doc.setSelectedLayer(nullptr);
            return ExitOk;
        }
        h::LayerPtr layer = lookup(opt.layer);
        if (!layer) return ExitBadInput;
        doc.setSelectedLayer(layer);
        std::cout << fmt::format("selected {}\n", shown(layer->name()));
        return ExitOk;
    }
    if (cli.got_subcommand("show-table")) {
        std::error_code ec;
        std::string path = opt.path;
        if (!sfs::is_regular_file(path, ec)) {
            path.clear();
            for (auto& t : doc.focusMap()->tables())
                if (t->name() == opt.path) path = t->path();
            if (path.empty()) {
                // A name that reads as a table file and is neither a file nor
                // on the map: say the file is missing rather than the layer.
                std::string ext = sfs::path(opt.path).extension().string();
                std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
                if ((ext == ".dbf" || ext == ".shp") && !findLayer(doc, opt.path).layer && !sfs::exists(opt.path, ec)) {
                    std::cerr << fmt::format("korvane: cannot read {}: there is no such file, and no layer or table "
                                             "of that name on the map\n", shown(opt.path));
                    return ExitBadInput;
                }
                h::LayerPtr layer = lookup(opt.path);
                if (!layer) return ExitBadInput;
                path = layer->path();
                if (path.empty()) {
                    std::cerr << fmt::format("korvane: the layer {} has no data file\n", shown(layer->name()));
                    return ExitBadInput;
                }
            }
        }
        auto table = h::Table::open(path);
        h::printTable(*table, std::cout);
        return ExitOk;
    }
    return ExitOk;
}

LayerOpener layerOpener() {
    return [](const std::string& name, const std::string& path, h::LayerKind kind) -> h::LayerPtr {
        if ((kind != h::LayerKind::Feature && kind != h::LayerKind::Raster) || path.empty()) return nullptr;
        try {
            h::LayerPtr layer;
            if (kind == h::LayerKind::Raster) layer = h::openRasterLayer(path);
            else layer = h::openFeatureLayer(path);
            layer->setName(name);
            return layer;
        } catch (const h::Failure& f) {
            std::cerr << fmt::format("korvane: layer \"{}\" is not available: {}\n", shown(name),
                                     shown(f.description()));
            return nullptr;
        }
    };
}

void printRasterDetails(const h::Document& doc, std::ostream& out) {
    for (auto& l : doc.focusMap()->allLayers()) {
        auto rl = std::dynamic_pointer_cast<h::RasterLayer>(l);
        if (!rl || !rl->raster()) continue;
        auto& r = *rl->raster();
        std::string table;
        if (auto t = r.attributeTable())
            table = fmt::format("value table {} ({} rows)", t->path(), t->rowCount());
        else
            table = r.tableStatus().empty() ? "no value table" : r.tableStatus();
        out << fmt::format("raster {}: {} x {} cells, cell size {} x {}, {}, {}\n", l->name(), r.width(), r.height(),
                           r.cellSizeX(), r.cellSizeY(), h::pixelTypeName(r.pixelType()), table);
        if (const auto& uv = rl->renderer()) {
            out << fmt::format("  renderer unique values of {}: {} classes\n", h::escapeControls(uv->field),
                               uv->classes.size());
            for (const auto& c : uv->classes)
                out << fmt::format("    {} {}\n", h::rgbText(c.colour), h::escapeControls(c.label));
        }
    }
}

}  // namespace korvane::app
