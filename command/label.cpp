#include "command/label.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "host/counted_string.h"
#include "host/host_values.h"
#include "host/references.h"
#include "host/texts.h"

namespace hvt {

namespace {

// Formula text in the international (R1C1) form.
constexpr int kFormulaIntl = int{xlcFormula} | int{xlIntl};

// Copies `length` characters after the length slot and ends them.
void PutText(char* buffer, std::size_t at, const char* text, std::size_t length) {
  std::memcpy(buffer + 1 + at, text, length);
  buffer[1 + at + length] = '\0';
}

// The value of one cell, when the host gives it.
void CellValue(IDSHEET sheet, long row, long column, HostValue& value) {
  XLMREF table{};
  XLOPER cell = AreaRef(table, sheet, CellArea(row, column));
  value.Call(xlCoerce, &cell);
}

// Enters a counted text (NUL ended) into a cell as the user would type it.
void EnterText(char* text, IDSHEET sheet, long row, long column) {
  XLMREF table{};
  XLOPER cell = AreaRef(table, sheet, CellArea(row, column));
  CallExcel(kFormulaIntl, nullptr, 2, TempString(text), &cell);
}

}  // namespace

void ComposeLabel(const char* text, std::size_t textLength, const char* suffix,
                  char* buffer) {
  std::size_t suffixLength = std::min(std::strlen(suffix), kLabelTextMax);
  std::size_t kept = std::min(textLength, kLabelTextMax - suffixLength);
  PutText(buffer, 0, text, kept);
  PutText(buffer, kept, suffix, suffixLength);
  buffer[0] = static_cast<char>(kept + suffixLength);
}

bool ComposeLabelFormula(const char* reference, std::size_t referenceLength,
                         const char* suffix, char* buffer) {
  static const char kHead[] = "=\"Col\"&COLUMN(";
  static const char kMiddle[] = ")&\"";
  const std::size_t head = sizeof kHead - 1, middle = sizeof kMiddle - 1;
  const std::size_t suffixLength = std::strlen(suffix);
  const std::size_t fixed = head + middle + suffixLength + 1;
  if (fixed + referenceLength > kLabelTextMax) {
    for (std::size_t i = referenceLength; i > 0; --i) {
      if (reference[i - 1] == '!') {
        reference += i;
        referenceLength -= i;
        break;
      }
    }
  }
  const std::size_t total = fixed + referenceLength;
  if (total > kLabelTextMax) return false;
  std::size_t at = 0;
  PutText(buffer, at, kHead, head);
  at += head;
  PutText(buffer, at, reference, referenceLength);
  at += referenceLength;
  PutText(buffer, at, kMiddle, middle);
  at += middle;
  PutText(buffer, at, suffix, suffixLength);
  at += suffixLength;
  PutText(buffer, at, "\"", 1);
  buffer[0] = static_cast<char>(total);
  return true;
}

bool WriteLabel(const LabelRequest& request) {
  const XLREF* area = request.data != nullptr ? FirstArea(*request.data) : nullptr;
  if (area == nullptr || request.buffer == nullptr) return false;
  const XLOPER& data = *request.data;
  const IDSHEET sheet = data.val.mref.idSheet;
  const long first = area->rwFirst;
  const long column = area->colFirst;
  const long above = first > 0 ? first - 1 : first;
  const long labelRow = request.labelRow;
  char* buffer = request.buffer;

  HostValue aboveValue, rowValue, typed;
  CellValue(sheet, above, column, aboveValue);
  CellValue(sheet, labelRow, column, rowValue);
  const bool aboveText = aboveValue.text() != nullptr;
  const bool rowText = rowValue.text() != nullptr;

  const char* taken = nullptr;
  bool ask = false;
  if (aboveText) {
    if (rowText && above != labelRow) {
      ask = true;
    } else {
      taken = aboveValue.text();
    }
  } else if (rowText) {
    taken = rowValue.text();
  } else if (request.outputSheet != sheet) {
    ask = true;
  }
  if (ask) {
    typed.Call(xlfInput, TempString(text::kLabelPrompt), TempNumber(2),
               TempString(text::kLabelTitle));
    taken = typed.text();  // a cancelled input answers FALSE: no label
  }

  if (taken != nullptr) {
    ComposeLabel(taken + 1, CountedLength(taken), request.suffix, buffer);
    EnterText(buffer, request.outputSheet, labelRow, request.outputColumn);
  } else if (!ask) {
    HostValue reference;
    bool formula = false;
    if (reference.Call(xlfReftext, const_cast<LPXLOPER>(&data)) == xlretSuccess &&
        reference.text() != nullptr) {
      formula = ComposeLabelFormula(reference.text() + 1,
                                    CountedLength(reference.text()),
                                    request.suffix, buffer);
    }
    if (!formula) {
      // No reference text to name: the label the formula would show.
      char name[16];
      int length = std::snprintf(name, sizeof name, "Col%ld", column + 1);
      ComposeLabel(name, static_cast<std::size_t>(length), request.suffix, buffer);
    }
    EnterText(buffer, request.outputSheet, labelRow, request.outputColumn);
  }
  aboveValue.Release();
  rowValue.Release();
  typed.Release();

  if (request.writtenFirst <= request.writtenLast) {
    XLMREF writtenTable{};
    XLOPER written = AreaRef(writtenTable, request.outputSheet,
                             MakeArea(request.writtenFirst, request.writtenLast,
                                      request.outputColumn, request.outputColumn));
    Excel4(xlcFormulaGoto, nullptr, 1, &written);
    XLMREF firstTable{};
    XLOPER firstCell = AreaRef(firstTable, sheet, CellArea(first, column));
    HostValue format;
    if (format.Call(xlfGetCell, TempNumber(7), &firstCell) == xlretSuccess &&
        format.text() != nullptr) {
      Excel4(xlcFormatNumber, nullptr, 1, &format.get());
    }
  }
  XLMREF labelTable{};
  XLOPER label = AreaRef(labelTable, request.outputSheet,
                         CellArea(labelRow, request.outputColumn));
  FormatTitleRow(label);
  return true;
}

}  // namespace hvt
