#pragma once
// A scripted UI for tests: captures what the libraries show.
#include <sstream>

#include "host/Application.h"
#include "host/Ui.h"

struct TestUi {
    std::ostringstream out;
    korvane::host::ScriptDriver driver{out};
    TestUi() {
        driver.echoForms = false;
        korvane::host::setUi(&driver);
        korvane::host::Application::instance().setDocument(std::make_shared<korvane::host::Document>());
        korvane::host::Application::instance().modelessAllowed = true;
    }
    ~TestUi() { korvane::host::setUi(nullptr); }
};
