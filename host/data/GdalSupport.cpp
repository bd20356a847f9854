#include "host/data/GdalSupport.h"

#include <gdal.h>

#include <mutex>

namespace korvane::host::gdal {

void init() {
    static std::once_flag once;
    std::call_once(once, [] {
        CPLSetErrorHandler(CPLQuietErrorHandler);
        GDALAllRegister();
    });
}

ErrorTrap::ErrorTrap() { CPLPushErrorHandlerEx(&ErrorTrap::handler, this); }

ErrorTrap::~ErrorTrap() { CPLPopErrorHandler(); }

void CPL_STDCALL ErrorTrap::handler(CPLErr cls, CPLErrorNum, const char* msg) {
    auto* self = static_cast<ErrorTrap*>(CPLGetErrorHandlerUserData());
    if (!self || cls == CE_Debug || cls == CE_None) return;
    if (self->count_++ == 0) self->message_ = msg ? msg : "";
    if (cls != CE_Warning) ++self->failures_;
}

std::string describe(const std::string& what, const ErrorTrap& trap) {
    if (trap.message().empty()) return what;
    return what + " (" + trap.message() + ")";
}

}  // namespace korvane::host::gdal
