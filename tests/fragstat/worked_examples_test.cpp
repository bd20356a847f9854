// The worked examples of the metric reference, value by value.
#include "support.h"

namespace {
using namespace kvtest;
constexpr double kTol = 1.5e-6;  // the examples are printed to 6 decimals
const double kUndef = NAN;

const std::vector<std::string> kExample1 = {"1 1 2 2", "1 1 2 2", "2 2 1 2", "2 2 2 1"};

TEST(WorkedExample1, EightNeighbourRuleWithoutBoundary) {
    const Results r = compute(grid_of(kExample1), params(10, 10, 0, true));
    expect_row(r.landscape,
               {{"TA", 0.16}, {"NP", 2}, {"TE", 100}, {"ED", 625}, {"LPI", 62.5}, {"MPS", 0.08}, {"PSSD", 0.02},
                {"PSCV", 25}, {"MSI", 1.607066}, {"AWMSI", 1.600584}, {"MPFD", 1.142987}, {"AWMPFD", 1.140402},
                {"LSI", 1.625}, {"DLFD", 0.873658}, {"TCA", 0}, {"NCA", 0}, {"CAD", 0}, {"MCA1", 0}, {"CASD1", 0},
                {"CACV1", kUndef}, {"MCA2", kUndef}, {"CASD2", kUndef}, {"CACV2", kUndef}, {"TCAI", 0},
                {"MCAI", 0}, {"MNN", kUndef}, {"NNSD", kUndef}, {"NNCV", kUndef}, {"MPI", 0}, {"IJI", kUndef},
                {"SHDI", 0.661563}, {"SHEI", 0.954434}, {"SIDI", 0.46875}, {"SIEI", 0.9375}, {"MSIDI", 0.632523},
                {"MSIEI", 0.912537}, {"PR", 2}, {"PRD", 1250}, {"RPR", kUndef}, {"CWED", kUndef}},
               kTol, "landscape");
    expect_row(cls(r, 1).row,
               {{"CA", 0.06}, {"%LAND", 37.5}, {"NP", 1}, {"TE", 100}, {"ED", 625}, {"LPI", 37.5},
                {"MSI", 1.632993}, {"LSI", 1.0}, {"DLFD", kUndef}, {"MNN", kUndef}, {"MPI", 0}, {"IJI", kUndef}},
               kTol, "class 1");
    expect_row(cls(r, 2).row,
               {{"CA", 0.10}, {"%LAND", 62.5}, {"NP", 1}, {"TE", 100}, {"LPI", 62.5}, {"MSI", 1.581139},
                {"LSI", 1.25}},
               kTol, "class 2");
}

TEST(WorkedExample1, FullBoundaryWeight) {
    const Results r = compute(grid_of(kExample1), params(10, 10, 1, true));
    expect_row(r.landscape, {{"TE", 260}, {"ED", 1625}, {"LSI", 1.625}}, kTol, "landscape");
    expect_row(cls(r, 1).row, {{"TE", 160}, {"ED", 1000}, {"LSI", 1.0}}, kTol, "class 1");
    expect_row(cls(r, 2).row, {{"TE", 200}, {"ED", 1250}, {"LSI", 1.25}}, kTol, "class 2");
}

TEST(WorkedExample1, FourNeighbourRule) {
    const Results r = compute(grid_of(kExample1), params(10, 10, 0, false));
    expect_row(r.landscape,
               {{"NP", 5}, {"TE", 100}, {"LSI", 1.625}, {"SHDI", 0.661563}, {"MSI", 1.047214}, {"MNN", 14.142136},
                {"NNSD", 0}, {"MPI", 1.825}, {"DLFD", 1.115835}},
               kTol, "landscape");
    expect_row(cls(r, 1).row,
               {{"NP", 3}, {"MPS", 0.02}, {"PSSD", 0.014142}, {"PSCV", 70.710678}, {"MSI", 1}, {"LPI", 25},
                {"MNN", 14.142136}, {"NNSD", 0}, {"MPI", 1.375}, {"DLFD", kUndef}, {"TE", 100}},
               kTol, "class 1");
    expect_row(cls(r, 2).row,
               {{"NP", 2}, {"MSI", 1.118034}, {"LPI", 31.25}, {"MNN", 14.142136}, {"MPI", 2.5}, {"DLFD", kUndef}},
               kTol, "class 2");
}

const std::vector<std::string> kExample2 = {
    "2 2 2 2 2 2 2 2 2 2 2", "2 1 1 1 2 1 1 1 2 2 2", "2 1 1 1 1 1 1 1 2 2 1",
    "2 1 1 1 2 1 1 1 2 2 2", "2 2 2 2 2 2 2 2 2 2 2"};

TEST(WorkedExample2, CoresNearestNeighbourAndProximity) {
    const Results r = compute(grid_of(kExample2), params(10, 10, 0, true));
    expect_row(r.landscape,
               {{"TA", 0.55}, {"TE", 270}, {"ED", 490.909091}, {"TCA", 0.06}, {"NCA", 4}, {"CAD", 727.272727},
                {"MCA1", 0.02}, {"CASD1", 0.016330}, {"CACV1", 81.649658}, {"MCA2", 0.015}, {"CASD2", 0.005},
                {"CACV2", 33.333333}, {"TCAI", 10.909091}, {"MCAI", 8.922306}, {"LSI", 1.988890}, {"MNN", 30},
                {"MPI", 0.740741}, {"SHDI", 0.655482}, {"SHEI", 0.945660}, {"SIDI", 0.462810}, {"SIEI", 0.925620},
                {"MSIDI", 0.621403}, {"MSIEI", 0.896495}, {"PRD", 363.636364}},
               kTol, "landscape");
    expect_row(cls(r, 1).row,
               {{"TE", 270}, {"ED", 490.909091}, {"TCA", 0.04}, {"C%LAND", 7.272727}, {"NCA", 2},
                {"CAD", 363.636364}, {"MCA1", 0.02}, {"CASD1", 0.02}, {"CACV1", 100}, {"MCA2", 0.02}, {"CASD2", 0},
                {"CACV2", 0}, {"TCAI", 20}, {"MCAI", 10.526316}, {"MSI", 1.188247}, {"AWMSI", 1.357670},
                {"LSI", 0.943880}, {"DLFD", kUndef}, {"MNN", 30}, {"NNSD", 0}, {"MPI", 1.111111}},
               kTol, "class 1");
    expect_row(cls(r, 2).row,
               {{"TE", 270}, {"TCA", 0.02}, {"NCA", 2}, {"MCA1", 0.02}, {"MCA2", 0.01}, {"TCAI", 5.714286},
                {"LSI", 1.955180}, {"MNN", kUndef}, {"MPI", 0}},
               kTol, "class 2");
}

TEST(WorkedExample2, NonIntegralEdgeDepthUsesTheDistanceRule) {
    const Results r = compute(grid_of(kExample2), params(10, 15, 0, true));
    expect_row(cls(r, 1).row, {{"TCA", 0.02}, {"NCA", 2}}, kTol, "class 1");
    expect_row(cls(r, 2).row, {{"TCA", 0}, {"NCA", 0}, {"MCA2", kUndef}}, kTol, "class 2");
}

TEST(WorkedExample3, NoDataCellHalfBoundaryWeightAndInterspersion) {
    const Results r = compute(grid_of({"1 1 2", "1 3 2", "3 3 x"}), params(30, 30, 0.5, true));
    expect_row(r.landscape,
               {{"TA", 0.72}, {"NP", 3}, {"TE", 330}, {"ED", 458.333333}, {"LSI", 1.502602}, {"IJI", 86.497352},
                {"SHDI", 1.082196}, {"SHEI", 0.985057}, {"SIDI", 0.65625}, {"SIEI", 0.984375},
                {"MSIDI", 1.067841}, {"MSIEI", 0.971990}, {"PR", 3}, {"PRD", 416.666667}, {"TCA", 0},
                {"MNN", kUndef}, {"CWED", kUndef}},
               kTol, "landscape");
    expect_row(cls(r, 1).row, {{"TE", 180}, {"MSI", 1.154701}, {"IJI", 81.127812}}, kTol, "class 1");
    expect_row(cls(r, 2).row, {{"TE", 120}, {"MSI", 1.060660}, {"IJI", 100}}, kTol, "class 2");
    expect_row(cls(r, 3).row, {{"TE", 180}, {"IJI", 81.127812}}, kTol, "class 3");
}

}  // namespace
