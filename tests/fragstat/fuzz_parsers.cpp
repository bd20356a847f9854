// Mutation fuzzer for the command-line, grid-header, text-grid and weight
// parsers, and for the engine on whatever small grid survives parsing.
// Deterministic for a seed: `fragstat_fuzz --seconds N --seed S`. Only the
// documented errors may come out; anything else, or a sanitizer report, is a
// failure.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "fragstat/fragstat.h"

namespace {
using namespace korvane::fragstat;

[[noreturn]] void fail(const char* what, const std::string& input) {
    std::fprintf(stderr, "fuzz failure: %s\ninput (%zu bytes): ", what, input.size());
    for (unsigned char ch : input) std::fprintf(stderr, ch >= 32 && ch < 127 ? "%c" : "\\x%02x", ch);
    std::fprintf(stderr, "\n0 passed, 1 failed\n");
    std::exit(1);
}

void check_output_row(const MetricRow& row, const std::string& input) {
    for (const auto& v : row.values)
        if (v && !std::isfinite(*v)) fail("non-finite metric value", input);
}

// One input: the first byte picks the parser.
void one_input(const std::string& data) {
    if (data.empty()) return;
    const std::string body = data.substr(1);
    try {
        switch (static_cast<unsigned char>(data[0]) % 4) {
            case 0: {
                const auto fields = split_command_string(body);
                const Options o = parse_command_line(fields);
                if (!(o.cell_size > 0) || !std::isfinite(o.cell_size) || o.edge_depth < 0 || o.bwt < 0 || o.bwt > 1 ||
                    o.prox_dist < 0 || o.in_image.empty() || o.out_base.empty())
                    fail("command line accepted out-of-range values", data);
                break;
            }
            case 1:
                parse_grid_header(body);
                break;
            case 2: {
                const ClassGrid g = parse_ascii_grid(body, std::nullopt, std::nullopt, -9999);
                if (static_cast<int64_t>(g.cells.size()) != g.rows * g.cols) fail("grid size mismatch", data);
                if (g.cells.size() <= 400) {
                    const auto h = std::hash<std::string>{}(body);
                    Params p;
                    p.cell_size = 1 + static_cast<double>(h % 7);
                    p.edge_depth = static_cast<double>((h >> 3) % 30);
                    p.bwt = static_cast<double>((h >> 8) % 5) / 4;
                    p.diags = (h >> 11) & 1;
                    p.prox_dist = (h >> 12) & 1 ? 1e9 : 15;
                    p.patch_records = true;
                    const Results r = compute(g, p);
                    check_output_row(r.landscape, data);
                    for (const auto& c : r.classes) check_output_row(c.row, data);
                    if (land_line(r, "x").find("nan") != std::string::npos) fail("nan in output", data);
                }
                break;
            }
            default: {
                std::vector<std::string> warnings;
                parse_weight_file(body, -9999, warnings);
                break;
            }
        }
    } catch (const UsageError&) {
    } catch (const InputError&) {
    } catch (const std::exception& e) {
        fail(e.what(), data);
    }
}

const char* const kSeeds[] = {
    "\x00/t/frag_av.flt /t/frag_av 30 30 7 400 500 -9999 $ \"$\" $ $ 1 y 1000000000 n NO $",
    "\x00\"/a b/x.flt\" /ab/x 0.25 $ 7 $ $ $ 12 \"/w w.txt\" $ $ 0.5 n 25 y y n",
    "\x00/my dir/g.flt /my dir/g 1 1 2",
    "\x01ncols 5\nnrows 4\nxllcorner 0\nyllcorner 0\ncellsize 30\nNODATA_value -9999\nbyteorder LSBFIRST\n",
    "\x01NCOLS 3\r\nNROWS 3\r\nBYTEORDER MSBFIRST\r\n",
    "\x02ncols 4\nnrows 3\nNODATA_value -9999\n1 1 2 2\n1 -9999 2 3\n3 3 3 1\n",
    "\x02" "1 1 2 2\n1 1 2 2\n2 2 1 2\n2 2 2 1\n",
    "\x02" "2 2 2 2 2 2 2\n2 1 1 1 2 1 2\n2 1 1 1 1 1 2\n2 2 2 2 2 2 2\n",
    "\x02" "0 -2 3\n3,3,nan\n",
    "\x03# weights\n1 2 0.5\n2,3,1\n-9999 1 0.25\n",
};

const char kAlphabet[] = "0123456789-.,$\" \n\r\t#eEyYnNxX:/\\";

std::string mutate(std::string s, std::mt19937_64& rng, const std::vector<std::string>& corpus) {
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e) {
        const size_t pos = s.size() > 1 ? 1 + rng() % (s.size() - 1) : s.size();
        switch (rng() % 6) {
            case 0:  // replace a byte
                if (pos < s.size()) s[pos] = kAlphabet[rng() % (sizeof kAlphabet - 1)];
                break;
            case 1:  // insert a byte
                s.insert(s.begin() + static_cast<std::ptrdiff_t>(pos), kAlphabet[rng() % (sizeof kAlphabet - 1)]);
                break;
            case 2:  // delete a range
                if (pos < s.size()) s.erase(pos, 1 + rng() % std::min<size_t>(8, s.size() - pos));
                break;
            case 3: {  // duplicate a range
                if (pos < s.size()) {
                    const std::string piece = s.substr(pos, 1 + rng() % 16);
                    s.insert(pos, piece);
                }
                break;
            }
            case 4: {  // splice from another input
                const std::string& o = corpus[rng() % corpus.size()];
                if (o.size() > 1) s.insert(pos, o.substr(1 + rng() % (o.size() - 1), 1 + rng() % 24));
                break;
            }
            default:  // random raw byte
                if (pos < s.size()) s[pos] = static_cast<char>(rng() & 0xff);
        }
    }
    if (s.size() > 4096) s.resize(4096);
    return s;
}

}  // namespace

#ifdef KV_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    one_input(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
#else
int main(int argc, char** argv) {
    double seconds = 3;
    uint64_t seed = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
        else if (std::strcmp(argv[i], "--seed") == 0) seed = std::strtoull(argv[i + 1], nullptr, 10);
    }
    std::vector<std::string> corpus;
    for (const char* s : kSeeds) corpus.emplace_back(s, s[0] == 0 ? std::strlen(s + 1) + 1 : std::strlen(s));
    std::mt19937_64 rng(seed);
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int64_t runs = 0;
    for (const auto& s : corpus) one_input(s), ++runs;
    while (std::chrono::steady_clock::now() < until) {
        for (int k = 0; k < 64; ++k) {
            std::string input = mutate(corpus[rng() % corpus.size()], rng, corpus);
            one_input(input);
            ++runs;
            // Keep some mutants as new starting points, bounded.
            if (rng() % 16 == 0) {
                if (corpus.size() < 512) corpus.push_back(std::move(input));
                else corpus[std::size(kSeeds) + rng() % (512 - std::size(kSeeds))] = std::move(input);
            }
        }
    }
    std::printf("fragstat_fuzz: %lld inputs, seed %llu\n%lld passed, 0 failed\n", static_cast<long long>(runs),
                static_cast<unsigned long long>(seed), static_cast<long long>(runs));
    return 0;
}
#endif
