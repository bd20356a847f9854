#include "host/data/DbfFile.h"

#include <cpl_string.h>
#include <cpl_time.h>
#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "host/Failure.h"
#include "host/FileReplace.h"

namespace korvane::host::data {

namespace {

constexpr const char* kSource = "Table";
constexpr uint32_t kMaxHeader = 65535;
constexpr uint32_t kMaxRecord = 65535;
constexpr char kEndOfFile = 0x1A;
constexpr char kHeaderEnd = 0x0D;

uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint32_t le16(const uint8_t* p) { return p[0] | (p[1] << 8); }
void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v & 0xFF);
    p[1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>((v >> (8 * i)) & 0xFF);
}

// What the driver writes into a field that holds no value.
char nullFill(char type) {
    switch (type) {
        case 'N':
        case 'F': return '*';
        case 'D': return '0';
        case 'L': return '?';
        default: return ' ';
    }
}

bool readAll(int fd, void* buf, size_t n, off_t at) {
    auto* p = static_cast<char*>(buf);
    while (n > 0) {
        ssize_t got = ::pread(fd, p, n, at);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        n -= static_cast<size_t>(got);
        at += got;
    }
    return true;
}

bool writeAll(int fd, const void* buf, size_t n, off_t at) {
    auto* p = static_cast<const char*>(buf);
    while (n > 0) {
        ssize_t put = ::pwrite(fd, p, n, at);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        p += put;
        n -= static_cast<size_t>(put);
        at += put;
    }
    return true;
}

// A file descriptor closed when it goes.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

std::string errnoText() { return std::strerror(errno); }

}  // namespace

std::optional<DbfLayout> DbfLayout::read(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return std::nullopt;
    uint8_t h[32];
    if (!readAll(fd, h, 32, 0)) return std::nullopt;
    DbfLayout l;
    l.records = le32(h + 4);
    l.headerLength = le16(h + 8);
    l.recordLength = le16(h + 10);
    l.languageDriver = h[29];
    if (l.headerLength < 65 || (l.headerLength - 33) % 32 != 0) return std::nullopt;
    size_t n = (l.headerLength - 33) / 32;
    std::vector<uint8_t> d(n * 32 + 1);
    if (!readAll(fd, d.data(), d.size(), 32) || d.back() != static_cast<uint8_t>(kHeaderEnd)) return std::nullopt;
    int offset = 1;
    for (size_t i = 0; i < n; ++i) {
        DbfColumn c;
        std::memcpy(c.raw.data(), &d[i * 32], 32);
        size_t len = 0;
        while (len < 11 && c.raw[len] != 0) ++len;
        c.name.assign(reinterpret_cast<const char*>(c.raw.data()), len);
        c.type = static_cast<char>(c.raw[11]);
        c.width = c.raw[16];
        c.decimals = c.raw[17];
        // Character fields wider than 255 keep the high byte in the decimals.
        if (c.type == 'C' && c.decimals != 0) return std::nullopt;
        if (c.width < 1) return std::nullopt;
        c.offset = offset;
        offset += c.width;
        l.columns.push_back(std::move(c));
    }
    if (static_cast<uint32_t>(offset) != l.recordLength) return std::nullopt;
    uint64_t needed = l.headerLength + static_cast<uint64_t>(l.records) * l.recordLength;
    if (static_cast<uint64_t>(st.st_size) < needed) return std::nullopt;
    return l;
}

size_t formatFixed(double x, int decimals, char* out, size_t size) {
    // Most values a table holds are decided by one product: x times
    // 10^decimals, rounded to the nearest integer, unless the product lies
    // within rounding of a tie (then the exact decimal expansion decides).
    static const uint64_t scale[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};
    const double a = std::fabs(x);
    if (decimals >= 0 && decimals <= 9 && a < 1e15) {
        const double s = a * static_cast<double>(scale[decimals]);
        if (s < 4e15) {
            const double whole = std::floor(s);
            const double fraction = s - whole;
            const double ulp = std::nextafter(s, INFINITY) - s;
            if (std::fabs(fraction - 0.5) > 2 * ulp) {
                uint64_t n = static_cast<uint64_t>(whole) + (fraction > 0.5 ? 1 : 0);
                const uint64_t unit = scale[decimals];
                char digits[32];
                size_t len = 0;
                if (std::signbit(x)) digits[len++] = '-';
                auto [end, ec] = std::to_chars(digits + len, digits + sizeof digits, n / unit);
                len = static_cast<size_t>(end - digits);
                if (decimals > 0) {
                    digits[len++] = '.';
                    uint64_t f = n % unit;
                    for (int i = decimals - 1; i >= 0; --i) {
                        digits[len + static_cast<size_t>(i)] = static_cast<char>('0' + f % 10);
                        f /= 10;
                    }
                    len += static_cast<size_t>(decimals);
                }
                if (len > size) return 0;
                std::memcpy(out, digits, len);
                return len;
            }
        }
    }
    auto [end, ec] = std::to_chars(out, out + size, x, std::chars_format::fixed, decimals);
    return ec == std::errc() ? static_cast<size_t>(end - out) : 0;
}

size_t fixedLength(double x, int decimals) {
    static const double powers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,
                                    1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16};
    double a = std::fabs(x);
    if (a < 1e15 && decimals >= 0 && decimals <= 16) {
        auto whole = static_cast<uint64_t>(a);
        size_t digits = 1;
        while (digits < 16 && whole >= static_cast<uint64_t>(powers[digits])) ++digits;
        // Rounding to the decimals adds a digit only this close below the
        // next power of ten; there the text itself decides.
        if (powers[digits] - a > 1.0 / powers[decimals])
            return (std::signbit(x) ? 1 : 0) + digits + (decimals > 0 ? 1 + static_cast<size_t>(decimals) : 0);
    }
    char text[1024];
    return formatFixed(x, decimals, text, sizeof text);
}

std::array<uint8_t, 3> dbfUpdateDate() {
    struct tm tm {};
    CPLUnixTimeToYMDHMS(static_cast<GIntBig>(std::time(nullptr)), &tm);
    return {static_cast<uint8_t>(tm.tm_year), static_cast<uint8_t>(tm.tm_mon + 1), static_cast<uint8_t>(tm.tm_mday)};
}

DbfColumn newDbfColumn(const FieldDef& f) {
    DbfColumn c;
    c.name = f.name;
    switch (f.type) {
        case FieldString:
            c.type = 'C';
            c.width = f.length;
            break;
        case FieldSmallInteger:
        case FieldInteger:
            c.type = 'N';
            c.width = f.precision;
            break;
        case FieldSingle:
        case FieldDouble:
            c.type = 'N';
            c.width = f.precision;
            c.decimals = f.scale;
            break;
        case FieldDate:
            c.type = 'D';
            c.width = 8;
            break;
        default: break;
    }
    std::memcpy(c.raw.data(), f.name.data(), std::min<size_t>(f.name.size(), 10));
    c.raw[11] = static_cast<uint8_t>(c.type);
    c.raw[16] = static_cast<uint8_t>(c.width);
    c.raw[17] = static_cast<uint8_t>(c.decimals);
    return c;
}

std::vector<int> keptColumns(const DbfLayout& layout, const DbfFieldChange& change) {
    if (change.keep) return *change.keep;
    std::vector<int> kept;
    for (int i = 0; i < static_cast<int>(layout.columns.size()); ++i)
        if (change.add || i != change.column) kept.push_back(i);
    return kept;
}

bool dbfChangeFits(const DbfLayout& layout, const DbfFieldChange& change) {
    uint64_t header = layout.headerLength, record = layout.recordLength;
    if (change.keep) {
        int previous = -1;
        for (int c : *change.keep) {
            if (c <= previous || static_cast<size_t>(c) >= layout.columns.size()) return false;
            previous = c;
        }
        if (change.keep->empty() && change.fields.empty()) return false;
        header = 33 + 32 * change.keep->size();
        record = 1;
        for (int c : *change.keep) record += static_cast<uint32_t>(layout.columns[static_cast<size_t>(c)].width);
    } else if (!change.add) {
        return change.column >= 0 && static_cast<size_t>(change.column) < layout.columns.size() &&
               layout.columns.size() > 1;
    } else if (change.fields.empty()) {
        return false;
    }
    for (const FieldDef& f : change.fields) {
        DbfColumn c = newDbfColumn(f);
        if (c.width < 1 || c.width > 255) return false;
        header += 32;
        record += static_cast<uint32_t>(c.width);
    }
    return header <= kMaxHeader && record <= kMaxRecord;
}

bool restructureDbf(const std::string& dbfPath, const DbfLayout& layout, const DbfFieldChange& change,
                    const DbfRecordFill* fill) {
    const std::string shown = fileOfTemporary(dbfPath).string();
    auto refuse = [&](const std::string& why) {
        fail(err::HostGeneric, kSource, "Cannot change the fields of " + shown + ": " + why + ".");
    };
    Fd in(::open(dbfPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.fd < 0) refuse(errnoText());
    struct stat st;
    if (::fstat(in.fd, &st) != 0) refuse(errnoText());

    // The new columns, and where each byte of a new record comes from: a run
    // of the old record (the deletion flag and the kept columns), or the
    // fill of an added field.
    std::vector<DbfColumn> columns;
    struct Piece {
        int from;  // offset in the old record, or -1 for a fill
        int length;
        char fill;
    };
    std::vector<Piece> pieces;
    pieces.push_back({0, 1, 0});
    for (int k : keptColumns(layout, change)) {
        const DbfColumn& c = layout.columns[static_cast<size_t>(k)];
        if (pieces.back().from >= 0 && pieces.back().from + pieces.back().length == c.offset)
            pieces.back().length += c.width;
        else
            pieces.push_back({c.offset, c.width, 0});
        columns.push_back(c);
    }
    int addedAt = 1;
    for (const DbfColumn& c : columns) addedAt += c.width;
    if (change.add || change.keep) {
        for (const FieldDef& f : change.fields) {
            DbfColumn c = newDbfColumn(f);
            pieces.push_back({-1, c.width, nullFill(c.type)});
            columns.push_back(c);
        }
    }
    uint32_t recordLength = 1;
    for (const DbfColumn& c : columns) recordLength += static_cast<uint32_t>(c.width);
    uint32_t headerLength = 32 + 32 * static_cast<uint32_t>(columns.size()) + 1;

    std::vector<uint8_t> header(headerLength, 0);
    header[0] = 0x03;
    auto date = dbfUpdateDate();
    std::memcpy(&header[1], date.data(), 3);
    put32(&header[4], layout.records);
    put16(&header[8], headerLength);
    put16(&header[10], recordLength);
    header[29] = layout.languageDriver;
    for (size_t i = 0; i < columns.size(); ++i) std::memcpy(&header[32 + 32 * i], columns[i].raw.data(), 32);
    header[headerLength - 1] = static_cast<uint8_t>(kHeaderEnd);

    // The new file is written whole under a marked name beside the old one
    // and replaces it only when complete: a failure or a kill on the way
    // leaves the old file as it was. The new file keeps the old one's mode
    // and owner.
    FileReplacement replacement({std::filesystem::path(dbfPath)});
    replacement.checkDatasets();
    const std::filesystem::path& temp = replacement.temporary(0);
    Fd out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (out.fd < 0) refuse(errnoText());
    auto passOn = [&](const Failure& f) {
        fail(f.number(), kSource, "Cannot change the fields of " + shown + ": " + f.description());
    };
    auto write = [&](const void* p, size_t n) {
        try {
            writeAllTo(out.fd, std::string_view(static_cast<const char*>(p), n), temp);
        } catch (const Failure& f) {
            passOn(f);
        }
    };
    write(header.data(), header.size());
    const uint32_t batch = std::max<uint32_t>(1, (4u << 20) / std::max(layout.recordLength, recordLength));
    std::vector<char> src(static_cast<size_t>(batch) * layout.recordLength);
    std::vector<char> dst(static_cast<size_t>(batch) * recordLength);
    off_t readAt = layout.headerLength;
    for (uint32_t done = 0; done < layout.records;) {
        uint32_t n = std::min(batch, layout.records - done);
        if (!readAll(in.fd, src.data(), static_cast<size_t>(n) * layout.recordLength, readAt))
            refuse("cannot read the records");
        for (uint32_t r = 0; r < n; ++r) {
            const char* s = &src[static_cast<size_t>(r) * layout.recordLength];
            char* d = &dst[static_cast<size_t>(r) * recordLength];
            char* record = d;
            for (const Piece& p : pieces) {
                if (p.from >= 0)
                    std::memcpy(d, s + p.from, static_cast<size_t>(p.length));
                else
                    std::memset(d, p.fill, static_cast<size_t>(p.length));
                d += p.length;
            }
            if (fill && !(*fill)(done + r, s, record + addedAt)) return false;
        }
        write(dst.data(), static_cast<size_t>(n) * recordLength);
        readAt += static_cast<off_t>(n) * layout.recordLength;
        done += n;
    }
    write(&kEndOfFile, 1);
    int fd = out.fd;
    out.fd = -1;
    if (::close(fd) != 0) refuse(errnoText());
    try {
        replacement.commit();
    } catch (const Failure& f) {
        passOn(f);
    }
    return true;
}

// ---- records -------------------------------------------------------------------

std::unique_ptr<DbfRecordWriter> DbfRecordWriter::open(const std::string& dbfPath, OGRLayer& layer) {
    int fd = ::open(dbfPath.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return nullptr;
    std::unique_ptr<DbfRecordWriter> w(new DbfRecordWriter);
    // The driver recodes text from UTF-8 into the file's encoding.
    const char* enc = layer.GetMetadataItem("SOURCE_ENCODING", "SHAPEFILE");
    std::string e = enc ? enc : "?";
    for (char& ch : e) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    if (e.empty() || e == "UTF-8")
        w->text_ = Text::AsIs;
    else if (e == "ISO-8859-1")
        w->text_ = Text::Latin1;
    else if ((e.rfind("ISO-8859-", 0) == 0 && e.size() <= 11) || (e.rfind("CP125", 0) == 0 && e.size() == 6) ||
             e == "CP437" || e == "CP850" || e == "CP852" || e == "CP866")
        w->text_ = Text::AsciiOnly;
    else
        w->text_ = Text::Never;
    w->fd_ = fd;
    w->path_ = dbfPath;
    auto layout = DbfLayout::read(fd);
    if (!layout) return nullptr;
    w->layout_ = std::move(*layout);
    OGRFeatureDefn* defn = layer.GetLayerDefn();
    if (defn->GetFieldCount() != static_cast<int>(w->layout_.columns.size())) return nullptr;
    for (int i = 0; i < defn->GetFieldCount(); ++i) {
        const OGRFieldDefn* f = defn->GetFieldDefn(i);
        const DbfColumn& c = w->layout_.columns[static_cast<size_t>(i)];
        if (f->GetSubType() != OFSTNone || c.width > 254) return nullptr;
        bool fits = false;
        switch (f->GetType()) {
            case OFTString: fits = c.type == 'C' && f->GetWidth() == c.width; break;
            case OFTInteger:
            case OFTInteger64: fits = (c.type == 'N' || c.type == 'F') && f->GetWidth() == c.width && c.width <= 31; break;
            case OFTReal:
                fits = (c.type == 'N' || c.type == 'F') && f->GetWidth() == c.width && f->GetPrecision() == c.decimals;
                break;
            case OFTDate: fits = c.type == 'D' && c.width == 8 && c.decimals == 0; break;
            default: break;
        }
        if (!fits) return nullptr;
        w->columns_.push_back({c, f->GetType()});
    }
    w->scratch_.resize(w->layout_.recordLength);
    return w;
}

DbfRecordWriter::~DbfRecordWriter() {
    try {
        flush();
    } catch (...) {
    }
    if (fd_ >= 0) ::close(fd_);
}

bool formatDbfNumber(const Value& v, const DbfColumn& c, char* at) {
    double x;
    if (auto p = std::get_if<int32_t>(&v))
        x = *p;
    else if (auto p = std::get_if<float>(&v))
        x = static_cast<double>(*p);
    else if (auto p = std::get_if<double>(&v))
        x = *p;
    else
        return false;
    // The driver warns about integers past 2^53 in fields without decimals.
    if (!std::isfinite(x) || (c.decimals == 0 && std::fabs(x) > 9007199254740992.0)) return false;
    // "%<width>.<decimals>f": right-aligned in the column.
    char text[272];
    const size_t width = static_cast<size_t>(c.width);
    size_t n = formatFixed(x, c.decimals, text, sizeof text);
    if (n == 0 || n > width) return false;
    std::memset(at, ' ', width - n);
    std::memcpy(at + (width - n), text, n);
    return true;
}

bool DbfRecordWriter::format(const Value* values, size_t count, char* out, const std::vector<bool>* only) const {
    if (count != columns_.size()) return false;
    out[0] = ' ';
    char text[272];
    for (size_t i = 0; i < count; ++i) {
        if (only && !(i < only->size() && (*only)[i])) continue;
        const Column& col = columns_[i];
        const DbfColumn& c = col.dbf;
        char* at = out + c.offset;
        const size_t width = static_cast<size_t>(c.width);
        const Value& v = values[i];
        if (isNull(v)) {
            std::memset(at, nullFill(c.type), width);
            continue;
        }
        switch (col.ogrType) {
            case OFTString: {
                auto s = std::get_if<std::string>(&v);
                if (!s || !encode(*s, at, width)) return false;
                break;
            }
            case OFTInteger:
            case OFTInteger64: {
                auto p = std::get_if<int32_t>(&v);
                if (!p) return false;
                // "%<width>d"
                auto [end, ec] = std::to_chars(text, text + sizeof text, *p);
                size_t n = static_cast<size_t>(end - text);
                if (ec != std::errc() || n > width) return false;
                std::memset(at, ' ', width - n);
                std::memcpy(at + (width - n), text, n);
                break;
            }
            case OFTReal:
                if (!formatDbfNumber(v, c, at)) return false;
                break;
            case OFTDate: {
                auto d = std::get_if<Date>(&v);
                if (!d || d->year < 1000 || d->year > 9999 || d->month < 1 || d->month > 12 || d->day < 1 || d->day > 31)
                    return false;
                std::snprintf(text, sizeof text, "%04d%02d%02d", d->year, d->month, d->day);
                std::memcpy(at, text, 8);
                break;
            }
            default: return false;
        }
    }
    return true;
}

bool DbfRecordWriter::encode(const std::string& s, char* out, size_t width) const {
    const size_t n = std::strlen(s.c_str());  // the driver stops at a zero byte
    if (text_ == Text::Never && n > 0) return false;
    if (text_ == Text::AsIs || n == 0) {
        if (n > width) return false;
        std::memset(out, ' ', width);
        std::memcpy(out, s.data(), n);
        return true;
    }
    // Text with characters outside ASCII is written here only where the
    // driver's conversion is plain: UTF-8 sequences of U+0080..U+00FF to one
    // ISO-8859-1 byte each. Anything else it would convert its own way.
    std::memset(out, ' ', width);
    size_t w = 0;
    for (size_t i = 0; i < n; ++i) {
        auto c = static_cast<unsigned char>(s[i]);
        unsigned char b = c;
        if (c >= 0x80) {
            if (text_ != Text::Latin1 || (c != 0xC2 && c != 0xC3) || i + 1 >= n) return false;
            auto next = static_cast<unsigned char>(s[i + 1]);
            if ((next & 0xC0) != 0x80) return false;
            b = static_cast<unsigned char>(((c & 0x03) << 6) | (next & 0x3F));
            ++i;
        }
        if (w >= width) return false;
        out[w++] = static_cast<char>(b);
    }
    return true;
}

namespace {
std::atomic<int64_t> declined{0};
}

int64_t DbfRecordWriter::declinedRecords() { return declined.load(); }

bool DbfRecordWriter::put(int64_t record, const Value* values, size_t count, const std::vector<bool>* only) {
    if (record < 0 || record >= static_cast<int64_t>(layout_.records)) return false;
    const size_t len = layout_.recordLength;
    if (only) {
        // The record as it is: gathered here, or in the file.
        if (runCount_ > 0 && record >= runFirst_ && record < runFirst_ + runCount_) {
            std::memcpy(scratch_.data(), &run_[static_cast<size_t>(record - runFirst_) * len], len);
        } else {
            const off_t at = static_cast<off_t>(layout_.headerLength) + static_cast<off_t>(record) * static_cast<off_t>(len);
            if (!readAll(fd_, scratch_.data(), len, at)) return false;
        }
    }
    if (!format(values, count, scratch_.data(), only)) {
        ++declined;
        return false;
    }
    if (only && runCount_ > 0 && record >= runFirst_ && record < runFirst_ + runCount_) {
        std::memcpy(&run_[static_cast<size_t>(record - runFirst_) * len], scratch_.data(), len);
        return true;
    }
    const int64_t maxRun = std::max<int64_t>(1, (1 << 20) / static_cast<int64_t>(len));
    if (runCount_ > 0 && (record != runFirst_ + runCount_ || runCount_ >= maxRun)) flush();
    if (runCount_ == 0) runFirst_ = record;
    run_.resize(static_cast<size_t>(runCount_ + 1) * len);
    std::memcpy(&run_[static_cast<size_t>(runCount_) * len], scratch_.data(), len);
    ++runCount_;
    return true;
}

void DbfRecordWriter::flush() {
    if (runCount_ == 0) return;
    const size_t len = layout_.recordLength;
    const size_t bytes = static_cast<size_t>(runCount_) * len;
    const off_t at = static_cast<off_t>(layout_.headerLength) + static_cast<off_t>(runFirst_) * static_cast<off_t>(len);
    int64_t count = runCount_;
    runCount_ = 0;
    // Each record keeps its deletion flag as the file has it.
    std::vector<char> flags(bytes);
    if (!readAll(fd_, flags.data(), bytes, at))
        fail(err::HostGeneric, kSource, "Cannot read the records of " + fileOfTemporary(path_).string() + ": " + errnoText());
    for (int64_t r = 0; r < count; ++r) run_[static_cast<size_t>(r) * len] = flags[static_cast<size_t>(r) * len];
    if (int e = testing::injected(testing::Step::Write, path_))
        fail(err::HostGeneric, kSource, "Cannot write the records of " + fileOfTemporary(path_).string() + ": " + std::strerror(e));
    if (!writeAll(fd_, run_.data(), bytes, at))
        fail(err::HostGeneric, kSource, "Cannot write the records of " + fileOfTemporary(path_).string() + ": " + errnoText());
    if (!dated_) {
        auto date = dbfUpdateDate();
        if (!writeAll(fd_, date.data(), 3, 1))
            fail(err::HostGeneric, kSource, "Cannot write the header of " + fileOfTemporary(path_).string() + ": " + errnoText());
        dated_ = true;
    }
}

bool DbfRecordWriter::append(const Value* values, size_t count) {
    const size_t len = layout_.recordLength;
    const size_t at = appended_.size();
    appended_.resize(at + len);
    if (!format(values, count, &appended_[at], nullptr)) {
        ++declined;
        appended_.resize(at);
        return false;
    }
    ++appendedCount_;
    return true;
}

void DbfRecordWriter::flushAppended() {
    if (appendedCount_ == 0) return;
    const off_t end = static_cast<off_t>(layout_.headerLength) +
                      static_cast<off_t>(layout_.records) * static_cast<off_t>(layout_.recordLength);
    appended_.push_back(kEndOfFile);
    const uint64_t records = static_cast<uint64_t>(layout_.records) + static_cast<uint64_t>(appendedCount_);
    if (records > 0xFFFFFFFFu) fail(err::HostGeneric, kSource, "Too many records for " + path_ + ".");
    // The records and the mark first: until the header counts them, the
    // file reads as it was.
    if (!writeAll(fd_, appended_.data(), appended_.size(), end))
        fail(err::HostGeneric, kSource, "Cannot write the records of " + path_ + ": " + errnoText());
    uint8_t header[7];
    auto date = dbfUpdateDate();
    std::memcpy(header, date.data(), 3);
    put32(header + 3, static_cast<uint32_t>(records));
    if (!writeAll(fd_, header, sizeof header, 1))
        fail(err::HostGeneric, kSource, "Cannot write the header of " + path_ + ": " + errnoText());
    dated_ = true;
    layout_.records = static_cast<uint32_t>(records);
    appended_.clear();
    appendedCount_ = 0;
}

void DbfRecordWriter::refreshCount() {
    uint8_t n[4];
    if (readAll(fd_, n, 4, 4)) layout_.records = le32(n);
}

// ---- copies ------------------------------------------------------------------------

void copyFileInto(const std::filesystem::path& from, const std::filesystem::path& to) {
    auto refuse = [&](const char* what) {
        fail(err::HostGeneric, kSource, std::string("Cannot ") + what + " " + from.string() + ": " + errnoText() + ".");
    };
    Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.fd < 0) refuse("read");
    Fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (out.fd < 0) refuse("write");
    if (int e = testing::injected(testing::Step::Write, to)) {
        errno = e;
        refuse("write");
    }
    // The kernel copies (much cheaper for the writes that follow into the
    // copy); where it cannot, the bytes go through here.
    bool copied = false;
    for (;;) {
        ssize_t n = ::copy_file_range(in.fd, nullptr, out.fd, nullptr, size_t{1} << 30, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && !copied && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) break;
        if (n < 0) refuse("write");
        if (n == 0) break;
        copied = true;
    }
    if (!copied) {
        std::vector<char> buffer(size_t{1} << 20);
        for (;;) {
            ssize_t n = ::read(in.fd, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) refuse("read");
            if (n == 0) break;
            writeAllTo(out.fd, std::string_view(buffer.data(), static_cast<size_t>(n)), to);
        }
    }
    int fd = out.fd;
    out.fd = -1;
    if (::close(fd) != 0) refuse("write");
}

bool readAt(int fd, void* buf, size_t n, off_t at) { return readAll(fd, buf, n, at); }
bool writeAt(int fd, const void* buf, size_t n, off_t at) { return writeAll(fd, buf, n, at); }

}  // namespace korvane::host::data
