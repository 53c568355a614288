// Registration rows: the seven counted strings that register one procedure
// with the host, and the walks over a tool's table of them.
#ifndef HVT_HOST_REGISTRATION_H
#define HVT_HOST_REGISTRATION_H

#include <cstddef>

#include "sdk/xlcall.h"

namespace hvt {

constexpr std::size_t kRegistrationTextSize = 80;

// Columns: procedure, type text, function text, argument text, macro type,
// category, shortcut. Each text is written with a placeholder first byte
// that PrepareRegistrationRows turns into the length.
struct RegistrationRow {
  char text[7][kRegistrationTextSize];
};

enum RegistrationColumn {
  kProcedure = 0,
  kTypeText = 1,
  kFunctionText = 2,
  kArgumentText = 3,
  kMacroType = 4,
  kCategory = 5,
  kShortcut = 6,
};

void PrepareRegistrationRows(RegistrationRow* rows, std::size_t count);

// xlfRegister for every row with the module's name; results are ignored.
void RegisterRows(RegistrationRow* rows, std::size_t count);

// xlfRegisterId + xlfUnregister for every row (a row the host does not know
// is skipped).
void UnregisterRows(RegistrationRow* rows, std::size_t count);

// xlfSetName with the function text alone, which removes the name the host
// defined at registration.
void DeleteRegisteredNames(RegistrationRow* rows, std::size_t count);

// Registers the first row whose procedure equals `name` ignoring case,
// putting the host's answer into `result`. False when no row matches.
bool RegisterRowByName(RegistrationRow* rows, std::size_t count,
                       LPXLOPER name, LPXLOPER result);

}  // namespace hvt

#endif  // HVT_HOST_REGISTRATION_H
