// The point formats: each format's header and rows, which points each
// writes, the number texts, and the counts the clouds name.
#include "model/point_export.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>
#include <vector>

namespace qz417 {
namespace {

using Points = std::array<ProfilePoint, kProfilePoints>;

// Point k at x = k - 512 + 0.25, z = k / 8; every third point invalid.
Points MakePoints() {
    Points points{};
    for (std::size_t k = 0; k < points.size(); ++k) {
        points[k].valid = k % 3 != 0;
        points[k].x = static_cast<float>(k) - 512.0f + 0.25f;
        points[k].z = static_cast<float>(k) / 8.0f;
    }
    return points;
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

float FloatAt(const std::string &bytes, std::size_t at) {
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < 4; ++i)
        bits |= std::uint32_t{static_cast<std::uint8_t>(bytes[at + i])} << (8 * i);
    float v = 0;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

TEST(PointExport, CsvWritesEveryPointWithItsFlagOrTheValidOnesWithTheirTime) {
    const Points points = MakePoints();
    const auto flagged = MakeCsvExporter(CsvColumns::ValidFlag);
    EXPECT_FALSE(flagged->HeaderNamesCounts());
    std::string out = flagged->Header(0, 0);
    EXPECT_EQ(flagged->Append(out, {points, 77, 0.0, 0.0f}), 1024u);
    auto lines = Lines(out);
    ASSERT_EQ(lines.size(), 1u + 1024u);
    EXPECT_EQ(lines[0], "profile,point,valid,x_mm,z_mm");
    EXPECT_EQ(lines[1], "77,1,0,,");
    EXPECT_EQ(lines[2], "77,2,1,-510.75,0.125");
    EXPECT_EQ(lines[1023], "77,1023,1,510.25,127.75");
    EXPECT_EQ(lines[1024], "77,1024,0,,");

    const auto timed = MakeCsvExporter(CsvColumns::Time);
    out = timed->Header(5, 0);
    EXPECT_EQ(timed->Append(out, {points, 3, 1.5, 0.0f}), 682u);
    lines = Lines(out);
    ASSERT_EQ(lines.size(), 1u + 682u);
    EXPECT_EQ(lines[0], "profile,point,time_s,x_mm,z_mm");
    EXPECT_EQ(lines[1], "3,2,1.500000000,-510.75,0.125");
    EXPECT_EQ(lines[2], "3,3,1.500000000,-509.75,0.25");
}

TEST(PointExport, NumbersAreTheShortestTextThatReadsBack) {
    Points points{};
    points[0] = {true, 115.0f, -115.0f};
    points[1] = {true, 0.0152587890625f, 1e-7f};
    const auto csv = MakeCsvExporter(CsvColumns::ValidFlag);
    std::string out;
    csv->Append(out, {points, 1, 0.0, 0.0f});
    const auto lines = Lines(out);
    EXPECT_EQ(lines[0], "1,1,1,115,-115");
    EXPECT_EQ(lines[1], "1,2,1,0.015258789,1e-07");
}

TEST(PointExport, PlyHoldsTheValidPointsAndNamesTheirCount) {
    const Points points = MakePoints();
    for (const CloudEncoding encoding : {CloudEncoding::Ascii, CloudEncoding::Binary}) {
        const auto ply = MakePlyExporter(encoding, "made here");
        EXPECT_TRUE(ply->HeaderNamesCounts());
        EXPECT_EQ(ply->CommentMark(), "comment");
        const bool binary = encoding == CloudEncoding::Binary;
        EXPECT_EQ(ply->Header(2, 1364),
                  std::string("ply\nformat ") + (binary ? "binary_little_endian" : "ascii") +
                      " 1.0\ncomment made here\nelement vertex 1364\nproperty float x\n"
                      "property float y\nproperty float z\nend_header\n");
        std::string body;
        EXPECT_EQ(ply->Append(body, {points, 0, 0.0, 2.5f}), 682u);
        if (binary) {
            ASSERT_EQ(body.size(), 682u * 12u);
            EXPECT_EQ(FloatAt(body, 0), -510.75f);
            EXPECT_EQ(FloatAt(body, 4), 2.5f);
            EXPECT_EQ(FloatAt(body, 8), 0.125f);
        } else {
            const auto lines = Lines(body);
            ASSERT_EQ(lines.size(), 682u);
            EXPECT_EQ(lines[0], "-510.75 2.5 0.125");
        }
    }
}

TEST(PointExport, PcdOrganisedKeepsEveryPointAndUnorganisedTheValidOnes) {
    const Points points = MakePoints();
    const auto organised = MakePcdExporter(PcdShape::Organised, CloudEncoding::Ascii, {"a", "b"});
    EXPECT_EQ(organised->CommentMark(), "#");
    EXPECT_EQ(organised->Header(3, 3072),
              "# a\n# b\nVERSION 0.7\nFIELDS x y z\nSIZE 4 4 4\nTYPE F F F\nCOUNT 1 1 1\n"
              "WIDTH 1024\nHEIGHT 3\nVIEWPOINT 0 0 0 1 0 0 0\nPOINTS 3072\nDATA ascii\n");
    std::string body;
    EXPECT_EQ(organised->Append(body, {points, 0, 0.0, 1.0f}), 1024u);
    auto lines = Lines(body);
    ASSERT_EQ(lines.size(), 1024u);
    EXPECT_EQ(lines[0], "nan nan nan");
    EXPECT_EQ(lines[1], "-510.75 1 0.125");

    const auto binary = MakePcdExporter(PcdShape::Organised, CloudEncoding::Binary, {});
    body.clear();
    binary->Append(body, {points, 0, 0.0, 1.0f});
    ASSERT_EQ(body.size(), 1024u * 12u);
    EXPECT_TRUE(std::isnan(FloatAt(body, 0)) && std::isnan(FloatAt(body, 4)));
    EXPECT_EQ(FloatAt(body, 12), -510.75f);

    const auto loose = MakePcdExporter(PcdShape::Unorganised, CloudEncoding::Ascii, {"c"});
    EXPECT_EQ(loose->Header(3, 2046),
              "# c\nVERSION 0.7\nFIELDS x y z\nSIZE 4 4 4\nTYPE F F F\nCOUNT 1 1 1\n"
              "WIDTH 2046\nHEIGHT 1\nVIEWPOINT 0 0 0 1 0 0 0\nPOINTS 2046\nDATA ascii\n");
    body.clear();
    EXPECT_EQ(loose->Append(body, {points, 0, 0.0, 1.0f}), 682u);
    lines = Lines(body);
    EXPECT_EQ(lines.front(), "-510.75 1 0.125");
}

} // namespace
} // namespace qz417
