// Command line, grid header, text grid, cell values and weight file.
#include "support.h"

namespace {
using namespace kvtest;

std::vector<std::string> caller_line() {
    // What the grid library passes, field by field.
    return {"C:\\TEMP\\frag_av.flt", "C:\\TEMP\\frag_av", "30", "30", "7", "400", "500", "-9999", "$", "\"$\"",
            "$", "$", "1", "y", "1000000000", "n", "NO", "$"};
}

TEST(CommandLine, ReadsTheCallersEighteenFields) {
    const Options o = parse_command_line(caller_line());
    EXPECT_EQ(o.in_image, "C:\\TEMP\\frag_av.flt");
    EXPECT_EQ(o.out_base, "C:\\TEMP\\frag_av");
    EXPECT_EQ(o.cell_size, 30);
    EXPECT_EQ(o.edge_depth, 30);
    EXPECT_EQ(o.data_type, DataType::FloatGrid);
    EXPECT_EQ(o.rows, 400);
    EXPECT_EQ(o.cols, 500);
    EXPECT_EQ(o.background, -9999);
    EXPECT_FALSE(o.max_classes);
    EXPECT_FALSE(o.weight_file);  // a quoted "$"
    EXPECT_EQ(o.bwt, 1);
    EXPECT_TRUE(o.diags);
    EXPECT_EQ(o.prox_dist, 1e9);
    EXPECT_FALSE(o.nndist);
    EXPECT_FALSE(o.patch_stats);
    EXPECT_TRUE(o.class_stats);
}

TEST(CommandLine, DefaultsQuotesAndSplitPaths) {
    // Five fields are enough; "$" edge depth is the cell size.
    Options o = parse_command_line(std::vector<std::string>{"a.flt", "a", "0.25", "$", "7"});
    EXPECT_EQ(o.edge_depth, 0.25);
    EXPECT_FALSE(o.rows);
    EXPECT_TRUE(o.nndist && o.patch_stats && o.class_stats && o.diags);
    EXPECT_EQ(o.bwt, 1);

    // A quoted weight file with blanks stays one path.
    auto a = caller_line();
    a[9] = "\"/data/my weights.txt\"";
    EXPECT_EQ(parse_command_line(a).weight_file, "/data/my weights.txt");

    // Unquoted paths with blanks, split by a shell, are rejoined.
    std::vector<std::string> split = {"/tmp/my", "dir/frag_av.flt", "/tmp/my", "dir/frag_av"};
    split.insert(split.end(), a.begin() + 2, a.end());
    o = parse_command_line(split);
    EXPECT_EQ(o.in_image, "/tmp/my dir/frag_av.flt");
    EXPECT_EQ(o.out_base, "/tmp/my dir/frag_av");
    EXPECT_EQ(o.rows, 400);

    // The whole command as one string, program path and weight file quoted.
    const auto fields = split_command_string(
        "\"/opt/kv/fragstat\" /t/frag_av.flt /t/frag_av 30 30 7 4 5 -9999 $ \"/w w/x.txt\" $ $ 0.5 n 100 y NO $");
    ASSERT_EQ(fields.size(), 19u);
    EXPECT_EQ(fields[0], "/opt/kv/fragstat");
    o = parse_command_line(std::vector<std::string>(fields.begin() + 1, fields.end()));
    EXPECT_EQ(o.weight_file, "/w w/x.txt");
    EXPECT_EQ(o.bwt, 0.5);
    EXPECT_FALSE(o.diags);
    EXPECT_EQ(o.prox_dist, 100);
    EXPECT_TRUE(o.nndist);

    // A decimal comma from a comma locale.
    a = caller_line();
    a[2] = "0,5";
    EXPECT_EQ(parse_command_line(a).cell_size, 0.5);
}

TEST(CommandLine, RejectsBadFields) {
    struct Case {
        size_t field;
        const char* value;
    };
    const Case cases[] = {{2, "0"},     {2, "-30"},  {2, "abc"}, {2, "nan"},   {2, "inf"}, {2, "$"},
                          {3, "-1"},    {4, "3"},    {4, "x"},   {5, "0"},     {5, "2.5"}, {6, "-4"},
                          {7, "lots"},  {8, "0"},    {12, "1.5"}, {12, "-0.1"}, {13, "q"}, {14, "-1"},
                          {15, "maybe"}, {16, "1"},  {17, "?"},  {0, "$"},     {1, ""}};
    for (const auto& c : cases) {
        auto a = caller_line();
        a[c.field] = c.value;
        EXPECT_THROW(parse_command_line(a), UsageError) << "field " << c.field + 1 << " = '" << c.value << "'";
    }
    EXPECT_THROW(parse_command_line(std::vector<std::string>{"a.flt", "a", "30", "30"}), UsageError);
    auto extra = caller_line();
    extra.push_back("surplus");
    EXPECT_THROW(parse_command_line(extra), UsageError);
}

TEST(GridHeader, ReadsSizeByteOrderAndNoData) {
    GridHeader h = parse_grid_header("ncols 5\r\nNROWS 4\nxllcorner 0\ncellsize 30\nNODATA_value -9999\nbyteorder MSBFIRST\n");
    EXPECT_EQ(h.cols, 5);
    EXPECT_EQ(h.rows, 4);
    EXPECT_EQ(h.cell_size, 30);
    EXPECT_EQ(h.nodata, -9999);
    EXPECT_EQ(h.byte_order, ByteOrder::Big);
    EXPECT_EQ(parse_grid_header("").byte_order, ByteOrder::Little);
    for (const char* bad : {"ncols", "ncols -3", "nrows 2.5", "byteorder middle", "cellsize abc"})
        EXPECT_THROW(parse_grid_header(bad), InputError) << bad;
}

TEST(CellValues, OutsideBorderAndRejectedValues) {
    EXPECT_EQ(cell_code(-9999, -9999, std::nullopt), kOutsideCell);
    EXPECT_EQ(cell_code(std::nan(""), -9999, std::nullopt), kOutsideCell);
    EXPECT_EQ(cell_code(-3.4e38, -9999, -3.4e38), kOutsideCell);  // the header's own no-data value
    EXPECT_EQ(cell_code(0, 0, std::nullopt), kInteriorBackgroundCell);
    EXPECT_EQ(cell_code(2.9999, -9999, std::nullopt), 3);
    EXPECT_EQ(cell_code(-4, -9999, std::nullopt), -4);  // border cell of class 4
    for (double bad : {2.5, 1e10, -1e10, double(INFINITY), 3.01})
        EXPECT_THROW(cell_code(bad, -9999, std::nullopt), InputError) << bad;
}

TEST(TextGrid, HeaderOptionalSizeChecked) {
    ClassGrid g = parse_ascii_grid("1 2 3\n4, 5, 6\n", std::nullopt, std::nullopt, -9999);
    EXPECT_EQ(g.rows, 2);
    EXPECT_EQ(g.cols, 3);
    EXPECT_EQ(g.cells[4], 5);
    g = parse_ascii_grid("ncols 2\nnrows 2\nNODATA_value -1\n1 -1\n2 2\n", std::nullopt, std::nullopt, -9999);
    EXPECT_EQ(g.cells[1], kOutsideCell);
    EXPECT_THROW(parse_ascii_grid("1 2\n3\n", std::nullopt, std::nullopt, -9999), InputError);
    EXPECT_THROW(parse_ascii_grid("1 2\n3 4\n", 3, 2, -9999), InputError);
    EXPECT_THROW(parse_ascii_grid("1 b\n3 4\n", std::nullopt, std::nullopt, -9999), InputError);
    EXPECT_THROW(parse_ascii_grid("1 1.5\n3 4\n", std::nullopt, std::nullopt, -9999), InputError);
    EXPECT_THROW(parse_ascii_grid("", std::nullopt, std::nullopt, -9999), InputError);
}

TEST(WeightFile, PairsBackgroundAndBadLines) {
    std::vector<std::string> warnings;
    const WeightTable t = parse_weight_file(
        "# contrast\n1 2 0.5\n3,1, 0.25  # trailing comment\n\n2 1 0.75\n-9999 1 0.1\n1 4\n1 5 2\nx 1 0.3\n",
        -9999, warnings);
    EXPECT_EQ(t.weight(1, 2), 0.75);  // given twice: the last counts
    EXPECT_EQ(t.weight(2, 1), 0.75);
    EXPECT_EQ(t.weight(1, 3), 0.25);
    EXPECT_FALSE(t.weight(1, 4));
    EXPECT_EQ(t.background_weight(1), 0.1);
    EXPECT_FALSE(t.background_weight(2));
    EXPECT_EQ(warnings.size(), 4u);  // repeated pair, short line, weight 2, non-number
}

TEST(WeightFile, ContrastWeightedEdge) {
    // Example 3 grid: 1|3 = 3 sides, 1|2 = 1, 2|3 = 1; 12 boundary sides.
    std::vector<std::string> warnings;
    Params p = params(30, 30, 0.5, true);
    p.weights = parse_weight_file("1 3 1\n1 2 0.5\n-9999 2 0\n", -9999, warnings);
    const Results r = compute(grid_of({"1 1 2", "1 3 2", "3 3 x"}), p);
    // 2|3 has no weight (0, with a warning); classes 1 and 3 use bwt for their
    // boundary, class 2 the listed 0.
    const double land = (3 * 30 * 1 + 30 * 0.5 + 0 + 4 * 30 * 0.5 + 0 + 4 * 30 * 0.5) / 0.72;
    expect_row(r.landscape, {{"CWED", land}}, 1e-9, "landscape");
    expect_row(cls(r, 2).row, {{"CWED", 30 * 0.5 / 0.72}}, 1e-9, "class 2");
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_NE(r.warnings[0].find("2 and 3"), std::string::npos);
}

}  // namespace
