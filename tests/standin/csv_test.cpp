// CSV files open as Excel opens them: typed fields, exact numbers, quoting,
// line ends, names, and clear errors for what cannot be read.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>

#include "fixture.h"

namespace {

using standin::Blank;
using standin::Error;
using standin::Value;
using CsvTest = HostTest;

TEST_F(CsvTest, NamesWorkbookAndSheetAfterTheFile) {
  standin::SheetId id = standin::OpenCsvText("/data/prices.csv", "1\n");
  EXPECT_EQ(standin::BookName(id), "prices.csv");
  EXPECT_EQ(standin::SheetName(id), "prices");
  EXPECT_EQ(standin::ActiveSheet(), id);
  EXPECT_EQ(standin::FindSheet("prices.csv", "PRICES"), id) << "names ignore case";
  EXPECT_THROW(standin::OpenCsvText("prices.csv", "2\n"), standin::HostError)
      << "a second workbook of the same name";
}

TEST_F(CsvTest, TypesEachField) {
  standin::SheetId id = standin::OpenCsvText(
      "t.csv", "1.5,true,FALSE,#N/A,#value!,#REF!,#DIV/0!,#NUM!,#NAME?,#NULL!,,abc,-2e3,+4,inf,nan,0x10, 7\n");
  std::vector<Value> expect = {1.5,
                               true,
                               false,
                               Error{xlerrNA},
                               Error{xlerrValue},
                               Error{xlerrRef},
                               Error{xlerrDiv0},
                               Error{xlerrNum},
                               Error{xlerrName},
                               Error{xlerrNull},
                               Blank{},
                               std::string("abc"),
                               -2000.0,
                               4.0,
                               std::string("inf"),
                               std::string("nan"),
                               std::string("0x10"),
                               std::string(" 7")};
  for (std::size_t c = 0; c < expect.size(); ++c)
    EXPECT_EQ(standin::GetCell(id, 0, static_cast<int>(c)), expect[c]) << "column " << c;
}

TEST_F(CsvTest, NumbersAreCorrectlyRounded) {
  // strtod is correctly rounded in glibc: an independent reader.
  std::mt19937_64 rng(7);
  std::string text;
  std::vector<std::string> fields;
  for (int i = 0; i < 2000; ++i) {
    char buf[64];
    std::uniform_real_distribution<double> mantissa(-10, 10);
    std::uniform_int_distribution<int> exponent(-300, 300);
    std::snprintf(buf, sizeof buf, "%.*fe%d", 1 + i % 25, mantissa(rng), exponent(rng));
    fields.push_back(buf);
    text += fields.back() + "\n";
  }
  fields.push_back("0.1000000000000000055511151231257827");
  text += fields.back() + "\n";
  standin::SheetId id = standin::OpenCsvText("n.csv", text);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    double expect = std::strtod(fields[i].c_str(), nullptr);
    standin::Value v = standin::GetCell(id, static_cast<int>(i), 0);
    ASSERT_TRUE(std::holds_alternative<double>(v)) << fields[i];
    EXPECT_EQ(std::get<double>(v), expect) << fields[i];
  }
}

TEST_F(CsvTest, QuotingAndLineEnds) {
  standin::SheetId id =
      standin::OpenCsvText("q.csv", "\"a,b\",\"say \"\"hi\"\"\",\"line\r\nbreak\"\r\n\"12\",\"\",x\rlast");
  EXPECT_EQ(standin::GetCell(id, "A1"), Value{std::string("a,b")});
  EXPECT_EQ(standin::GetCell(id, "B1"), Value{std::string("say \"hi\"")});
  EXPECT_EQ(standin::GetCell(id, "C1"), Value{std::string("line\r\nbreak")});
  EXPECT_EQ(standin::GetCell(id, "A2"), Value{12.0}) << "a quoted number is still a number";
  EXPECT_EQ(standin::GetCell(id, "B2"), Value{Blank{}});
  EXPECT_EQ(standin::GetCell(id, "C2"), Value{std::string("x")});
  EXPECT_EQ(standin::GetCell(id, "A3"), Value{std::string("last")}) << "lone CR ends a record";
  EXPECT_EQ(standin::GetCell(id, "A4"), Value{Blank{}});
}

TEST_F(CsvTest, UnterminatedQuoteKeepsTheRestAsText) {
  standin::SheetId id = standin::OpenCsvText("u.csv", "1,\"open\n2");
  EXPECT_EQ(standin::GetCell(id, "B1"), Value{std::string("open\n2")});
}

TEST_F(CsvTest, ShapesBeyondTheSheetAreRefused) {
  std::string wide;
  for (int c = 0; c < 257; ++c) wide += c ? ",1" : "1";
  EXPECT_THROW(standin::OpenCsvText("wide.csv", wide), standin::HostError);
  standin::SetHostVersion("7.0");
  std::string tall;
  for (int r = 0; r < 16385; ++r) tall += "1\n";
  EXPECT_THROW(standin::OpenCsvText("tall.csv", tall), standin::HostError);
  standin::SetHostVersion("8.0");
  EXPECT_NO_THROW(standin::OpenCsvText("tall.csv", tall)) << "fits 65,536 rows";
  EXPECT_EQ(standin::GetCell(standin::ActiveSheet(), 16384, 0), Value{1.0});
}

TEST_F(CsvTest, FilesOnDisk) {
  std::string path = testing::TempDir() + "/walk part.csv";
  {
    std::ofstream out(path, std::ios::binary);
    out << "x\r\n1\r\n2\r\n";
  }
  standin::SheetId id = standin::OpenCsvFile(path);
  EXPECT_EQ(standin::SheetName(id), "walk part");
  EXPECT_EQ(standin::GetCell(id, "A3"), Value{2.0});
  std::remove(path.c_str());
  EXPECT_THROW(standin::OpenCsvFile(path), standin::HostError);
  EXPECT_THROW(standin::OpenCsvFile(testing::TempDir()), standin::HostError) << "a directory";
}

}  // namespace
