// Large clustered landscapes written straight to a `.flt` + `.hdr`, row by
// row (the grid is never held whole), and the plain read of such a file that
// the benchmark measures fragstat against.
//
//   fragstat_landfile write BASE SIDE [--fine]   clustered classes, 2 % no-data
//   fragstat_landfile read FILE                  reads the file once, sums its values
//
// Fractal value noise from hashed lattice points at scales 256 .. 1 (with
// --fine, 16 .. 1: many small patches), cut into 6 classes of about equal share.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

float lattice(uint64_t scale, int64_t r, int64_t c) {
    uint64_t h = (static_cast<uint64_t>(r) * 0x9E3779B97F4A7C15ull) ^ (static_cast<uint64_t>(c) * 0xC2B2AE3D27D4EB4Full) ^
                 (scale * 0x165667B19E3779F9ull);
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ull;
    h ^= h >> 33;
    return static_cast<float>(h >> 40) / static_cast<float>(1 << 24);
}

int write(const std::string& base, int64_t n, bool fine) {
    const int64_t top = fine ? 16 : 256;
    // The noise sums to about [0, total]; classes cut at quantiles of a
    // sample of cells.
    std::vector<float> sample;
    auto value = [&](int64_t r, int64_t c) {
        float v = 0, w = 1;
        for (int64_t s = top; s >= 1; s /= 2, w *= 0.55f) {
            const int64_t lr = r / s, lc = c / s;
            const float fr = static_cast<float>(r % s) / static_cast<float>(s);
            const float fc = static_cast<float>(c % s) / static_cast<float>(s);
            const float a = lattice(s, lr, lc), b = lattice(s, lr, lc + 1);
            const float d = lattice(s, lr + 1, lc), e = lattice(s, lr + 1, lc + 1);
            const float t = a + (b - a) * fc, u = d + (e - d) * fc;
            v += w * (t + (u - t) * fr);
        }
        return v;
    };
    for (int k = 0; k < 200000; ++k) {
        const auto r = static_cast<int64_t>(lattice(7, k, 1) * static_cast<float>(n)) % n;
        const auto c = static_cast<int64_t>(lattice(7, k, 2) * static_cast<float>(n)) % n;
        sample.push_back(value(r, c));
    }
    std::sort(sample.begin(), sample.end());
    constexpr int kClasses = 6;
    float cut[kClasses - 1];
    for (int k = 1; k < kClasses; ++k) cut[k - 1] = sample[sample.size() * k / kClasses];
    FILE* f = std::fopen((base + ".flt").c_str(), "wb");
    if (!f) return 1;
    std::vector<float> row(static_cast<size_t>(n));
    for (int64_t r = 0; r < n; ++r) {
        for (int64_t c = 0; c < n; ++c) {
            if (lattice(3, r, c) < 0.02f) {
                row[c] = -9999.0f;
                continue;
            }
            const float v = value(r, c);
            int k = 0;
            while (k < kClasses - 1 && v >= cut[k]) ++k;
            row[c] = static_cast<float>(k + 1);
        }
        if (std::fwrite(row.data(), 4, row.size(), f) != row.size()) return 1;
    }
    if (std::fclose(f) != 0) return 1;
    std::ofstream h(base + ".hdr");
    h << "ncols " << n << "\nnrows " << n << "\nxllcorner 0\nyllcorner 0\ncellsize 30\nNODATA_value -9999\n"
      << "byteorder LSBFIRST\n";
    return h ? 0 : 1;
}

int read(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return 1;
    std::vector<float> buf(1 << 20);
    double sum = 0;
    for (;;) {
        const ssize_t m = ::read(fd, buf.data(), buf.size() * 4);
        if (m <= 0) break;
        for (ssize_t i = 0; i < m / 4; ++i) sum += buf[i];
    }
    ::close(fd);
    std::printf("%.1f\n", sum);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "write") == 0)
        return write(argv[2], std::atoll(argv[3]), argc > 4 && std::strcmp(argv[4], "--fine") == 0);
    if (argc == 3 && std::strcmp(argv[1], "read") == 0) return read(argv[2]);
    std::fprintf(stderr, "usage: fragstat_landfile write BASE SIDE [--fine] | read FILE\n");
    return 2;
}
