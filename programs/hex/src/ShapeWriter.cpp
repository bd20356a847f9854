#include "hex/ShapeWriter.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace hex {

namespace {

constexpr int32_t kPolygon = 5;
constexpr int32_t kHeaderBytes = 100;
// Shape type, box, part and point counts, one part index, seven points.
constexpr int32_t kContentBytes = 4 + 32 + 4 + 4 + 4 + 7 * 16;
constexpr int kIdWidth = 10;

void putBig32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}
void putLittle32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}
void putLittle16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void putDouble(unsigned char* p, double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(bits >> (8 * i));
}

// The 100-byte header of the .shp and the .shx.
void header(unsigned char* h, uint32_t fileBytes, const Extent& box) {
    std::memset(h, 0, kHeaderBytes);
    putBig32(h, 9994);
    putBig32(h + 24, fileBytes / 2);
    putLittle32(h + 28, 1000);
    putLittle32(h + 32, kPolygon);
    putDouble(h + 36, box.xmin);
    putDouble(h + 44, box.ymin);
    putDouble(h + 52, box.xmax);
    putDouble(h + 60, box.ymax);
}

// The dBASE header with its one field, ID N(10,0).
void dbfHeader(unsigned char* h, uint32_t records) {
    std::memset(h, 0, 65);
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    h[0] = 0x03;
    h[1] = static_cast<unsigned char>(tm.tm_year);
    h[2] = static_cast<unsigned char>(tm.tm_mon + 1);
    h[3] = static_cast<unsigned char>(tm.tm_mday);
    putLittle32(h + 4, records);
    putLittle16(h + 8, 65);
    putLittle16(h + 10, 1 + kIdWidth);
    std::memcpy(h + 32, "ID", 2);
    h[32 + 11] = 'N';
    h[32 + 16] = kIdWidth;
    h[64] = 0x0D;
}


bool closeFile(std::FILE*& f) {
    if (!f) return true;
    bool ok = std::fclose(f) == 0;
    f = nullptr;
    return ok;
}

}  // namespace

ShapeWriter::~ShapeWriter() { removeAll(); }

void ShapeWriter::removeAll() {
    closeFile(shp_);
    closeFile(shx_);
    closeFile(dbf_);
    std::error_code ec;
    for (const auto& path : made_) std::filesystem::remove(path, ec);
    made_.clear();
}

std::FILE* ShapeWriter::createNew(const std::string& path) {
    // "x": never replaces a file that is there already.
    std::FILE* f = std::fopen(path.c_str(), "wbx");
    if (!f) return nullptr;
    made_.push_back(path);
    std::setvbuf(f, nullptr, _IOFBF, 1 << 20);
    return f;
}

Code ShapeWriter::create(const std::string& base) {
    unsigned char h[kHeaderBytes] = {};
    if (!(shp_ = createNew(base + ".shp"))) return Code::ShpNotOpened;
    if (!(shx_ = createNew(base + ".shx"))) {
        removeAll();
        return Code::ShxNotOpened;
    }
    if (!(dbf_ = createNew(base + ".dbf"))) {
        removeAll();
        return Code::DbfNotOpened;
    }
    // Placeholders, rewritten by finish().
    header(h, kHeaderBytes, box_);
    std::fwrite(h, 1, kHeaderBytes, shp_);
    std::fwrite(h, 1, kHeaderBytes, shx_);
    unsigned char d[65];
    dbfHeader(d, 0);
    std::fwrite(d, 1, sizeof d, dbf_);
    return Code::Success;
}

void ShapeWriter::add(const Ring& ring) {
    Extent b{ring[0].x, ring[0].y, ring[0].x, ring[0].y};
    for (const Point& p : ring) {
        b.xmin = std::min(b.xmin, p.x);
        b.ymin = std::min(b.ymin, p.y);
        b.xmax = std::max(b.xmax, p.x);
        b.ymax = std::max(b.ymax, p.y);
    }
    if (count_ == 0) {
        box_ = b;
    } else {
        box_ = {std::min(box_.xmin, b.xmin), std::min(box_.ymin, b.ymin), std::max(box_.xmax, b.xmax),
                std::max(box_.ymax, b.ymax)};
    }
    ++count_;
    const auto offset = static_cast<uint32_t>(kHeaderBytes + (count_ - 1) * (8 + kContentBytes));

    unsigned char rec[8 + kContentBytes];
    putBig32(rec, static_cast<uint32_t>(count_));
    putBig32(rec + 4, kContentBytes / 2);
    unsigned char* c = rec + 8;
    putLittle32(c, kPolygon);
    putDouble(c + 4, b.xmin);
    putDouble(c + 12, b.ymin);
    putDouble(c + 20, b.xmax);
    putDouble(c + 28, b.ymax);
    putLittle32(c + 36, 1);
    putLittle32(c + 40, 7);
    putLittle32(c + 44, 0);
    for (int i = 0; i < 7; ++i) {
        putDouble(c + 48 + 16 * i, ring[i].x);
        putDouble(c + 56 + 16 * i, ring[i].y);
    }
    std::fwrite(rec, 1, sizeof rec, shp_);

    unsigned char idx[8];
    putBig32(idx, offset / 2);
    putBig32(idx + 4, kContentBytes / 2);
    std::fwrite(idx, 1, sizeof idx, shx_);

    char row[1 + kIdWidth + 1];
    std::snprintf(row, sizeof row, " %*lld", kIdWidth, static_cast<long long>(count_));
    std::fwrite(row, 1, 1 + kIdWidth, dbf_);
}

Code ShapeWriter::finish() {
    const auto shpBytes = static_cast<uint32_t>(kHeaderBytes + count_ * (8 + kContentBytes));
    const auto shxBytes = static_cast<uint32_t>(kHeaderBytes + count_ * 8);
    unsigned char h[kHeaderBytes];
    Code code = Code::Success;

    header(h, shpBytes, box_);
    bool shpOk = std::fseek(shp_, 0, SEEK_SET) == 0 && std::fwrite(h, 1, kHeaderBytes, shp_) == kHeaderBytes;
    shpOk = !std::ferror(shp_) && shpOk;
    shpOk = closeFile(shp_) && shpOk;
    if (!shpOk) code = Code::ShpNotOpened;

    header(h, shxBytes, box_);
    bool shxOk = std::fseek(shx_, 0, SEEK_SET) == 0 && std::fwrite(h, 1, kHeaderBytes, shx_) == kHeaderBytes;
    shxOk = !std::ferror(shx_) && shxOk;
    shxOk = closeFile(shx_) && shxOk;
    if (!shxOk && code == Code::Success) code = Code::ShxNotOpened;

    unsigned char d[65];
    dbfHeader(d, static_cast<uint32_t>(count_));
    bool dbfOk = std::fputc(0x1A, dbf_) != EOF;
    dbfOk = std::fseek(dbf_, 0, SEEK_SET) == 0 && std::fwrite(d, 1, sizeof d, dbf_) == sizeof d && dbfOk;
    dbfOk = !std::ferror(dbf_) && dbfOk;
    dbfOk = closeFile(dbf_) && dbfOk;
    if (!dbfOk && code == Code::Success) code = Code::DbfNotOpened;

    if (code == Code::Success)
        made_.clear();
    else
        removeAll();
    return code;
}

}  // namespace hex
