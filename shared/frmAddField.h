#pragma once
// "New Field Definition": the user defines one new attribute field for a layer.
#include "host/Layer.h"
#include "shared/KorvaneForm.h"

namespace kv {

class frmAddField : public KorvaneForm {
public:
    frmAddField() : KorvaneForm("frmAddField") {}
    void setLayer(korvane::host::LayerPtr layer) { layer_ = std::move(layer); }

protected:
    void design() override;
    void Form_Load() override;
    void Form_Activate() override;

private:
    void cboFieldType_Click();
    void txtFieldName_Validate(bool& cancel);
    void cmdOK_Click();
    void cmdCancel_Click();
    // The name rules; shows the refusal and returns false when broken.
    bool nameIsValid();
    korvane::host::LayerPtr layer_;
};

}  // namespace kv
