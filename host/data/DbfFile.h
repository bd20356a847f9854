#pragma once
// Direct access to the dBASE file of a table, for the two writes that the
// shapefile driver makes slow: changing the fields (which it does by moving
// every record once per field) and rewriting one record's attributes (which
// it does together with the shape). Both write exactly the bytes the driver
// writes; anything this code does not reproduce exactly (unusual headers,
// field kinds or encodings, values the driver would warn about) is left to
// the driver. Internal to the data layer.
#include <ogrsf_frmts.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/data/Field.h"
#include "host/data/Value.h"

namespace korvane::host::data {

// One field descriptor as the header holds it.
struct DbfColumn {
    std::array<uint8_t, 32> raw{};
    std::string name;
    char type = 'C';
    int width = 0;
    int decimals = 0;
    int offset = 0;  // within the record, after the deletion flag
};

// The header of a dBASE file in the plain layout: one 32-byte block, the
// field descriptors, the terminator and then the records.
struct DbfLayout {
    uint32_t records = 0;
    uint32_t headerLength = 0;
    uint32_t recordLength = 0;
    uint8_t languageDriver = 0;
    std::vector<DbfColumn> columns;

    // Reads the header of an open file; nothing when the file is not in the
    // plain layout (extra header bytes, wide character fields, a record
    // length that does not add up, records missing from the file).
    static std::optional<DbfLayout> read(int fd);
};

// x with `decimals` digits after the point, exactly as printf's "%.*f"
// writes it in the C locale; its length, or 0 when it does not fit in size.
size_t formatFixed(double x, int decimals, char* out, size_t size);
// The length of that text, mostly without writing it.
size_t fixedLength(double x, int decimals);

// The header's last-update date as the driver writes it: today, in UTC.
std::array<uint8_t, 3> dbfUpdateDate();

// A field change of Table::addFields / deleteField / rewriteFields: fields
// added at the end (all in one rewrite), one column deleted, or (keep given)
// only the kept columns left, in their order, with the fields added after
// them.
struct DbfFieldChange {
    bool add = false;
    std::vector<FieldDef> fields;  // the fields added (checked, widths filled in)
    int column = -1;               // the column deleted
    std::optional<std::vector<int>> keep;  // the columns kept, ascending
};

// The columns of the layout that stay after the change.
std::vector<int> keptColumns(const DbfLayout& layout, const DbfFieldChange& change);

// Fills the added columns of one record while the file is rewritten: old is
// the record as the file holds it (deletion flag first), added the bytes of
// the added columns (each holding its empty fill). False stops the rewrite.
using DbfRecordFill = std::function<bool(uint32_t record, const char* old, char* added)>;

// A number as the driver writes it into a numeric column: right-aligned,
// with the column's decimals. False when the driver would not write it so
// (not finite, too wide, an integer past 2^53 in a column without decimals).
// v: a 32-bit integer, single or double; false for any other value.
bool formatDbfNumber(const Value& v, const DbfColumn& column, char* at);

// The field descriptor the driver writes for a new field.
DbfColumn newDbfColumn(const FieldDef& f);

// Whether the driver could make the change: false when the header or the
// record would grow past what a dBASE file can hold (the driver refuses).
bool dbfChangeFits(const DbfLayout& layout, const DbfFieldChange& change);

// Writes the file with the change made, in one pass, to a temporary file
// beside it that then replaces it. On any failure the file is left as it
// was and this fails (HostGeneric). fill, when given, writes the added
// columns of each record; when it stops the rewrite, the file is left as it
// was and this returns false.
bool restructureDbf(const std::string& dbfPath, const DbfLayout& layout, const DbfFieldChange& change,
                    const DbfRecordFill* fill = nullptr);

// Copies the file `from` whole into the new temporary `to` (see
// host/FileReplace.h), every error checked; fails (HostGeneric) naming `from`.
void copyFileInto(const std::filesystem::path& from, const std::filesystem::path& to);

// Writes whole records of an open dataset's .dbf in place, formatted as the
// driver formats a feature that it stores. Consecutive records are gathered
// and written together; records written are "dirty" for the driver, whose
// cached view of them is stale until the dataset is reopened.
class DbfRecordWriter {
public:
    // Nothing when the file or the layer's fields are not ones whose records
    // this writer reproduces (see the top of this file).
    static std::unique_ptr<DbfRecordWriter> open(const std::string& dbfPath, OGRLayer& layer);
    ~DbfRecordWriter();
    DbfRecordWriter(const DbfRecordWriter&) = delete;
    DbfRecordWriter& operator=(const DbfRecordWriter&) = delete;

    // Formats the attribute values (one per column, in order) as record
    // `record`; false when the driver would not write them exactly so (then
    // nothing is written and the caller stores the row through the driver).
    // only: the columns to write; every other column keeps the bytes the
    // record holds.
    bool put(int64_t record, const Value* values, size_t count, const std::vector<bool>* only = nullptr);
    // Writes the gathered records; fails (HostGeneric) on a write error.
    void flush();
    // Re-reads the record count after the driver added records.
    void refreshCount();

    // Formats the values as a new record after the last (one value per
    // column); false when the driver would not write them exactly so (then
    // nothing is gathered). The record goes to the file with flushAppended.
    bool append(const Value* values, size_t count);
    // Records in the file plus those appended and not yet written.
    int64_t recordCount() const { return static_cast<int64_t>(layout_.records) + appendedCount_; }
    // The bytes of the records appended and not yet written.
    size_t appendedBytes() const { return appended_.size(); }
    // Writes the appended records after the last one, the end-of-file mark
    // after them, and then the header's record count and date; fails
    // (HostGeneric) on a write error.
    void flushAppended();

    // Records that put or append turned down because a value could not be
    // stored exactly (each then goes through the driver), over the process;
    // for tests.
    static int64_t declinedRecords();

private:
    DbfRecordWriter() = default;
    bool format(const Value* values, size_t count, char* out, const std::vector<bool>* only) const;

    struct Column {
        DbfColumn dbf;
        OGRFieldType ogrType = OFTString;
    };
    // How the driver turns text into the file's encoding.
    enum class Text {
        AsIs,       // UTF-8 files and files of no known encoding
        Latin1,     // ISO-8859-1
        AsciiOnly,  // single-byte code pages: ASCII text stays as it is
        Never,      // others: text goes through the driver
    };
    bool encode(const std::string& s, char* out, size_t width) const;

    std::string path_;
    Text text_ = Text::AsIs;
    int fd_ = -1;
    DbfLayout layout_;
    std::vector<Column> columns_;
    bool dated_ = false;
    // The run of consecutive records not written yet.
    int64_t runFirst_ = 0;
    int64_t runCount_ = 0;
    std::vector<char> run_;
    std::vector<char> scratch_;
    // Records appended and not written yet.
    int64_t appendedCount_ = 0;
    std::vector<char> appended_;
};

// pread and pwrite of exactly n bytes at an offset, retried after signals;
// false on an error or an early end of the file.
bool readAt(int fd, void* buf, size_t n, off_t at);
bool writeAt(int fd, const void* buf, size_t n, off_t at);

}  // namespace korvane::host::data
