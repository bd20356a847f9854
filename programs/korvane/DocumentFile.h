#pragma once
// The map document kept between invocations of korvane: maps with their
// layers (name, kind, path, visibility, selection), tables, units and the
// table-of-contents selection, and the lines libraries keep with the
// document (the query-set library), stored as JSON.
#include <functional>
#include <string>

#include "host/Document.h"

namespace korvane::app {

// Re-creates a layer from its stored form; the data layer plugs in here.
using LayerOpener = std::function<host::LayerPtr(const std::string& name, const std::string& path,
                                                 host::LayerKind kind)>;

struct DocumentFile {
    // Reads the document; a missing file gives an empty document. Fails with
    // a message for a file that is not a document, or is a document of
    // another version.
    static host::DocumentPtr load(const std::string& path, const LayerOpener& opener);
    // Reads the document into an existing one (its focused map's layers and
    // tables are replaced), so that the commands connected to it stay
    // connected. The caller raises the document's open event afterwards.
    static void loadInto(host::Document& doc, const std::string& path, const LayerOpener& opener);
    // Replaces the file whole (see host/FileReplace.h); fails with a message
    // and leaves the stored document as it was when it cannot.
    static void save(const host::Document& doc, const std::string& path);
};

// The document's state as comparable text, one line per item (names and
// paths with control characters escaped).
std::vector<std::string> documentItems(const host::Document& doc);
// What a command changed, from the items before and after it: "+ item" for
// each added (also a second of an item already there), "- item" for each
// removed, "~ map units …" for new units.
std::vector<std::string> documentChanges(const std::vector<std::string>& before, const std::vector<std::string>& after);

}  // namespace korvane::app
