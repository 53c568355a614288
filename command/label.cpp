#include "command/label.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "host/counted_string.h"
#include "host/host_values.h"
#include "host/references.h"
#include "host/texts.h"

namespace hvt {

namespace {

// Formula text in the international (R1C1) form.
constexpr int kFormulaIntl = int{xlcFormula} | int{xlIntl};

// Copies `length` characters after the length slot and ends them.
template <typename Char>
void PutText(Char* buffer, std::size_t at, const Char* text, std::size_t length) {
  std::copy(text, text + length, buffer + 1 + at);
  buffer[1 + at + length] = Char{};
}
// The same from a byte text of ours (ASCII).
template <typename Char>
void PutBytes(Char* buffer, std::size_t at, const char* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    buffer[1 + at + i] = static_cast<Char>(static_cast<unsigned char>(text[i]));
  }
  buffer[1 + at + length] = Char{};
}

template <typename Char>
std::size_t LengthOf(const Char* counted) {
  return static_cast<std::size_t>(static_cast<std::make_unsigned_t<Char>>(counted[0]));
}

// A counted text of the record's kind in `work` from a byte text of ours
// (ASCII or UTF-8): the byte text itself, or its UTF-16 form.
constexpr std::size_t kWideTextUnits = 2 * 255 + 2;
template <typename Char>
Char* TextArgument(char* text, XCHAR (&work)[kWideTextUnits]) {
  if constexpr (std::is_same_v<Char, char>) {
    return text;
  } else {
    if (!WidenCounted(text, work, kWideTextUnits)) work[0] = 0;
    return work;
  }
}

// The value of one cell, when the host gives it. False when it gave none.
template <HostRecord Oper>
bool CellValue(IDSHEET sheet, long row, long column, Oper& value) {
  typename Interface<Oper>::Table table{};
  Oper cell = AreaRef(table, sheet, CellArea<typename Interface<Oper>::Ref>(row, column));
  return HostCall(xlCoerce, &value, &cell) == xlretSuccess;
}

template <HostRecord Oper>
const typename Interface<Oper>::Char* TextOf(const Oper& value, bool filled) {
  return filled && TypeOf(value) == xltypeStr ? value.val.str : nullptr;
}

// Enters a counted text (NUL ended) into a cell as the user would type it.
template <HostRecord Oper>
void EnterText(typename Interface<Oper>::Char* text, IDSHEET sheet, long row, long column) {
  typename Interface<Oper>::Table table{};
  Oper cell = AreaRef(table, sheet, CellArea<typename Interface<Oper>::Ref>(row, column));
  Oper formula = TextValue<Oper>(text);
  HostCall(kFormulaIntl, static_cast<Oper*>(nullptr), &formula, &cell);
}

}  // namespace

template <typename Char>
void ComposeLabel(const Char* text, std::size_t textLength, const char* suffix,
                  Char* buffer) {
  std::size_t suffixLength = std::min(std::strlen(suffix), kLabelTextMax);
  std::size_t kept = std::min(textLength, kLabelTextMax - suffixLength);
  PutText(buffer, 0, text, kept);
  PutBytes(buffer, kept, suffix, suffixLength);
  buffer[0] = static_cast<Char>(kept + suffixLength);
}

template <typename Char>
bool ComposeLabelFormula(const Char* reference, std::size_t referenceLength,
                         const char* suffix, Char* buffer) {
  static const char kHead[] = "=\"Col\"&COLUMN(";
  static const char kMiddle[] = ")&\"";
  const std::size_t head = sizeof kHead - 1, middle = sizeof kMiddle - 1;
  const std::size_t suffixLength = std::strlen(suffix);
  const std::size_t fixed = head + middle + suffixLength + 1;
  if (fixed + referenceLength > kLabelTextMax) {
    for (std::size_t i = referenceLength; i > 0; --i) {
      if (reference[i - 1] == Char{'!'}) {
        reference += i;
        referenceLength -= i;
        break;
      }
    }
  }
  const std::size_t total = fixed + referenceLength;
  if (total > kLabelTextMax) return false;
  std::size_t at = 0;
  PutBytes(buffer, at, kHead, head);
  at += head;
  PutText(buffer, at, reference, referenceLength);
  at += referenceLength;
  PutBytes(buffer, at, kMiddle, middle);
  at += middle;
  PutBytes(buffer, at, suffix, suffixLength);
  at += suffixLength;
  PutBytes(buffer, at, "\"", 1);
  buffer[0] = static_cast<Char>(total);
  return true;
}

template <HostRecord Oper>
bool WriteLabel(const LabelRequestOf<Oper>& request) {
  using Char = typename Interface<Oper>::Char;
  using Ref = typename Interface<Oper>::Ref;
  using Table = typename Interface<Oper>::Table;
  const auto* area = request.data != nullptr ? FirstArea(*request.data) : nullptr;
  if (area == nullptr || request.buffer == nullptr) return false;
  const Oper& data = *request.data;
  const IDSHEET sheet = data.val.mref.idSheet;
  const long first = area->rwFirst;
  const long column = area->colFirst;
  const long above = first > 0 ? first - 1 : first;
  const long labelRow = request.labelRow;
  Char* buffer = request.buffer;

  Oper aboveValue{}, rowValue{}, typed{};
  const bool aboveFilled = CellValue(sheet, above, column, aboveValue);
  const bool rowFilled = CellValue(sheet, labelRow, column, rowValue);
  bool typedFilled = false;
  const bool aboveText = TextOf(aboveValue, aboveFilled) != nullptr;
  const bool rowText = TextOf(rowValue, rowFilled) != nullptr;

  const Char* taken = nullptr;
  bool ask = false;
  if (aboveText) {
    if (rowText && above != labelRow) {
      ask = true;
    } else {
      taken = TextOf(aboveValue, aboveFilled);
    }
  } else if (rowText) {
    taken = TextOf(rowValue, rowFilled);
  } else if (request.outputSheet != sheet) {
    ask = true;
  }
  if (ask) {
    // The texts' length bytes are written on first use.
    SetCountedLength(text::kLabelPrompt);
    SetCountedLength(text::kLabelTitle);
    XCHAR promptWork[kWideTextUnits], titleWork[kWideTextUnits];
    Oper prompt = TextValue<Oper>(TextArgument<Char>(text::kLabelPrompt, promptWork));
    Oper kind = NumberValue<Oper>(2);
    Oper title = TextValue<Oper>(TextArgument<Char>(text::kLabelTitle, titleWork));
    typedFilled = HostCall(xlfInput, &typed, &prompt, &kind, &title) == xlretSuccess;
    taken = TextOf(typed, typedFilled);  // a cancelled input answers FALSE: no label
  }

  if (taken != nullptr) {
    ComposeLabel(taken + 1, LengthOf(taken), request.suffix, buffer);
    EnterText<Oper>(buffer, request.outputSheet, labelRow, request.outputColumn);
  } else if (!ask) {
    Oper reference{};
    bool formula = false;
    const bool referenceFilled =
        HostCall(xlfReftext, &reference, const_cast<Oper*>(&data)) == xlretSuccess;
    if (const Char* text = TextOf(reference, referenceFilled)) {
      formula = ComposeLabelFormula(text + 1, LengthOf(text), request.suffix, buffer);
    }
    if (referenceFilled) GiveBack(reference);
    if (!formula) {
      // No reference text to name: the label the formula would show.
      char name[16];
      int length = std::snprintf(name, sizeof name, "Col%ld", column + 1);
      Char wideName[16];
      for (int i = 0; i < length; ++i) wideName[i] = static_cast<Char>(name[i]);
      ComposeLabel(wideName, static_cast<std::size_t>(length), request.suffix, buffer);
    }
    EnterText<Oper>(buffer, request.outputSheet, labelRow, request.outputColumn);
  }
  if (aboveFilled) GiveBack(aboveValue);
  if (rowFilled) GiveBack(rowValue);
  if (typedFilled) GiveBack(typed);

  if (request.writtenFirst <= request.writtenLast) {
    Table writtenTable{};
    Oper written = AreaRef(writtenTable, request.outputSheet,
                           MakeArea<Ref>(request.writtenFirst, request.writtenLast,
                                         request.outputColumn, request.outputColumn));
    HostCall(xlcFormulaGoto, static_cast<Oper*>(nullptr), &written);
    Table firstTable{};
    Oper firstCell = AreaRef(firstTable, sheet, CellArea<Ref>(first, column));
    Oper format{};
    Oper numberFormat = NumberValue<Oper>(7);
    if (HostCall(xlfGetCell, &format, &numberFormat, &firstCell) == xlretSuccess) {
      if (TextOf(format, true) != nullptr) {
        HostCall(xlcFormatNumber, static_cast<Oper*>(nullptr), &format);
      }
      GiveBack(format);
    }
  }
  Table labelTable{};
  Oper label = AreaRef(labelTable, request.outputSheet, CellArea<Ref>(labelRow, request.outputColumn));
  FormatTitleRow(label);
  return true;
}

template void ComposeLabel(const char*, std::size_t, const char*, char*);
template void ComposeLabel(const XCHAR*, std::size_t, const char*, XCHAR*);
template bool ComposeLabelFormula(const char*, std::size_t, const char*, char*);
template bool ComposeLabelFormula(const XCHAR*, std::size_t, const char*, XCHAR*);
template bool WriteLabel(const LabelRequestOf<XLOPER>&);
template bool WriteLabel(const LabelRequestOf<XLOPER12>&);

}  // namespace hvt
