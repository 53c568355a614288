// The add-in module loaded by path into a fresh stand-in host, with the
// host's accounting checked after every test.
#ifndef HVT_TESTS_ADDIN_ADDIN_FIXTURE_H
#define HVT_TESTS_ADDIN_ADDIN_FIXTURE_H

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "standin/standin.h"

namespace hvt::testing {

// A one-area reference value, as a macro sheet passes it to a command macro.
struct MacroRef {
  XLMREF table{};
  XLOPER value{};
  MacroRef(standin::SheetId sheet, int r0, int r1, int c0, int c1) {
    table.count = 1;
    table.reftbl[0] = XLREF{static_cast<WORD>(r0), static_cast<WORD>(r1),
                            static_cast<BYTE>(c0), static_cast<BYTE>(c1)};
    value.xltype = xltypeRef;
    value.val.mref.lpmref = &table;
    value.val.mref.idSheet = sheet;
  }
};

// The reply of a person who cancels the dialog shown.
inline standin::DialogReply Cancel() {
  standin::DialogReply reply;
  reply.cancel = true;
  return reply;
}

// A parameterised case's test name: its `name` with every character that
// is neither a letter nor a digit made '_'.
struct CaseName {
  template <typename Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
    std::string name;
    for (char c : info.param.name) {
      name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
  }
};

class AddInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::Reset();
    ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
  }
  void TearDown() override {
    standin::CloseAddIn();
    standin::Accounting accounting = standin::GetAccounting();
    EXPECT_TRUE(accounting.Clean())
        << (accounting.problems.empty() ? std::string("leak")
                                        : accounting.problems.front());
    EXPECT_TRUE(standin::Log().empty())
        << "host refused a call: " << standin::Log().front();
    standin::ResetQuietly();
  }

  // A seeded random walk, as prices move.
  static std::vector<double> Walk(std::size_t n, unsigned seed = 7) {
    std::mt19937_64 random(seed);
    std::normal_distribution<double> step(0.0, 1.0);
    std::vector<double> values(n);
    double level = 100;
    for (double& v : values) {
      level += step(random);
      v = std::round(level * 1000) / 1000;
    }
    return values;
  }

  // A new workbook whose column A holds `values` from A1 down.
  static standin::SheetId SheetWithColumn(const std::vector<double>& values) {
    standin::SheetId sheet = standin::NewWorkbook("Book1.xls", "Data");
    std::vector<standin::Value> cells(values.begin(), values.end());
    standin::SetColumn(sheet, "A1", cells);
    return sheet;
  }

  static double Number(const standin::Value& value) {
    EXPECT_TRUE(std::holds_alternative<double>(value))
        << standin::Describe(value);
    return std::holds_alternative<double>(value) ? std::get<double>(value) : NAN;
  }

  // An exported procedure of the loaded add-in, for calling a macro directly.
  template <typename Fn>
  static Fn Procedure(const char* name) {
    void* module = dlopen(HVT_ADDIN_PATH, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(module, nullptr);
    auto fn = module ? reinterpret_cast<Fn>(dlsym(module, name)) : nullptr;
    if (module) dlclose(module);
    return fn;
  }

  static int ErrorOf(const standin::Evaluation& evaluation) {
    if (evaluation.no_value || evaluation.result.cells.size() != 1) return -1;
    const standin::Value& v = evaluation.result.cells[0];
    return std::holds_alternative<standin::Error>(v)
               ? std::get<standin::Error>(v).code
               : -1;
  }
};

}  // namespace hvt::testing

#endif  // HVT_TESTS_ADDIN_ADDIN_FIXTURE_H
