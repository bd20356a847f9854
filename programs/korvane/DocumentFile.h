#pragma once
// The map document kept between invocations of korvane: maps with their
// layers (name, kind, path, visibility, selection), tables, units and the
// table-of-contents selection, stored as JSON.
#include <functional>
#include <string>

#include "host/Document.h"

namespace korvane::app {

// Re-creates a layer from its stored form; the data layer plugs in here.
using LayerOpener = std::function<host::LayerPtr(const std::string& name, const std::string& path,
                                                 host::LayerKind kind)>;

struct DocumentFile {
    // Reads the document; a missing file gives an empty document. Fails with
    // a message for a file that is not a document.
    static host::DocumentPtr load(const std::string& path, const LayerOpener& opener);
    // Reads the document into an existing one (its focused map's layers and
    // tables are replaced), so that the commands connected to it stay
    // connected. The caller raises the document's open event afterwards.
    static void loadInto(host::Document& doc, const std::string& path, const LayerOpener& opener);
    static void save(const host::Document& doc, const std::string& path);
};

// The document's state as comparable text, one line per item.
std::vector<std::string> documentItems(const host::Document& doc);

}  // namespace korvane::app
