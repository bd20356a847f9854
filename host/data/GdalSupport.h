#pragma once
// GDAL set-up and error capture for the data layer's sources (not part of
// the public interface: include only from host/data/*.cpp).
#include <cpl_conv.h>
#include <cpl_error.h>

#include <cstdint>
#include <string>

namespace korvane::host::gdal {

// GDAL's block cache, unless GDAL_CACHEMAX says otherwise.
inline constexpr int64_t kBlockCacheBytes = int64_t{128} << 20;

// Registers the drivers once, silences GDAL's default error printing and
// sets the block cache.
void init();

// Collects the GDAL errors and warnings raised on this thread while it lives,
// instead of letting them reach the default handler.
class ErrorTrap {
public:
    ErrorTrap();
    ~ErrorTrap();
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    bool any() const { return count_ > 0; }
    bool failed() const { return failures_ > 0; }
    // The first message, or "" when none.
    const std::string& message() const { return message_; }
    void clear() {
        count_ = failures_ = 0;
        message_.clear();
    }

private:
    static void CPL_STDCALL handler(CPLErr cls, CPLErrorNum num, const char* msg);
    int count_ = 0;
    int failures_ = 0;
    std::string message_;
};

// While it lives, the datasets this thread opens, creates or closes neither
// read nor write a GDAL auxiliary file (.aux.xml): the host writes its own,
// and reads what it needs of one itself.
class NoAuxiliaryFile {
public:
    NoAuxiliaryFile() { CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", "NO"); }
    ~NoAuxiliaryFile() { CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", nullptr); }
    NoAuxiliaryFile(const NoAuxiliaryFile&) = delete;
    NoAuxiliaryFile& operator=(const NoAuxiliaryFile&) = delete;
};

// While it lives, GDAL's block cache holds at most `bytes` (or less, when it
// was set lower). For a copy GDAL makes itself (GDALTranslate): it reads and
// writes by swaths of up to a quarter of the cache, and keeps the blocks of
// both sides cached until the cache is full, though none is read again.
class BlockCacheLimit {
public:
    explicit BlockCacheLimit(int64_t bytes);
    ~BlockCacheLimit();
    BlockCacheLimit(const BlockCacheLimit&) = delete;
    BlockCacheLimit& operator=(const BlockCacheLimit&) = delete;

private:
    int64_t before_;
};

// "what" plus GDAL's own words when it gave any.
std::string describe(const std::string& what, const ErrorTrap& trap);

}  // namespace korvane::host::gdal
