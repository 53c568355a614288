// CSV files open as Excel opens them: typed fields, exact numbers, quoting,
// line ends, names, and clear errors for what cannot be read.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <random>

#include "fixture.h"
#include "standin/csv_reader.h"

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
      "t.csv", "1.5,true,FALSE,#N/A,#value!,#REF!,#DIV/0!,#NUM!,#NAME?,#NULL!,,abc,-2e3,+4,inf,nan,0x10, 7 \n");
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
                               7.0};
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

// Plain decimals of up to 19 significant digits, the bulk of a numeric
// file, take a short path of their own (one exact division up to 2^53,
// integer comparisons beyond); around its limits (15 to 20 digits, every
// split between whole and fraction, leading zeros, signs) it must give
// what strtod gives.
TEST_F(CsvTest, ShortDecimalsAreCorrectlyRounded) {
  std::mt19937_64 rng(11);
  int checked = 0;
  std::vector<std::string> texts;
  std::vector<double> expected;
  for (int digits = 1; digits <= 20; ++digits) {
    for (int point = 0; point <= digits; ++point) {
      for (int trial = 0; trial < 40; ++trial) {
        std::string text = rng() % 3 == 0 ? "-" : "";
        // Some fractions below 0.1, whose leading zeros are no significant
        // digits: "0.00" and seventeen more places still fit the short path.
        const int zeros = point == 1 && trial % 4 == 1 ? 1 + trial % 3 : 0;
        for (int d = 0; d < digits; ++d) {
          if (d == point && point > 0) text += '.' + std::string(static_cast<std::size_t>(zeros), '0');
          text += static_cast<char>('0' + ((trial == 0 || zeros != 0) && d == 0 ? 0 : rng() % 10));
        }
        const std::optional<double> read = standin::ReadNumberText(text);
        ASSERT_TRUE(read.has_value()) << text;
        double expect = std::strtod(text.c_str(), nullptr);
        if (expect == 0) expect = 0.0;  // a cell holds no negative zero
        EXPECT_EQ(std::memcmp(&*read, &expect, sizeof expect), 0) << text;
        texts.push_back(text);
        expected.push_back(expect);
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 9000);

  // The reader takes the same decimals while it looks for their ends: after
  // each one a comma, CR, LF, CRLF or the end of the text, and fields that
  // only begin like one ("12x", "1.5 ", "-", "3.", a long text) are read as
  // a whole.
  static const char* const kDelimiters[] = {",", "\r\n", "\n", "\r"};
  static const char* const kLookAlikes[] = {"12x", "1.5 ", "-",     "3.",       "7e2",
                                            "4%",  "(5)",  ":30", "/2/2020", "\xC3\xA9",
                                            " apples and pears quoted \"or\" not"};
  std::string csv;
  std::vector<std::vector<std::string>> records(1);
  for (std::size_t k = 0; k < texts.size(); ++k) {
    std::string field = texts[k];
    if (k % 97 == 0) field += kLookAlikes[(k / 97) % std::size(kLookAlikes)];
    csv += field;
    records.back().push_back(field);
    if (k + 1 == texts.size()) break;
    const char* delimiter = kDelimiters[rng() % std::size(kDelimiters)];
    csv += delimiter;
    if (delimiter[0] != ',') records.emplace_back();
  }
  standin::CsvReader reader(csv);
  for (const std::vector<std::string>& record : records) {
    ASSERT_TRUE(reader.Next());
    ASSERT_EQ(reader.fields().size(), record.size());
    for (std::size_t f = 0; f < record.size(); ++f) {
      const standin::CsvField& field = reader.fields()[f];
      const standin::CsvField alone = standin::TypeCsvField(record[f]);
      EXPECT_EQ(field.text, record[f]);
      ASSERT_EQ(field.kind, alone.kind) << record[f];
      EXPECT_EQ(std::memcmp(&field.number, &alone.number, sizeof alone.number), 0) << record[f];
      if (field.kind == standin::FieldKind::kNumber && field.text.find_first_of(":/%") == field.text.npos) {
        double expect = std::strtod(record[f].c_str(), nullptr);
        if (expect == 0) expect = 0.0;
        EXPECT_EQ(std::memcmp(&field.number, &expect, sizeof expect), 0) << record[f];
      }
    }
  }
  EXPECT_FALSE(reader.Next());
}

// The decimal t / 10^places written out: "12.345" for (12345, 3).
std::string PlainDecimal(std::uint64_t t, int places) {
  std::string digits = std::to_string(t);
  if (places == 0) return digits;
  if (static_cast<int>(digits.size()) <= places)
    digits.insert(0, static_cast<std::size_t>(places) + 1 - digits.size(), '0');
  digits.insert(digits.size() - static_cast<std::size_t>(places), ".");
  return digits;
}

// Decimals of 16 to 20 digits exactly halfway between two doubles, a unit
// of their last digit either side, and midpoints between doubles rounded
// to nineteen digits or places: where one division can land on the
// wrong neighbour. Halfway goes to the even one, as strtod does; alone and
// within a record.
TEST_F(CsvTest, LongDecimalsRoundHalfwayCasesToEven) {
  std::mt19937_64 rng(12);
  std::vector<std::string> texts;
  constexpr std::uint64_t kNineteenDigits = 10000000000000000000u;
  for (int trial = 0; trial < 360; ++trial) {
    const std::uint64_t m = (rng() >> 11) | (std::uint64_t{1} << 52);
    const std::uint64_t odd = 2 * m + 1;  // the midpoint above m * 2^e is odd * 2^(e - 1)
    const int half_exponent = trial % 9 - 4;
    std::uint64_t t = odd;
    int places = 0;
    if (half_exponent >= 0) {
      t = odd << half_exponent;
    } else {
      places = -half_exponent;
      std::uint64_t fifths = 1;
      for (int k = 0; k < places; ++k) fifths *= 5;
      t = (odd >> places) * (fifths << places) + (odd & ((std::uint64_t{1} << places) - 1)) * fifths;
    }
    texts.push_back(PlainDecimal(t, places));
    texts.push_back(PlainDecimal(t - 1, places));
    texts.push_back(PlainDecimal(t + 1, places));
    if (t < kNineteenDigits / 10) {
      texts.push_back(PlainDecimal(10 * t, places + 1));
      texts.push_back(PlainDecimal(10 * t - 1, places + 1));
      texts.push_back(PlainDecimal(10 * t + 1, places + 1));
    }
    if (trial % 2 == 0) texts.back().insert(0, "-");
  }
  int near = 0;
  if constexpr (std::numeric_limits<long double>::digits >= 64) {
    std::uniform_real_distribution<double> magnitude(-3, 3);
    for (int trial = 0; trial < 400; ++trial) {
      const double x = std::pow(10.0, magnitude(rng));
      const long double midpoint =
          (static_cast<long double>(x) + static_cast<long double>(std::nextafter(x, 1e300))) / 2;
      const int places = std::min(19, 18 - static_cast<int>(std::floor(std::log10(x))));
      if (places < 1) continue;
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.*Lf", places, midpoint);
      texts.push_back(buf);
      ++near;
    }
    EXPECT_GT(near, 300);
  }
  EXPECT_GT(texts.size(), 1500u);

  std::string csv;
  for (std::size_t k = 0; k < texts.size(); ++k) csv += texts[k] + (k % 10 == 9 ? "\n" : ",");
  standin::CsvReader reader(csv);
  std::size_t k = 0;
  while (reader.Next()) {
    for (const standin::CsvField& field : reader.fields()) {
      ASSERT_LT(k, texts.size());
      const std::string& text = texts[k++];
      ASSERT_EQ(field.text, text);
      double expect = std::strtod(text.c_str(), nullptr);
      if (expect == 0) expect = 0.0;
      ASSERT_EQ(field.kind, standin::FieldKind::kNumber) << text;
      EXPECT_EQ(std::memcmp(&field.number, &expect, sizeof expect), 0) << text;
      const std::optional<double> alone = standin::ReadNumberText(text);
      ASSERT_TRUE(alone.has_value()) << text;
      EXPECT_EQ(std::memcmp(&*alone, &expect, sizeof expect), 0) << text;
    }
  }
  EXPECT_EQ(k, texts.size());
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
}

// What cannot be read is an error, never an empty sheet.
TEST_F(CsvTest, UnreadableInputIsAnError) {
  auto message = [](const std::string& path) -> std::string {
    try {
      standin::ReadInputFile(path);
    } catch (const standin::HostError& e) {
      return e.what();
    }
    return "read";
  };
  EXPECT_NE(message(testing::TempDir()).find("is a directory"), std::string::npos)
      << message(testing::TempDir());
  // Its size says 0 and reading it fails at the first byte.
  EXPECT_NE(message("/proc/self/mem").find("cannot read /proc/self/mem"), std::string::npos)
      << message("/proc/self/mem");
  EXPECT_NE(message(testing::TempDir() + "/no such.csv").find("cannot open"), std::string::npos);
  EXPECT_THROW(standin::OpenCsvFile("/proc/self/mem"), standin::HostError);
  EXPECT_TRUE(standin::Workbooks().empty()) << "a failed open leaves no workbook";
  // A file the size hint gets wrong is still read whole.
  EXPECT_EQ(standin::ReadInputFile("/proc/self/cmdline").empty(), false);
}

// Forms checked against a spreadsheet program's CSV import (English, United
// States); the values are the doubles nearest the decimals they stand for.
TEST_F(CsvTest, NumberFormsReadAsTheSpreadsheetReadsThem) {
  struct Form {
    const char* text;
    const char* number;  // the plain decimal it reads as; nullptr: text
  };
  const Form forms[] = {
      {"1", "1"},           {"-1.5", "-1.5"},        {"+4", "4"},
      {".5", "0.5"},        {"5.", "5"},             {"-.5", "-0.5"},
      {"1e5", "1e5"},       {"1E+5", "1e5"},         {"1.5e-3", "0.0015"},
      {"00012", "12"},      {" 7", "7"},             {"7 ", "7"},
      {"1,234.50", "1234.5"}, {"1,234", "1234"},     {"1,234,567.1", "1234567.1"},
      {"-1,234", "-1234"},  {"1,234.", "1234"},      {"1,234.5e3", "1234500"},
      {"5%", "0.05"},       {"-5%", "-0.05"},        {"5.5%", "0.055"},
      {"1,000%", "10"},     {"5 %", "0.05"},         {"0.07%", "0.0007"},
      {"$99.10", "99.1"},   {"-$99.10", "-99.1"},    {"$-99.10", "-99.1"},
      {"+$5", "5"},         {"$+5", "5"},            {"$ 5", "5"},
      {"$1,234.50", "1234.5"}, {"($99.10)", "-99.1"}, {"(2)", "-2"},
      {"(2.5)", "-2.5"},    {"( 2 )", "-2"},         {"(1,234)", "-1234"},
      {"(1e3)", "-1000"},   {"-0", "0"},             {"1e-400", "0"},
      {"1,23", nullptr},    {"12,34", nullptr},      {"1,2,3", nullptr},
      {"1,234,56", nullptr}, {"1,,234", nullptr},    {"1,234.5,6", nullptr},
      {"%5", nullptr},      {"1e2%", nullptr},       {"(5%)", nullptr},
      {"(-2)", nullptr},    {"-(2)", nullptr},       {"$1e3", nullptr},
      {"(-$2)", nullptr},   {"1e400", nullptr},      {"nan", nullptr},
      {"NaN", nullptr},     {"inf", nullptr},        {"-inf", nullptr},
      {"infinity", nullptr}, {"Infinity", nullptr},  {"0x10", nullptr},
      {"1 000", nullptr},   {"1d5", nullptr},        {"1e", nullptr},
      {"e5", nullptr},      {".e5", nullptr},        {"--1", nullptr},
      {"1.2.3", nullptr},   {"1_000", nullptr},      {"%", nullptr},
      {"-", nullptr},       {"$", nullptr},          {"()", nullptr},
      {"", nullptr},        {"   ", nullptr},
  };
  for (const Form& form : forms) {
    std::optional<double> got = standin::ReadNumberText(form.text);
    if (form.number == nullptr) {
      EXPECT_FALSE(got.has_value()) << '"' << form.text << "\" read as " << got.value_or(0);
      continue;
    }
    double expect = std::strtod(form.number, nullptr);
    ASSERT_TRUE(got.has_value()) << '"' << form.text << "\" read as text";
    EXPECT_EQ(*got, expect) << form.text;
    EXPECT_FALSE(std::signbit(*got) && *got == 0) << form.text << ": a cell has no -0";
  }
}

TEST_F(CsvTest, DatesAndTimesReadAsSerials) {
  struct Form {
    const char* text;
    double serial;  // -1: text
  };
  const Form forms[] = {
      {"2020-01-02", 43832},      {"2020-1-2", 43832},     {"1/2/2020", 43832},
      {"1/2/20", 43832},          {"01/02/2020", 43832},   {"1/2/99", 36162},
      {"1900-01-01", 1},          {"1900-02-28", 59},      {"1900-02-29", 60},
      {"1900-03-01", 61},         {"9999-12-31", 2958465}, {"2000-02-29", 36585},
      {"1899-12-31", -1},         {"2019-02-29", -1},      {"2020-02-30", -1},
      {"2020-13-01", -1},         {"2/30/2020", -1},       {"10000-01-01", -1},
      {"2020/01/02", -1},         {"1-2-2020", -1},        {"20-01-02", -1},
      {"1/2", -1},                {"2020-01-02T13:45", -1}, {"1/2/202", -1},
      {"13:45", 13.75 / 24},      {"1:45 PM", 13.75 / 24}, {"1:45pm", 13.75 / 24},
      {"12:00 AM", 0},            {"12:00 PM", 0.5},       {"0:00", 0},
      {"13:45:30", (13 * 3600 + 45 * 60 + 30) / 86400.0},
      {"13:45:30.5", (13 * 3600 + 45 * 60 + 30.5) / 86400.0},
      {"12:60", -1},              {"24:00", -1},           {"13:45 PM", -1},
      {"2020-01-02 13:45", 43832 + 13.75 / 24},
      {"1/2/2020 1:45 PM", 43832 + 13.75 / 24},
      {"2020-01-02 ", 43832},     {"2020-01-0213:45", -1},
  };
  for (const Form& form : forms) {
    std::optional<double> got = standin::ReadNumberText(form.text);
    if (form.serial < 0) {
      EXPECT_FALSE(got.has_value()) << '"' << form.text << "\" read as " << got.value_or(0);
    } else {
      ASSERT_TRUE(got.has_value()) << '"' << form.text << "\" read as text";
      EXPECT_EQ(*got, form.serial) << form.text;
    }
  }
}

// A price file as a spreadsheet shows it: money, thousands, percent and
// parentheses are numbers a formula can add.
TEST_F(CsvTest, PriceFileAddsUp) {
  standin::OpenCsvText("prices.csv",
                       "price,change\r\n$99.10,5%\r\n\"1,234.50\",(2)\r\n");
  standin::Evaluation e = standin::Evaluate("=A2+A3+B2+B3");
  ASSERT_EQ(e.result.cells.size(), 1u);
  EXPECT_EQ(Num(e.result.cells[0]), 99.1 + 1234.5 + 0.05 - 2);
  // A formula's text reads by the same rules.
  e = standin::Evaluate("=\"$1,000\"+\"5%\"");
  EXPECT_EQ(Num(e.result.cells[0]), 1000.05);
}

// The same records whatever ends the lines, with or without a byte-order
// mark: fields with separators, quotes and line breaks in quotes, empty
// lines kept as empty rows, trailing commas as empty cells.
TEST_F(CsvTest, LineEndsAndByteOrderMarkReadAlike) {
  const std::string lines[] = {"x,\"a,b\",\"say \"\"hi\"\"\"", "", "1,2,", "\"3\",\"two\nlines\",4"};
  auto read = [&](const std::string& end, bool mark) {
    std::string text = mark ? "\xEF\xBB\xBF" : "";
    for (const std::string& line : lines) text += line + end;
    standin::CsvReader reader(text);
    std::vector<std::vector<std::string>> records;
    while (reader.Next()) {
      records.emplace_back();
      for (const standin::CsvField& f : reader.fields())
        records.back().push_back(std::to_string(static_cast<int>(f.kind)) + ":" + std::string(f.text));
      EXPECT_EQ(reader.row(), static_cast<long>(records.size()));
    }
    return records;
  };
  const std::vector<std::vector<std::string>> expect = {
      {"2:x", "2:a,b", "2:say \"hi\""}, {"0:"}, {"1:1", "1:2", "0:"}, {"1:3", "2:two\nlines", "1:4"}};
  for (const char* end : {"\n", "\r\n", "\r"}) {
    EXPECT_EQ(read(end, false), expect) << "line end " << static_cast<int>(end[0]) << end[1];
    EXPECT_EQ(read(end, true), expect) << "with a byte-order mark";
  }
}

// Text written as CSV by the stand-in reads back as the same values.
TEST_F(CsvTest, WrittenSheetsReadBack) {
  std::mt19937_64 rng(12);
  const std::string alphabet = "ab ,\"\r\nxy";
  standin::SheetId id = standin::NewWorkbook("w.csv", "w");
  for (int r = 0; r < 60; ++r) {
    for (int c = 0; c < 5; ++c) {
      if ((r + c) % 3 == 0) {
        std::string text = "t";
        for (int k = rng() % 8; k > 0; --k) text += alphabet[rng() % alphabet.size()];
        standin::SetCell(id, r, c, text);
      } else {
        double v = std::ldexp(static_cast<double>(rng() % 2000001) - 1000000, static_cast<int>(rng() % 80) - 40);
        standin::SetCell(id, r, c, v);
      }
    }
  }
  standin::SheetId back = standin::OpenCsvText("back.csv", standin::CsvText(id));
  for (int r = 0; r < 60; ++r)
    for (int c = 0; c < 5; ++c)
      EXPECT_EQ(standin::GetCell(back, r, c), standin::GetCell(id, r, c)) << r << "," << c;
}

}  // namespace
