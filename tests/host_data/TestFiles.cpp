#include "TestFiles.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace korvane::test {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
    std::string tmpl = (fs::temp_directory_path() / "kv-data-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempFolder::~TempFolder() {
    std::error_code ec;
    // Read-only files left by a test must not keep the folder alive.
    for (const auto& e : fs::recursive_directory_iterator(path_, ec))
        fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

void setReadOnly(const std::string& path, bool readOnly) {
    fs::perms w = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    fs::permissions(path, w, readOnly ? fs::perm_options::remove : fs::perm_options::add);
}

std::vector<DbfColumn> dbfColumns(const std::string& dbfPath) {
    std::vector<uint8_t> b = readBytes(dbfPath);
    std::vector<DbfColumn> out;
    for (size_t at = 32; at + 32 <= b.size() && b[at] != 0x0D; at += 32) {
        DbfColumn c;
        size_t n = 0;
        while (n < 11 && b[at + n] != 0) ++n;
        c.name.assign(reinterpret_cast<const char*>(&b[at]), n);
        c.type = static_cast<char>(b[at + 11]);
        c.width = b[at + 16];
        c.decimals = b[at + 17];
        out.push_back(c);
    }
    return out;
}

std::vector<int64_t> idsOf(korvane::host::Cursor c) {
    std::vector<int64_t> out;
    while (korvane::host::RowPtr r = c.next()) out.push_back(r->oid());
    return out;
}

std::string samplesFolder() { return KORVANE_SAMPLES; }

}  // namespace korvane::test
