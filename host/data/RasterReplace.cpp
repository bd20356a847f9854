// Whole new files of the raster sources, written with every error checked
// (the temporaries of the replace helper among them).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/FileReplace.h"
#include "host/Failure.h"
#include "host/data/RasterImpl.h"

namespace korvane::host::data {

void writeNewFile(const std::string& path, const std::string& text) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) fail(err::PathNotFound, "RasterDataset", "Cannot write " + path + ": " + std::strerror(errno));
    try {
        writeAllTo(fd, text, path);
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0) fail(err::PathNotFound, "RasterDataset", "Cannot write " + path + ": " + std::strerror(errno));
}

}  // namespace korvane::host::data
