#pragma once
#include <memory>

#include "raster/Classes/GridCommand.h"
#include "raster/Forms/frmGridAbout.h"

namespace kv {

// About Korvane for Grids: shows the about box, created once in OnCreate and
// held for the command's lifetime. Its Enabled is the one place that clears
// MapLayersChanged; the host asks it last, after the caching commands.
class clsG_AboutKVG : public GridCommand {
public:
    clsG_AboutKVG();
    bool Enabled() override;
    void OnClick() override;

    frmGridAbout* form() const { return form_.get(); }

protected:
    void created() override;

private:
    std::unique_ptr<frmGridAbout> form_;
};

}  // namespace kv
