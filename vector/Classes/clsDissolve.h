#pragma once
#include "host/Document.h"
#include "vector/Classes/VectorCommand.h"

namespace kv {

// Dissolve Polygons: opens the host's Dissolve tool dialog with single
// parts preset. While the dialog is open the command watches the focused
// map; the layer the tool adds there gets the fields Area and Perimeter,
// without a question. The watch ends when the dialog closes, whether the
// tool ran, failed or was cancelled, so no later layer is touched.
class clsDissolve : public VectorCommand {
public:
    clsDissolve();
    ~clsDissolve() override;

    // The map whose events the command receives now (none when idle).
    korvane::host::MapPtr watchedMap() const { return myMap_; }

protected:
    void clickWithoutDialog() override;

private:
    void watch(const korvane::host::MapPtr& map);
    void stopWatching();
    void myMap_ItemAdded(const korvane::host::LayerPtr& item);
    void myMap_ContentsChanged() {}

    korvane::host::MapPtr myMap_;
    int addedToken_ = 0;
    int changedToken_ = 0;
};

}  // namespace kv
