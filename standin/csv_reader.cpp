// The CSV reader and Excel's reading of typed numbers, dates and times.
#include "standin/csv_reader.h"

#include <bit>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace standin {
namespace {

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSpace(char c) { return c == ' ' || c == '\t'; }

const char* SkipSpaces(const char* p, const char* end) {
  while (p < end && IsSpace(*p)) ++p;
  return p;
}

#if defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD == 0
constexpr bool kShortFields = true;
#else
constexpr bool kShortFields = false;
#endif

constexpr std::uint64_t kEveryByte(std::uint8_t b) { return 0x0101010101010101u * b; }

// Eight characters as one word, the first in the lowest byte.
std::uint64_t LoadEight(const char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
  return w;
}

// How many of the word's characters, from the first, are digits; `values`
// gets each character less '0'. Bytes are kept apart: no sum below carries
// from one byte into the next.
int LeadingDigits(std::uint64_t word, std::uint64_t& values) {
  values = word ^ kEveryByte('0');  // a digit becomes 0..9
  const std::uint64_t high = kEveryByte(0x80);
  const std::uint64_t ten_or_more = ((values & ~high) + kEveryByte(0x80 - 10)) | values;
  const std::uint64_t other = ten_or_more & high;
  return other == 0 ? 8 : std::countr_zero(other) / 8;
}

// The first n (1..8) digit values of LeadingDigits' word as an integer: the
// digits are moved up to the top bytes, zeros before them, then pairs,
// fours and the eight are combined in three multiplications.
[[gnu::always_inline]] inline std::uint64_t EightDigitValue(std::uint64_t values, int n) {
  std::uint64_t v = values << (8 * (8 - n));
  v = v * 10 + (v >> 8);
  v = (((v & 0x000000FF000000FF) * (100 + (1000000ull << 32))) +
       (((v >> 16) & 0x000000FF000000FF) * (1 + (10000ull << 32)))) >>
      32;
  return v;
}

// Every power of ten that is a double exactly and fits in 64 bits.
constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,
                                   1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19};
constexpr std::uint64_t kIntegerPowersOfTen[] = {
    1,          10,          100,          1000,          10000,          100000,
    1000000,    10000000,    100000000,    1000000000,    10000000000,    100000000000,
    1000000000000,           10000000000000,              100000000000000,
    1000000000000000,        10000000000000000,           100000000000000000,
    1000000000000000000,     10000000000000000000u};

// The most significant digits a short field holds: below 10^19, they fit in
// 64 bits.
constexpr int kMostSignificant = 19;

bool IsDelimiter(char c) { return c == ',' || c == '\n' || c == '\r'; }

// The double nearest to digits / 10^places (ties to even), for digits in
// [1, 10^19) and places in [1, 19]; false where it cannot tell, and the
// general parser decides. One division comes within two steps of the
// answer; the answer is then the double whose neighbours' midpoints enclose
// the decimal, found by comparing digits * 2^s with midpoint * 10^places as
// exact 128-bit integers.
[[gnu::noinline]] bool NearestQuotient(std::uint64_t digits, int places, double& value) {
#ifdef __SIZEOF_INT128__
  using Wide = unsigned __int128;
  constexpr std::uint64_t kHidden = std::uint64_t{1} << 52;
  const Wide scale = kIntegerPowersOfTen[places];
  std::uint64_t bits = std::bit_cast<std::uint64_t>(static_cast<double>(digits) / kPowersOfTen[places]);
  for (int step = 0; step < 4; ++step) {
    // The candidate is m * 2^e; its midpoints with its neighbours are
    // (4m + 2) and (4m - 2), or (4m - 1) at the bottom of a binade, times
    // 2^(e - 2).
    const std::uint64_t m = (bits & (kHidden - 1)) | kHidden;
    const int shift = 2 - (static_cast<int>(bits >> 52) - 1075);
    if (shift < 0 || shift + std::bit_width(digits) > 127) return false;
    const Wide decimal = Wide{digits} << shift;
    const Wide above = Wide{4 * m + 2} * scale;
    if (decimal > above || (decimal == above && (m & 1) != 0)) {
      ++bits;
      continue;
    }
    const Wide below = Wide{m == kHidden ? 4 * m - 1 : 4 * m - 2} * scale;
    if (decimal < below || (decimal == below && (m & 1) != 0)) {
      --bits;
      continue;
    }
    value = std::bit_cast<double>(bits);
    return true;
  }
#else
  (void)digits, (void)places, (void)value;
#endif
  return false;
}

// [-]digits[.digits], the bulk of a numeric file, read without the general
// parser: the digits make an integer. Below 2^53, it and the power of ten
// are exact, so one IEEE division gives the double nearest to the decimal,
// as from_chars does; above, up to 19 significant digits, NearestQuotient
// finds it. Only where doubles are computed in double precision (not the
// x87's extended one). It is read in the same pass that finds the field's
// end: `stop` is then the delimiter (',', CR or LF) or `limit`. False, with
// nothing read, for any other form, which goes the general way.
// Where the text has room (32 characters), up to seven digits before the
// point and nineteen after it are taken eight characters at a time; other
// fields go digit by digit, up to nineteen digits in all.
// Inline: the reader calls it for every field.
[[gnu::always_inline]] inline bool ReadShortField(const char* p, const char* limit,
                                                  const char*& stop, double& value) {
  if constexpr (!kShortFields) return false;
  const bool negative = p < limit && *p == '-';
  const char* q = p + negative;
  std::uint64_t digits = 0;
  std::ptrdiff_t fraction = 0;
  bool whole_words = false;
  if (limit - q >= 32) {
    std::uint64_t values = 0;
    const int lead = LeadingDigits(LoadEight(q), values);
    if (lead == 0) return false;
    if (lead < 8) {
      digits = EightDigitValue(values, lead);
      whole_words = q[lead] != '.';
      if (!whole_words) {
        const char* after = q + lead + 1;
        int tail = LeadingDigits(LoadEight(after), values);
        if (tail == 0) return false;
        std::uint64_t part = EightDigitValue(values, tail);
        if (tail == 8) {
          int more = LeadingDigits(LoadEight(after + 8), values);
          if (more != 0) part = part * kIntegerPowersOfTen[more] + EightDigitValue(values, more);
          if (more == 8) {
            more = LeadingDigits(LoadEight(after + 16), values);
            if (more > 3) return false;  // past 19 places: the general way
            if (more != 0) part = part * kIntegerPowersOfTen[more] + EightDigitValue(values, more);
            tail += 8;
          }
          tail += more;
        }
        // At most 19 significant digits, so the integer stays below 10^19.
        if (tail > 12 && digits >= kIntegerPowersOfTen[kMostSignificant - tail]) return false;
        digits = digits * kIntegerPowersOfTen[tail] + part;
        fraction = tail;
        whole_words = true;
      }
      q += lead + fraction + (fraction != 0);
    }
  }
  if (!whole_words) {
    digits = 0;
    const char* first = q;
    while (q < limit && IsAsciiDigit(*q)) digits = digits * 10 + static_cast<unsigned>(*q++ - '0');
    std::ptrdiff_t count = q - first;
    if (count == 0) return false;
    fraction = 0;
    if (q < limit && *q == '.') {
      const char* after = ++q;
      while (q < limit && IsAsciiDigit(*q)) digits = digits * 10 + static_cast<unsigned>(*q++ - '0');
      fraction = q - after;
      if (fraction == 0) return false;
      count += fraction;
    }
    if (count > kMostSignificant) return false;  // the integer might not fit
  }
  if (q < limit && !IsDelimiter(*q)) return false;
  // Exact operands, or a conversion alone: one rounding.
  const double whole = static_cast<double>(digits);
  double v = fraction != 0 ? whole / kPowersOfTen[fraction] : whole;
  if (digits >= (std::uint64_t{1} << 53) && fraction != 0) [[unlikely]] {
    if (!NearestQuotient(digits, static_cast<int>(fraction), v)) return false;
  }
  value = negative ? -v : v;
  if (value == 0) value = 0;  // no negative zero in a cell
  stop = q;
  return true;
}

// A plain decimal filling [p, end) ("-1.5", "12", "1E+5") by from_chars.
// Starting with a digit or a point, no infinity, NaN or hexadecimal gets
// through.
bool ReadLongDecimal(const char* p, const char* end, double& value) {
  const char* digits = p + (p < end && *p == '-');
  if (digits >= end || !(IsAsciiDigit(*digits) || *digits == '.')) return false;
  auto [ptr, ec] = std::from_chars(p, end, value);
  if (ec != std::errc() || ptr != end) return false;
  if (value == 0) value = 0;  // no negative zero in a cell
  return true;
}

// The same, the short form first: most fields are one.
bool ReadPlainDecimal(const char* p, const char* end, double& value) {
  const char* stop = nullptr;
  if (ReadShortField(p, end, stop, value) && stop == end) return true;
  return ReadLongDecimal(p, end, value);
}

// Bit 7 of each byte of x that is zero, and maybe of bytes above the first
// such: the lowest bit set marks the first zero byte.
std::uint64_t ZeroBytes(std::uint64_t x) { return (x - kEveryByte(1)) & ~x & kEveryByte(0x80); }

// The first ',', CR or LF in s[i, n), or n; eight characters at a time.
std::size_t FindDelimiter(const char* s, std::size_t i, std::size_t n) {
  for (; n - i >= 8; i += 8) {
    const std::uint64_t w = LoadEight(s + i);
    const std::uint64_t found = ZeroBytes(w ^ kEveryByte(',')) | ZeroBytes(w ^ kEveryByte('\n')) |
                                ZeroBytes(w ^ kEveryByte('\r'));
    if (found != 0) return i + static_cast<std::size_t>(std::countr_zero(found) / 8);
  }
  while (i < n && !IsDelimiter(s[i])) ++i;
  return i;
}

// The decimal at [p, end): digits, optionally in thousands groups ("1,234"),
// a fraction and an exponent. Returns where it ends, or nullptr when the text
// there is no decimal. `grouped` and `exponent` say what it held.
const char* ScanDecimal(const char* p, const char* end, bool& grouped, bool& exponent) {
  grouped = exponent = false;
  const char* start = p;
  while (p < end && IsAsciiDigit(*p)) ++p;
  const std::ptrdiff_t lead = p - start;
  if (p < end && *p == ',') {
    if (lead < 1 || lead > 3) return nullptr;
    while (p < end && *p == ',') {
      if (end - p < 4 || !IsAsciiDigit(p[1]) || !IsAsciiDigit(p[2]) || !IsAsciiDigit(p[3])) return nullptr;
      p += 4;
    }
    if (p < end && IsAsciiDigit(*p)) return nullptr;  // "1,2345"
    grouped = true;
  }
  std::ptrdiff_t fraction = 0;
  if (p < end && *p == '.') {
    const char* digits = ++p;
    while (p < end && IsAsciiDigit(*p)) ++p;
    fraction = p - digits;
  }
  if (lead == 0 && fraction == 0) return nullptr;
  if (p < end && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    if (q < end && (*q == '+' || *q == '-')) ++q;
    const char* digits = q;
    while (q < end && IsAsciiDigit(*q)) ++q;
    if (q == digits) return nullptr;  // "1e"
    exponent = true;
    p = q;
  }
  return p;
}

// The double nearest to a decimal of the form ScanDecimal accepts, without
// its group commas, scaled by 10^shift. Nothing when it overflows.
std::optional<double> DecimalValue(const char* begin, const char* end, bool grouped, int shift) {
  double value = 0;
  if (!grouped && shift == 0) {
    auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec == std::errc() && ptr == end) return value;
    if (ec != std::errc::result_out_of_range) return std::nullopt;
  }
  // Rare forms: build the plain decimal, with the shift as an exponent.
  char small[80];
  std::unique_ptr<char[]> large;
  const std::size_t capacity = static_cast<std::size_t>(end - begin) + 8;
  char* text = small;
  if (capacity > sizeof small) {
    large.reset(new char[capacity]);
    text = large.get();
  }
  char* out = text;
  for (const char* p = begin; p < end; ++p)
    if (*p != ',') *out++ = *p;
  if (shift != 0) {  // never together with an exponent (a percent of one is text)
    *out++ = 'e';
    *out++ = '-';
    *out++ = static_cast<char>('0' - shift);
  }
  auto [ptr, ec] = std::from_chars(text, out, value);
  if (ec == std::errc() && ptr == out) return value;
  if (ec != std::errc::result_out_of_range) return std::nullopt;
  // Out of range: below the smallest double reads as 0, above the largest
  // is text.
  *out = '\0';
  value = std::strtod(text, nullptr);
  if (std::isinf(value)) return std::nullopt;
  return value;
}

// Money and percent forms around a decimal: [sign][$][sign]decimal[%], or
// ([$]decimal) for a negative. Money and percent take no exponent.
std::optional<double> ReadAmount(const char* p, const char* end) {
  bool negative = false, signed_ = false, paren = false, currency = false;
  if (*p == '(' && end - p >= 2 && end[-1] == ')') {
    paren = negative = true;
    p = SkipSpaces(p + 1, end - 1);
    --end;
    while (end > p && IsSpace(end[-1])) --end;
  }
  auto sign = [&] {
    if (!paren && !signed_ && p < end && (*p == '+' || *p == '-')) {
      negative = *p == '-';
      signed_ = true;
      ++p;
    }
  };
  sign();
  if (p < end && *p == '$') {
    currency = true;
    p = SkipSpaces(p + 1, end);
    sign();
  }
  bool grouped = false, exponent = false;
  const char* digits = p;
  const char* after = ScanDecimal(p, end, grouped, exponent);
  if (after == nullptr || (currency && exponent)) return std::nullopt;
  int shift = 0;
  const char* q = SkipSpaces(after, end);
  if (q < end && *q == '%' && !currency && !paren && !exponent) {
    shift = -2;
    ++q;
  }
  if (q != end) return std::nullopt;
  std::optional<double> value = DecimalValue(digits, after, grouped, shift);
  if (!value) return std::nullopt;
  double v = negative ? -*value : *value;
  return v == 0 ? 0.0 : v;  // no negative zero in a cell
}

// Up to `most` digits at p as a number; the count read goes to `count`.
int ReadDigits(const char*& p, const char* end, int most, int& count) {
  int value = 0;
  count = 0;
  while (p < end && IsAsciiDigit(*p) && count < most) {
    value = value * 10 + (*p - '0');
    ++p;
    ++count;
  }
  return value;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long DaysFromCivil(long y, long m, long d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const long yoe = y - era * 400;
  const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// The serial number of a date in the 1900 date system, whose calendar holds
// a 29 February 1900 (serial 60); nothing for a date it does not have.
std::optional<double> DateSerial(int year, int month, int day) {
  static constexpr int kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1900 || year > 9999 || month < 1 || month > 12 || day < 1) return std::nullopt;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0 || year == 1900;
  if (day > kMonthDays[month - 1] || (month == 2 && day == 29 && !leap)) return std::nullopt;
  if (year == 1900 && month <= 2) return month == 1 ? day : 31.0 + day;
  return static_cast<double>(DaysFromCivil(year, month, day) - DaysFromCivil(1899, 12, 30));
}

// yyyy-m-d, or m/d/yyyy and m/d/yy (years 00..29 in the 2000s, 30..99 in
// the 1900s), at p; p moves past it. Nothing when there is no date there.
std::optional<double> ReadDate(const char*& p, const char* end) {
  const char* q = p;
  int n1 = 0, n2 = 0, n3 = 0;
  int first = ReadDigits(q, end, 4, n1);
  int year = 0, month = 0, day = 0;
  if (n1 == 4 && q < end && *q == '-') {
    ++q;
    month = ReadDigits(q, end, 2, n2);
    if (n2 == 0 || q >= end || *q != '-') return std::nullopt;
    ++q;
    day = ReadDigits(q, end, 2, n3);
    if (n3 == 0) return std::nullopt;
    year = first;
  } else if (n1 >= 1 && n1 <= 2 && q < end && *q == '/') {
    ++q;
    day = ReadDigits(q, end, 2, n2);
    if (n2 == 0 || q >= end || *q != '/') return std::nullopt;
    ++q;
    year = ReadDigits(q, end, 4, n3);
    if (n3 != 2 && n3 != 4) return std::nullopt;
    if (n3 == 2) year += year < 30 ? 2000 : 1900;
    month = first;
  } else {
    return std::nullopt;
  }
  if (q < end && IsAsciiDigit(*q)) return std::nullopt;
  p = q;
  return DateSerial(year, month, day);
}

// h:mm[:ss[.fff]] with an optional AM or PM, to the whole of [p, end), as a
// fraction of a day.
std::optional<double> ReadTime(const char* p, const char* end) {
  int n = 0;
  int hour = ReadDigits(p, end, 2, n);
  if (n == 0 || p >= end || *p != ':') return std::nullopt;
  ++p;
  int minute = ReadDigits(p, end, 2, n);
  if (n == 0 || minute > 59) return std::nullopt;
  double second = 0;
  if (p < end && *p == ':') {
    const char* s = ++p;
    int whole = ReadDigits(p, end, 2, n);
    if (n == 0 || whole > 59) return std::nullopt;
    second = whole;
    if (p < end && *p == '.') {
      ++p;
      while (p < end && IsAsciiDigit(*p)) ++p;
      std::from_chars(s, p, second);
    }
  }
  p = SkipSpaces(p, end);
  if (end - p == 2 && (p[1] == 'M' || p[1] == 'm')) {
    char half = static_cast<char>(p[0] | 0x20);
    if ((half != 'a' && half != 'p') || hour < 1 || hour > 12) return std::nullopt;
    hour = hour % 12 + (half == 'p' ? 12 : 0);
    p = end;
  } else if (hour > 23) {
    return std::nullopt;
  }
  if (p != end) return std::nullopt;
  return (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
}

std::optional<double> ReadDateTime(const char* p, const char* end) {
  const char* start = p;
  std::optional<double> date = ReadDate(p, end);
  if (!date) {
    if (p != start) return std::nullopt;  // a day the calendar does not have
    if (p < end && IsAsciiDigit(*p) && std::memchr(p, ':', static_cast<std::size_t>(end - p)))
      return ReadTime(p, end);
    return std::nullopt;
  }
  if (p == end) return date;
  const char* time = SkipSpaces(p, end);
  if (time == p) return std::nullopt;
  std::optional<double> fraction = ReadTime(time, end);
  if (!fraction) return std::nullopt;
  return *date + *fraction;
}

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

}  // namespace

std::optional<double> ReadNumberText(std::string_view text) {
  const char* p = text.data();
  const char* end = p + text.size();
  p = SkipSpaces(p, end);
  while (end > p && IsSpace(end[-1])) --end;
  if (p == end) return std::nullopt;
  double value = 0;
  if (ReadPlainDecimal(p, end, value)) return value;
  if (std::optional<double> amount = ReadAmount(p, end)) return amount;
  if (IsAsciiDigit(*p)) return ReadDateTime(p, end);
  return std::nullopt;
}

CsvField TypeCsvField(std::string_view text) {
  CsvField field;
  field.text = text;
  if (text.empty()) return field;
  if (std::optional<double> number = ReadNumberText(text)) {
    field.kind = FieldKind::kNumber;
    field.number = *number;
    return field;
  }
  if (text.size() == 4 || text.size() == 5) {
    char upper[5];
    for (std::size_t i = 0; i < text.size(); ++i)
      upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
    std::string_view word(upper, text.size());
    if (word == "TRUE" || word == "FALSE") {
      field.kind = FieldKind::kBoolean;
      field.number = word == "TRUE" ? 1 : 0;
      return field;
    }
  }
  if (text[0] == '#') {
    int code = ErrorCodeOf(text);
    if (code >= 0) {
      field.kind = FieldKind::kError;
      field.number = code;
      return field;
    }
  }
  field.kind = FieldKind::kText;
  return field;
}

CsvReader::CsvReader(std::string text) : text_(std::move(text)) {
  if (std::string_view(text_).substr(0, 3) == kByteOrderMark) pos_ = 3;
}

bool CsvReader::Next() {
  char* const s = text_.data();
  const std::size_t n = text_.size();
  if (pos_ >= n) return false;
  fields_.clear();
  ++row_;
  for (;;) {
    const std::size_t start = pos_;
    std::size_t i = pos_;
    std::size_t end;
    bool quoted = false;
    bool numeric = false;
    double number = 0;
    if (i < n && s[i] == '"') {
      // Unquote in place: the text only ever moves towards its start.
      quoted = true;
      std::size_t out = i;
      ++i;
      for (;;) {
        const void* found = std::memchr(s + i, '"', n - i);
        std::size_t quote = found ? static_cast<std::size_t>(static_cast<const char*>(found) - s) : n;
        std::memmove(s + out, s + i, quote - i);
        out += quote - i;
        i = quote;
        if (found == nullptr) break;  // unterminated: the rest of the text
        if (quote + 1 < n && s[quote + 1] == '"') {
          s[out++] = '"';
          i = quote + 2;
          continue;
        }
        i = quote + 1;
        break;
      }
      // Characters after the closing quote still belong to the field.
      while (i < n && s[i] != ',' && s[i] != '\n' && s[i] != '\r') s[out++] = s[i++];
      end = out;
    } else {
      const char* stop = nullptr;
      numeric = ReadShortField(s + i, s + n, stop, number);
      i = numeric ? static_cast<std::size_t>(stop - s) : FindDelimiter(s, i, n);
      end = i;
    }
    std::string_view text(s + start, end - start);
    CsvField& field = fields_.emplace_back();
    field.text = text;
    if (numeric) {
      field.kind = FieldKind::kNumber;
      field.number = number;
    } else if (!quoted && ReadLongDecimal(text.data(), text.data() + text.size(), field.number)) {
      // (the short form was tried above)
      field.kind = FieldKind::kNumber;
    } else if (!(quoted && text.empty())) {
      field = TypeCsvField(text);
    }
    pos_ = i;
    if (pos_ >= n) break;
    const char delimiter = s[pos_++];
    if (delimiter == ',') continue;
    if (delimiter == '\r' && pos_ < n && s[pos_] == '\n') ++pos_;
    break;
  }
  return true;
}

std::string ReadInputFile(const std::string& path) {
  const bool standard_input = path == "-";
  const std::string name = standard_input ? "standard input" : path;
  std::FILE* file = stdin;
  std::string text;
  if (!standard_input) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
      throw HostError("cannot read " + path + ": it is a directory");
    file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) throw HostError("cannot open " + path + ": " + std::strerror(errno));
    std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (!ec && size < (std::uintmax_t{1} << 40)) text.reserve(static_cast<std::size_t>(size));
  } else {
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
#endif
  }
  std::size_t used = 0;
  for (;;) {
    std::size_t room = text.capacity() > used + 4096 ? text.capacity() - used : 1 << 16;
    text.resize(used + room);
    std::size_t got = std::fread(text.data() + used, 1, room, file);
    used += got;
    if (got < room) break;
  }
  text.resize(used);
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  if (!standard_input) std::fclose(file);
  if (failed) throw HostError("cannot read " + name + ": " + std::strerror(error));
  return text;
}

}  // namespace standin
