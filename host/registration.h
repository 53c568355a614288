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
// that PrepareRegistrationRows turns into the length. A worksheet function
// also names the procedure and type text that take and return XLOPER12
// values, registered instead on hosts of version 12 and later; other rows
// leave them empty and register the same procedure there.
struct RegistrationRow {
  char text[7][kRegistrationTextSize];
  char wide[2][kRegistrationTextSize] = {};
};

enum WideRegistrationColumn {
  kWideProcedure = 0,
  kWideTypeText = 1,
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

// ---- Registration rows checked against their procedures at compile time.

// The type-text letters the host accepts for a C type.
template <typename T> struct TypeLetters { static constexpr const char* letters = ""; };
template <> struct TypeLetters<LPXLOPER> { static constexpr const char* letters = "RP"; };
template <> struct TypeLetters<LPXLOPER12> { static constexpr const char* letters = "QU"; };
template <> struct TypeLetters<double> { static constexpr const char* letters = "B"; };
template <> struct TypeLetters<double*> { static constexpr const char* letters = "E"; };
template <> struct TypeLetters<int> { static constexpr const char* letters = "J"; };
template <> struct TypeLetters<short> { static constexpr const char* letters = "IA"; };
template <> struct TypeLetters<unsigned short> { static constexpr const char* letters = "H"; };
template <> struct TypeLetters<char*> { static constexpr const char* letters = "CF"; };

consteval bool LetterFits(const char* letters, char letter) {
  for (; *letters != '\0'; ++letters) {
    if (*letters == letter) return true;
  }
  return false;
}

// Whether a type text (placeholder first byte, then the return letter and
// one letter per argument, then any of the marks '!' and '#') fits a
// procedure's C signature.
#if defined(_WIN32) && !defined(_WIN64)
// The 32-bit Windows procedures carry their calling convention in their
// type; the other builds of the same rows check them.
template <typename Procedure>
consteval bool TypeTextFits(Procedure, const char*) { return true; }
#else
template <typename R, typename... Arguments>
consteval bool TypeTextFits(R (*)(Arguments...), const char* typeText) {
  const char* letters[] = {TypeLetters<R>::letters, TypeLetters<Arguments>::letters...};
  const char* at = typeText + 1;
  for (const char* accepted : letters) {
    if (*at == '\0' || !LetterFits(accepted, *at)) return false;
    ++at;
  }
  while (*at == '!' || *at == '#') ++at;
  return *at == '\0';
}
#endif

consteval void CopyRowText(char (&target)[kRegistrationTextSize], const char* text) {
  std::size_t k = 0;
  for (; text[k] != '\0'; ++k) {
    if (k + 1 >= kRegistrationTextSize) throw "registration text too long";
    target[k] = text[k];
  }
  for (; k < kRegistrationTextSize; ++k) target[k] = '\0';
}

// A registration row for `Procedure`. A type text that does not fit the
// procedure's signature stops the build.
template <auto Procedure>
consteval RegistrationRow Registered(const char* procedure, const char* typeText,
                                     const char* functionText, const char* argumentText,
                                     const char* macroType, const char* category,
                                     const char* shortcut) {
  if (!TypeTextFits(Procedure, typeText)) {
    throw "the type text does not fit the procedure's C signature";
  }
  RegistrationRow row{};
  const char* texts[7] = {procedure, typeText, functionText, argumentText,
                          macroType, category, shortcut};
  for (std::size_t column = 0; column < 7; ++column) CopyRowText(row.text[column], texts[column]);
  return row;
}

// A worksheet function's row with the procedure (and its type text) that
// takes and returns XLOPER12 values; both type texts are checked.
template <auto Procedure, auto WideProcedure>
consteval RegistrationRow Registered(const char* procedure, const char* typeText,
                                     const char* functionText, const char* argumentText,
                                     const char* macroType, const char* category,
                                     const char* shortcut, const char* wideProcedure,
                                     const char* wideTypeText) {
  if (!TypeTextFits(WideProcedure, wideTypeText)) {
    throw "the 12-series type text does not fit the procedure's C signature";
  }
  RegistrationRow row = Registered<Procedure>(procedure, typeText, functionText, argumentText,
                                              macroType, category, shortcut);
  CopyRowText(row.wide[kWideProcedure], wideProcedure);
  CopyRowText(row.wide[kWideTypeText], wideTypeText);
  return row;
}

// xlfRegister for every row with the module's name; results are ignored.
void RegisterRows(RegistrationRow* rows, std::size_t count);

// xlfRegisterId + xlfUnregister for every row (a row the host does not know
// is skipped).
void UnregisterRows(RegistrationRow* rows, std::size_t count);

// xlfSetName with the function text alone, which removes the name the host
// defined at registration.
void DeleteRegisteredNames(RegistrationRow* rows, std::size_t count);

// Registers the first row whose procedure (of either interface) equals
// `name` ignoring case, putting the host's answer into `result`. False when
// no row matches.
bool RegisterRowByName(RegistrationRow* rows, std::size_t count,
                       LPXLOPER name, LPXLOPER result);

}  // namespace hvt

#endif  // HVT_HOST_REGISTRATION_H
