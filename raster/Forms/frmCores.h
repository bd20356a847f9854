#pragma once
// The raster library's Create Core Areas dialog: the vector library's dialog
// and core-area run, with this library's own ways. It lists the map's
// polygon layers, leaves OBJECTID out of the ID fields, stays open after OK
// for another run, adds the new layer switched off, and has no batch file
// (its Batch button is disabled). Whatever creates it sets ArcMapHook
// before showing it.
#include <string>

#include "shared/CoreAreaForm.h"

namespace kv {

class frmCores : public CoreAreaForm {
public:
    // The core areas of the layer's features (its selection when it has
    // one) written to folderName/shapefileName.shp, in the layer's
    // coordinate system; an old output of that name is replaced once the
    // new one is complete. The three expected refusals are shown here; any
    // other failure is passed on to the caller, with the progress window
    // closed and nothing of the new output left behind.
    void CreateCores(const std::string& folderName, const std::string& shapefileName,
                     const std::string& strLayerName, const std::string& strIDFieldName, double strBufferSize,
                     bool blnExplode, bool blnAddToMap) override;

protected:
    void Form_Load() override;
    void FillIdFields(const korvane::host::LayerPtr& layer, korvane::host::ComboBox& combo) override;
    void cmdOK_Click() override;
    void cnmdBatch_Click() override;
};

}  // namespace kv
