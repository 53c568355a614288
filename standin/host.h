// The stand-in's shared state: workbooks, formula units, the loaded module,
// registrations, logs and the accounting of values handed to the add-in.
// Internal to the library.
#ifndef HVT_STANDIN_HOST_H
#define HVT_STANDIN_HOST_H

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string_view>
#include <memory>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "standin/menus.h"
#include "standin/person.h"
#include "standin/model.h"
#include "standin/application.h"
#include "standin/link.h"
#include "standin/refs.h"
#include "standin/standin.h"

namespace standin {

struct Host {
  AddinLink link;
  ValueAccounts accounts;
  Application app;
  Model model;
  Person person;
  MenuBars menus;

  // Recalculation: units met uncalculated by the add-in call in progress.
  bool recalculating = false;
  std::vector<FormulaUnit*> uncalced_hits;
  SheetId calling_sheet = 0;  // sheet of the formula being evaluated
};

Host& H();

}  // namespace standin

#endif  // HVT_STANDIN_HOST_H
