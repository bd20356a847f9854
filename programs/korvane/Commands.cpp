#include "programs/korvane/Commands.h"

#include <unistd.h>

#include <iostream>

#include <fmt/format.h>

#include "host/Failure.h"
#include "host/data/FeatureLayer.h"
#include "host/data/RasterLayer.h"
#include "host/data/Table.h"

namespace korvane::app {

namespace h = korvane::host;

int runCommand(Session& session, const Options& opt) {
    h::ICommand* cmd = session.findCommand(opt.command);
    if (!cmd) {
        std::cerr << fmt::format("korvane: no command \"{}\" (see korvane menu)\n", opt.command);
        return 2;
    }
    auto& driver = session.driver();
    if (!opt.script.empty()) driver.addScriptFile(opt.script);
    else if (isatty(STDIN_FILENO)) driver.setInteractive(&std::cin);
    if (!cmd->Enabled()) {
        std::cerr << fmt::format("korvane: \"{}\" is not available now (the host shows it disabled)\n",
                                 cmd->Caption());
        return 3;
    }
    cmd->OnClick();
    driver.driveModeless();
    return 0;
}

namespace {
h::LayerPtr findLayer(h::Document& doc, const std::string& name) {
    for (auto& l : doc.focusMap()->allLayers())
        if (l->name() == name) return l;
    return nullptr;
}
}  // namespace

void addDataCommands(CLI::App& cli, Options& opt) {
    auto* add = cli.add_subcommand("add", "Add a shapefile or raster (as a layer) or a dBASE table to the map");
    add->add_option("path", opt.path, "A .shp, .dbf, .tif or .img file, or a GRID folder")
        ->required()
        ->check(CLI::ExistingPath);
    auto* select = cli.add_subcommand("select", "Select the features of a layer that match a where clause");
    select->add_option("layer", opt.layer, "The layer's name")->required();
    select->add_option("where", opt.where, "The where clause (empty: clear the selection)")->required();
    auto* toc = cli.add_subcommand("toc", "Select a layer in the table of contents (empty: none)");
    toc->add_option("layer", opt.layer, "The layer's name")->required();
    auto* show = cli.add_subcommand("show-table", "Print a dBASE table");
    show->add_option("path", opt.path, "A .dbf file")->required()->check(CLI::ExistingFile);
}

int runDataCommand(CLI::App& cli, Session& session, const Options& opt) {
    auto& doc = *session.app().document();
    if (cli.got_subcommand("add")) {
        h::OpenedData data = h::openData(opt.path);
        if (data.layer) doc.focusMap()->addLayer(data.layer);
        if (data.raster) doc.focusMap()->addLayer(data.raster);
        if (data.table) doc.focusMap()->addTable(data.table);
        return 0;
    }
    if (cli.got_subcommand("select")) {
        auto layer = std::dynamic_pointer_cast<h::FeatureLayer>(findLayer(doc, opt.layer));
        if (!layer) {
            std::cerr << fmt::format("korvane: no feature layer \"{}\" on the map\n", opt.layer);
            return 2;
        }
        if (opt.where.empty()) {
            layer->clearSelection();
            std::cout << fmt::format("{}: selection cleared\n", layer->name());
            return 0;
        }
        int64_t n = h::selectWhere(*layer, opt.where);
        std::cout << fmt::format("{}: {} feature{} selected\n", layer->name(), n, n == 1 ? "" : "s");
        return 0;
    }
    if (cli.got_subcommand("toc")) {
        if (opt.layer.empty()) {
            doc.setSelectedLayer(nullptr);
            return 0;
        }
        auto layer = findLayer(doc, opt.layer);
        if (!layer) {
            std::cerr << fmt::format("korvane: no layer \"{}\" on the map\n", opt.layer);
            return 2;
        }
        doc.setSelectedLayer(layer);
        std::cout << fmt::format("selected {}\n", layer->name());
        return 0;
    }
    if (cli.got_subcommand("show-table")) {
        auto table = h::Table::open(opt.path);
        h::printTable(*table, std::cout);
        return 0;
    }
    return 0;
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
            std::cerr << fmt::format("korvane: layer \"{}\" is not available: {}\n", name, f.description());
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
    }
}

}  // namespace korvane::app
