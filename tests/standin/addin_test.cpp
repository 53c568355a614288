// Registered functions called from formulas: argument conversion per type
// text, results handed back through xlAutoFree, the not-yet-calculated
// retry, and registration through Excel4 as a module does it.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "fixture.h"

namespace {

using standin::Value;

int g_calls = 0;
WORD g_last_type = 0;
DWORD g_last_sheet = 0;
XLOPER g_result;

extern "C" {

XLOPER* TypeOf(XLOPER* x) {
  ++g_calls;
  g_last_type = x->xltype;
  g_last_sheet = x->xltype == xltypeRef ? x->val.mref.idSheet : 0;
  g_result.xltype = xltypeNum;
  g_result.val.num = x->xltype;
  return &g_result;
}
double* Twice(double* x) {
  ++g_calls;
  static double out;
  out = *x * 2;
  return &out;
}
double Mixed(std::int32_t a, double b, std::int32_t c, double d) { return a + b * 10 + c * 100 + d * 1000; }
std::int32_t Length(const char* s) { return static_cast<std::int32_t>(std::strlen(s)); }
std::int32_t CountedLength(const char* s) { return static_cast<unsigned char>(s[0]); }
short Negate(short a) { return a ? 0 : 1; }
short Halve(short a) { return static_cast<short>(a / 2); }
XLOPER* Nothing() { return nullptr; }
std::int32_t Minus(std::int32_t a) { return -a; }

// Seventeen arguments of every width: more integers and more doubles than
// the x86-64 registers hold, and all of them on the stack on i386. Each is
// kept as it arrived.
struct Arrived {
  std::int32_t j1, j6, j16;
  short i3, a17;
  double b2, b5, b7, b8, b9, b10, b11, b12, b13, e4;
  std::string c14, d15;
} g_arrived;
double Seventeen(std::int32_t j1, double b2, short i3, double* e4, double b5, std::int32_t j6,
                 double b7, double b8, double b9, double b10, double b11, double b12,
                 double b13, const char* c14, const char* d15, std::int32_t j16, short a17) {
  g_arrived = {j1, j6, j16, i3, a17, b2, b5, b7, b8, b9, b10, b11, b12, b13, *e4, c14,
               std::string(d15 + 1, static_cast<unsigned char>(d15[0]))};
  return b13 - b2;
}

// Hands back a text the host filled, asking the host to free it.
XLOPER* UpperCell(XLOPER* ref) {
  XLOPER type{};
  type.xltype = xltypeInt;
  type.val.w = xltypeStr;
  if (Excel4(xlCoerce, &g_result, 2, ref, &type) != xlretSuccess) return nullptr;
  g_result.xltype |= xlbitXLFree;
  return &g_result;
}

// What a worksheet function of the add-in does: coerce, compute, return a
// movable global array marked for xlAutoFree.
XLOPER* Doubled(XLOPER* ref) {
  ++g_calls;
  XLOPER multi{}, type{};
  type.xltype = xltypeInt;
  type.val.w = xltypeMulti;
  if (Excel4(xlCoerce, &multi, 2, ref, &type) != xlretSuccess) return nullptr;
  if (multi.xltype != xltypeMulti) {
    g_result = multi;
    return &g_result;
  }
  int n = multi.val.array.rows * multi.val.array.columns;
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(XLOPER) * n);
  auto* cells = static_cast<XLOPER*>(GlobalLock(h));
  if (cells == nullptr) {
    Excel4(xlFree, nullptr, 1, &multi);
    g_result.xltype = xltypeErr;
    g_result.val.err = xlerrNA;
    return &g_result;
  }
  for (int i = 0; i < n; ++i) {
    const XLOPER& in = multi.val.array.lparray[i];
    cells[i].xltype = xltypeNum;
    cells[i].val.num = in.xltype == xltypeNum ? in.val.num * 2 : -1;
  }
  Excel4(xlFree, nullptr, 1, &multi);
  g_result.xltype = xltypeMulti | xlbitDLLFree;
  g_result.val.array.lparray = cells;
  g_result.val.array.rows = multi.val.array.rows;
  g_result.val.array.columns = multi.val.array.columns;
  return &g_result;
}

void AutoFree(XLOPER* x) {
  HGLOBAL h = GlobalHandle(x->val.array.lparray);
  GlobalUnlock(h);
  x->val.array.lparray = static_cast<XLOPER*>(GlobalFree(h));
}

// The probe a worksheet function makes before reading: no value while the
// reference is not yet calculated.
XLOPER* Probe(XLOPER* ref) {
  XLOPER sum{};
  int code = Excel4(xlfSum, &sum, 1, ref);
  Excel4(xlFree, nullptr, 1, &sum);
  if (code & xlretUncalced) return nullptr;
  g_result = sum;
  return &g_result;
}

}  // extern "C"

class AddinTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    g_calls = 0;
    standin::AttachTestModule("test.xll");
    standin::AddTestProcedure("xlAutoFree", reinterpret_cast<void*>(&AutoFree));
    sheet_ = standin::NewWorkbook("b.xls");
  }
  Value Eval1(const std::string& formula) {
    standin::Evaluation e = standin::Evaluate(formula);
    EXPECT_FALSE(e.no_value);
    return e.result.cells.empty() ? Value{standin::Blank{}} : e.result.at(0, 0);
  }
  standin::SheetId sheet_ = 0;
};

TEST_F(AddinTest, ReferencesReachRArgumentsUnconvertedAndPArgumentsAsValues) {
  standin::RegisterTestFunction("TYPEOF", "RR", reinterpret_cast<void*>(&TypeOf));
  standin::RegisterTestFunction("TYPEOFP", "RP", reinterpret_cast<void*>(&TypeOf));
  standin::SheetId other = standin::AddSheet("b.xls", "Other");
  standin::SetColumn(sheet_, "A1", {1.0, 2.0});
  EXPECT_EQ(Eval1("=TYPEOF(A1:A2)"), Value{double{xltypeSRef}}) << "same sheet: a single reference";
  EXPECT_EQ(Eval1("=TypeOf(Other!A1)"), Value{double{xltypeRef}}) << "names ignore case";
  EXPECT_EQ(g_last_sheet, other);
  EXPECT_EQ(Eval1("=TYPEOFP(A1:A2)"), Value{double{xltypeMulti}});
  EXPECT_EQ(Eval1("=TYPEOFP(A1)"), Value{double{xltypeNum}});
  EXPECT_EQ(Eval1("=TYPEOFP(A9)"), Value{double{xltypeNil}});
  EXPECT_EQ(Eval1("=TYPEOF()"), Value{double{xltypeMissing}});
  EXPECT_EQ(Eval1("=TYPEOF(\"t\")"), Value{double{xltypeStr}});
}

TEST_F(AddinTest, ScalarArgumentsConvertOrStopTheCall) {
  standin::RegisterTestFunction("TWICE", "EE", reinterpret_cast<void*>(&Twice));
  standin::RegisterTestFunction("MIXED", "BJBJB", reinterpret_cast<void*>(&Mixed));
  standin::RegisterTestFunction("LEN_C", "JC", reinterpret_cast<void*>(&Length));
  standin::RegisterTestFunction("LEN_D", "JD", reinterpret_cast<void*>(&CountedLength));
  standin::RegisterTestFunction("NEGATE", "AA", reinterpret_cast<void*>(&Negate));
  standin::RegisterTestFunction("HALVE", "II", reinterpret_cast<void*>(&Halve));
  standin::SetCell(sheet_, "A1", 4.5);
  standin::SetCell(sheet_, "A2", std::string("text"));
  EXPECT_EQ(Eval1("=TWICE(A1)"), Value{9.0});
  EXPECT_EQ(Eval1("=TWICE(\"2.5\")"), Value{5.0});
  EXPECT_EQ(Eval1("=TWICE(TRUE)"), Value{2.0});
  int before = g_calls;
  EXPECT_EQ(Err(Eval1("=TWICE(A2)")), xlerrValue);
  EXPECT_EQ(Err(Eval1("=TWICE(A1:A2)")), xlerrValue) << "a range is not one number";
  EXPECT_EQ(Err(Eval1("=TWICE(#N/A)")), xlerrNA);
  EXPECT_EQ(g_calls, before) << "an argument that does not convert: no call";
  // Integer and double registers are filled independently and in order.
  EXPECT_EQ(Eval1("=MIXED(1,2,3,4)"), Value{1 + 20 + 300 + 4000.0});
  EXPECT_EQ(Eval1("=MIXED(1.9,2,-3.7,4)"), Value{1 + 20 - 300 + 4000.0}) << "J truncates";
  EXPECT_EQ(Err(Eval1("=MIXED(1e10,0,0,0)")), xlerrNum);
  EXPECT_EQ(Eval1("=LEN_C(\"abcd\")"), Value{4.0});
  EXPECT_EQ(Eval1("=LEN_C(12.5)"), Value{4.0}) << "numbers as text";
  EXPECT_EQ(Eval1("=LEN_D(A2)"), Value{4.0});
  EXPECT_EQ(Eval1("=NEGATE(0)"), Value{true});
  EXPECT_EQ(Eval1("=NEGATE(\"TRUE\")"), Value{false});
  EXPECT_EQ(Eval1("=HALVE(-9)"), Value{-4.0});
  EXPECT_EQ(Err(Eval1("=HALVE(40000)")), xlerrNum);
  EXPECT_EQ(Err(Eval1("=TWICE(1,2)")), xlerrValue) << "more arguments than registered";
}

TEST_F(AddinTest, EveryArgumentArrivesInItsPlaceAndWidth) {
  standin::RegisterTestFunction("SEVENTEEN", "BJBIEBJBBBBBBBCDJA",
                                reinterpret_cast<void*>(&Seventeen));
  standin::RegisterTestFunction("MINUS", "JJ", reinterpret_cast<void*>(&Minus));
  Value r = Eval1("=SEVENTEEN(-70000,0.5,-300,4.25,5.5,60000,7,8,9,10,11,12,13.75,"
                  "\"text\",\"counted\",-16,TRUE)");
  EXPECT_EQ(r, Value{13.75 - 0.5});
  EXPECT_EQ(g_arrived.j1, -70000);
  EXPECT_EQ(g_arrived.b2, 0.5);
  EXPECT_EQ(g_arrived.i3, -300);
  EXPECT_EQ(g_arrived.e4, 4.25);
  EXPECT_EQ(g_arrived.b5, 5.5);
  EXPECT_EQ(g_arrived.j6, 60000);
  const double doubles[] = {g_arrived.b7, g_arrived.b8, g_arrived.b9, g_arrived.b10,
                            g_arrived.b11, g_arrived.b12};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(doubles[k], 7.0 + k) << "argument " << 7 + k;
  EXPECT_EQ(g_arrived.b13, 13.75);
  EXPECT_EQ(g_arrived.c14, "text");
  EXPECT_EQ(g_arrived.d15, "counted");
  EXPECT_EQ(g_arrived.j16, -16);
  EXPECT_EQ(g_arrived.a17, 1);
  EXPECT_EQ(Eval1("=MINUS(123456)"), Value{-123456.0}) << "a negative 32-bit result";

  // Excel takes at most 255 arguments.
  EXPECT_NO_THROW(standin::RegisterTestFunction("WIDE", "B" + std::string(255, 'B'),
                                                reinterpret_cast<void*>(&Seventeen)));
  EXPECT_THROW(standin::RegisterTestFunction("WIDER", "B" + std::string(256, 'B'),
                                             reinterpret_cast<void*>(&Seventeen)),
               standin::HostError);
  EXPECT_NE(standin::Log().back().find("too many arguments"), std::string::npos);
}

TEST_F(AddinTest, UnsupportedTypeLettersAreRefusedLoudly) {
  EXPECT_THROW(standin::RegisterTestFunction("BAD", "RK", reinterpret_cast<void*>(&TypeOf)),
               standin::HostError);
  EXPECT_THROW(standin::RegisterTestFunction("BAD2", "QR", reinterpret_cast<void*>(&TypeOf)),
               standin::HostError);
  ASSERT_EQ(standin::Log().size(), 2u);
  EXPECT_NE(standin::Log()[0].find("'K'"), std::string::npos);
  EXPECT_EQ(Err(Eval1("=BAD(1)")), xlerrName);
}

TEST_F(AddinTest, ArrayResultsGoBackThroughXlAutoFree) {
  standin::RegisterTestFunction("DOUBLED", "RR", reinterpret_cast<void*>(&Doubled));
  standin::SetColumn(sheet_, "A1", {1.0, 2.5, std::string("x"), 4.0});
  standin::Evaluation e = standin::Evaluate("=DOUBLED(A1:A4)");
  ASSERT_EQ(e.result.rows, 4);
  EXPECT_EQ(e.result.at(1, 0), Value{5.0});
  EXPECT_EQ(e.result.at(2, 0), Value{-1.0});
  EXPECT_EQ(g_result.val.array.lparray, nullptr) << "xlAutoFree cleared the pointer";
  standin::Accounting a = standin::GetAccounting();
  EXPECT_EQ(a.global_blocks, 0);
  EXPECT_EQ(a.pending_dll_results, 0);
  EXPECT_EQ(a.outstanding_values, 0);

  // With its allocation failing, the function answers its error value.
  standin::FailAllocation(1);
  EXPECT_EQ(Err(Eval1("=DOUBLED(A1:A4)")), xlerrNA);
}

TEST_F(AddinTest, ResultWithoutXlAutoFreeIsReported) {
  ExpectFaults();
  standin::AttachTestModule("nofree.xll");  // no xlAutoFree this time
  standin::RegisterTestFunction("DOUBLED", "RR", reinterpret_cast<void*>(&Doubled));
  standin::SetCell(sheet_, "A1", 1.0);
  standin::Evaluate("=DOUBLED(A1:A2)");
  standin::Accounting a = standin::GetAccounting();
  EXPECT_EQ(a.pending_dll_results, 1);
  EXPECT_EQ(a.global_blocks, 1);
  EXPECT_FALSE(a.Clean());
}

TEST_F(AddinTest, HostFilledResultsMarkedXLFreeAreFreedByTheHost) {
  standin::RegisterTestFunction("ASTEXT", "RR", reinterpret_cast<void*>(&UpperCell));
  standin::SetCell(sheet_, "A1", 2.5);
  EXPECT_EQ(Eval1("=ASTEXT(A1)"), Value{std::string("2.5")});
  EXPECT_EQ(standin::GetAccounting().outstanding_values, 0);
}

TEST_F(AddinTest, NullResultIsNoValue) {
  standin::RegisterTestFunction("NOTHING", "R", reinterpret_cast<void*>(&Nothing));
  standin::Evaluation e = standin::Evaluate("=NOTHING()");
  EXPECT_TRUE(e.no_value);
  standin::EnterFormula(sheet_, "B1", "=NOTHING()");
  standin::Recalculate();
  EXPECT_EQ(Err(standin::GetCell(sheet_, "B1")), xlerrNum) << "a cell shows #NUM!";
  ASSERT_FALSE(standin::Calls().empty());
  EXPECT_TRUE(standin::Calls().back().returned_null);
}

TEST_F(AddinTest, UncalculatedCellsAreCalculatedAndTheCallRepeated) {
  standin::RegisterTestFunction("PROBE", "RR", reinterpret_cast<void*>(&Probe));
  standin::SetColumn(sheet_, "B1", {1.5, 2.5, 4.0});
  standin::EnterFormula(sheet_, "A1", "=B1*2");
  standin::EnterFormula(sheet_, "A2", "=B2*2");
  standin::EnterFormula(sheet_, "A3", "=B3*2");
  // C1 comes before A2 and A3 in calculation order.
  standin::EnterFormula(sheet_, "C1", "=PROBE(A1:A3)");
  standin::Recalculate();
  EXPECT_EQ(standin::GetCell(sheet_, "C1"), Value{(1.5 + 2.5 + 4.0) * 2});
  std::vector<standin::CallRecord> calls = standin::Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].function_text, "PROBE");
  EXPECT_TRUE(calls[0].returned_null);
  EXPECT_TRUE(calls[0].discarded);
  EXPECT_FALSE(calls[1].returned_null);
  EXPECT_FALSE(calls[1].discarded);

  // Nothing uncalculated under the reference: one call each time.
  standin::SetCell(sheet_, "C1", standin::Blank{});
  standin::ClearCalls();
  standin::EnterFormula(sheet_, "C9", "=PROBE(B1:B3)");
  standin::Recalculate();
  EXPECT_EQ(standin::GetCell(sheet_, "C9"), Value{8.0});
  for (const auto& c : standin::Calls()) EXPECT_FALSE(c.discarded);
}

TEST_F(AddinTest, ArrayFormulaFeedsAnotherThroughTheRetry) {
  standin::RegisterTestFunction("DOUBLED", "RR", reinterpret_cast<void*>(&Doubled));
  standin::SetColumn(sheet_, "D1", {1.0, 2.0, 3.0});
  standin::EnterArrayFormula(sheet_, "A1:A3", "=DOUBLED(B1:B3)");
  standin::EnterArrayFormula(sheet_, "B1:B3", "=DOUBLED(D1:D3)");
  standin::Recalculate();
  for (int r = 0; r < 3; ++r) EXPECT_EQ(standin::GetCell(sheet_, r, 0), Value{4.0 * (r + 1)});
  ASSERT_GE(standin::Calls().size(), 3u);
  EXPECT_TRUE(standin::Calls()[0].discarded) << "the first call met B1:B3 uncalculated";
}

TEST_F(AddinTest, RegistrationThroughExcel4) {
  standin::AddTestProcedure("TWICE_PROC", reinterpret_cast<void*>(&Twice));
  XLOPER module{};
  ASSERT_EQ(Excel4(xlGetName, &module, 0), xlretSuccess);
  ASSERT_EQ(module.xltype, xltypeStr);
  EXPECT_EQ(std::string(module.val.str + 1, static_cast<unsigned char>(module.val.str[0])), "test.xll");
  char proc[] = "\x0aTWICE_PROC", type[] = "\x02" "EE", func[] = "\x0aTwiceValue",
       args[] = "\x01x", macro[] = "\x01" "1", cat[] = "\x03HVT", key[] = "\x00";
  XLOPER t[7];
  char* texts[7] = {proc, type, func, args, macro, cat, key};
  for (int i = 0; i < 7; ++i) {
    t[i] = XLOPER{};
    t[i].xltype = xltypeStr;
    t[i].val.str = texts[i];
  }
  XLOPER id{};
  ASSERT_EQ(Excel4(xlfRegister, &id, 8, &module, &t[0], &t[1], &t[2], &t[3], &t[4], &t[5], &t[6]),
            xlretSuccess);
  ASSERT_EQ(id.xltype, xltypeNum);
  EXPECT_EQ(Eval1("=TWICEVALUE(21)"), Value{42.0});
  ASSERT_EQ(standin::Registrations().size(), 1u);
  EXPECT_EQ(standin::Registrations()[0].category, "HVT");

  XLOPER again{};
  Excel4(xlfRegisterId, &again, 2, &module, &t[0]);
  EXPECT_EQ(again.val.num, id.val.num);
  XLOPER done{};
  Excel4(xlfUnregister, &done, 1, &id);
  EXPECT_EQ(done.xltype, xltypeBool);
  EXPECT_EQ(Err(Eval1("=TWICEVALUE(21)")), xlerrName);
  char missing[] = "\x07NOWHERE";
  XLOPER nowhere{};
  nowhere.xltype = xltypeStr;
  nowhere.val.str = missing;
  XLOPER refused{};
  Excel4(xlfRegister, &refused, 3, &module, &nowhere, &t[1]);
  EXPECT_EQ(refused.xltype, xltypeErr);
  EXPECT_FALSE(standin::Log().empty());
  Excel4(xlFree, nullptr, 1, &module);
}

TEST_F(AddinTest, LoadingAMissingModuleFails) {
  EXPECT_THROW(standin::LoadAddIn("/nonexistent/HVT_XL32.xll"), standin::HostError);
}

}  // namespace
