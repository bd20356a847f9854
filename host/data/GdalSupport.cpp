#include "host/data/GdalSupport.h"

#include <cpl_conv.h>
#include <gdal.h>

#include <mutex>

namespace korvane::host::gdal {

void init() {
    static std::once_flag once;
    std::call_once(once, [] {
        CPLSetErrorHandler(CPLQuietErrorHandler);
        GDALAllRegister();
        // Every reader and writer here works strip by strip and lets each
        // strip's blocks go; GDAL's own default cache (a share of the
        // machine's memory) would only keep blocks nobody reads again. A
        // cache the user sets (GDAL_CACHEMAX) is left as it is.
        if (!CPLGetConfigOption("GDAL_CACHEMAX", nullptr)) GDALSetCacheMax64(kBlockCacheBytes);
    });
}

BlockCacheLimit::BlockCacheLimit(int64_t bytes) : before_(GDALGetCacheMax64()) {
    if (bytes < before_) GDALSetCacheMax64(bytes);
}

BlockCacheLimit::~BlockCacheLimit() { GDALSetCacheMax64(before_); }

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
