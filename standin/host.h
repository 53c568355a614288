// The stand-in's state, one part per concern: the workbook model, the
// application around it, the add-in's link and accounting, the scripted
// person, the menu bars and the recalculation in progress. Code reaches the
// part it needs through H(). Internal to the library.
#ifndef HVT_STANDIN_HOST_H
#define HVT_STANDIN_HOST_H

#include "standin/application.h"
#include "standin/eval.h"
#include "standin/link.h"
#include "standin/menus.h"
#include "standin/model.h"
#include "standin/person.h"

namespace standin {

struct Host {
  Model model;
  Application app;
  AddinLink link;
  ValueAccounts accounts;
  Person person;
  MenuBars menus;
  Recalculation recalc;
};

Host& H();

}  // namespace standin

#endif  // HVT_STANDIN_HOST_H
