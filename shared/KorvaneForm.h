#pragma once
// A dialog of the libraries: a headless form that may be handed the host
// application (its ArcMapHook).
#include "host/Application.h"
#include "host/Failure.h"
#include "host/Forms.h"

namespace kv {

class KorvaneForm : public korvane::host::Form {
public:
    using korvane::host::Form::Form;
    korvane::host::Application* ArcMapHook() const { return hook_; }
    virtual void setArcMapHook(korvane::host::Application* hook) { hook_ = hook; }

protected:
    // The focused map of the hook's document; fails when no hook was given
    // (a dialog's Map property reports that under its own module).
    korvane::host::MapPtr hookFocusMap() const {
        if (!hook_) korvane::host::failObjectNotSet();
        return hook_->document()->focusMap();
    }

public:

private:
    korvane::host::Application* hook_ = nullptr;
};

}  // namespace kv
