// The Excel C API as this add-in uses it: the value record, its type words,
// error and return codes, and the function numbers the add-in calls.
// Values follow the published XLCALL32 interface. Sizes of records differ
// between 32-bit and 64-bit builds, so code must use sizeof(XLOPER).
#ifndef HVT_SDK_XLCALL_H
#define HVT_SDK_XLCALL_H

#include <stddef.h>

#include "sdk/win32.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// A sheet's id: pointer-wide (DWORD_PTR), 8 bytes on 64-bit Windows.
typedef uintptr_t IDSHEET;

typedef struct xlref {
  WORD rwFirst;
  WORD rwLast;
  BYTE colFirst;
  BYTE colLast;
} XLREF, *LPXLREF;

typedef struct xlmref {
  WORD count;
  XLREF reftbl[1];  // really [count]
} XLMREF, *LPXLMREF;

typedef struct xloper {
  union {
    double num;
    LPSTR str;  // counted string: first byte is the length
    WORD xbool;
    WORD err;
    short int w;
    struct {
      WORD count;  // always 1
      XLREF ref;
    } sref;
    struct {
      XLMREF* lpmref;
      IDSHEET idSheet;
    } mref;
    struct {
      struct xloper* lparray;
      WORD rows;
      WORD columns;
    } array;
    struct {
      union {
        short int level;
        short int tbctrl;
        IDSHEET idSheet;
      } valflow;
      WORD rw;
      BYTE col;
      BYTE xlflow;
    } flow;
    struct {
      union {
        BYTE* lpbData;
        HANDLE hdata;
      } h;
      long cbData;
    } bigdata;
  } val;
  WORD xltype;
} XLOPER, *LPXLOPER;

// The 12-series record: 32-bit rows and columns, wide-character strings
// (the first XCHAR holds the length), 32-bit integers and type word.
#ifdef _WIN32
typedef WCHAR XCHAR;
#else
typedef uint16_t XCHAR;
#endif
typedef int32_t RW;
typedef int32_t COL;

typedef struct xlref12 {
  RW rwFirst;
  RW rwLast;
  COL colFirst;
  COL colLast;
} XLREF12, *LPXLREF12;

typedef struct xlmref12 {
  WORD count;
  XLREF12 reftbl[1];  // really [count]
} XLMREF12, *LPXLMREF12;

typedef struct xloper12 {
  union {
    double num;
    XCHAR* str;  // counted wide string: first character is the length
    int32_t xbool;
    int32_t err;
    int32_t w;
    struct {
      WORD count;  // always 1
      XLREF12 ref;
    } sref;
    struct {
      XLMREF12* lpmref;
      IDSHEET idSheet;
    } mref;
    struct {
      struct xloper12* lparray;
      RW rows;
      COL columns;
    } array;
    struct {
      union {
        int32_t level;
        int32_t tbctrl;
        IDSHEET idSheet;
      } valflow;
      RW rw;
      COL col;
      BYTE xlflow;
    } flow;
    struct {
      union {
        BYTE* lpbData;
        HANDLE hdata;
      } h;
      long cbData;
    } bigdata;
  } val;
  DWORD xltype;
} XLOPER12, *LPXLOPER12;

// Excel's layout: 16 bytes with the type word at 8 on 32-bit (GCC needs
// -malign-double there for the double's 8-byte alignment), 24 and 16 on
// 64-bit. A module built otherwise misreads every value Excel passes.
#ifdef __cplusplus
static_assert(sizeof(void*) == 4 ? sizeof(XLOPER) == 16 && offsetof(XLOPER, xltype) == 8
                                 : sizeof(XLOPER) == 24 && offsetof(XLOPER, xltype) == 16,
              "XLOPER is not laid out as Excel lays it out (-malign-double on 32-bit?)");
#else
_Static_assert(sizeof(void*) == 4 ? sizeof(XLOPER) == 16 && offsetof(XLOPER, xltype) == 8
                                  : sizeof(XLOPER) == 24 && offsetof(XLOPER, xltype) == 16,
               "XLOPER is not laid out as Excel lays it out (-malign-double on 32-bit?)");
#endif

// Type words.
enum {
  xltypeNum = 0x0001,
  xltypeStr = 0x0002,
  xltypeBool = 0x0004,
  xltypeRef = 0x0008,
  xltypeErr = 0x0010,
  xltypeFlow = 0x0020,
  xltypeMulti = 0x0040,
  xltypeMissing = 0x0080,
  xltypeNil = 0x0100,
  xltypeSRef = 0x0400,
  xltypeInt = 0x0800,
  xlbitXLFree = 0x1000,
  xlbitDLLFree = 0x4000,
  xltypeBigData = xltypeStr | xltypeInt,
};

// Error codes (val.err).
enum {
  xlerrNull = 0,
  xlerrDiv0 = 7,
  xlerrValue = 15,
  xlerrRef = 23,
  xlerrName = 29,
  xlerrNum = 36,
  xlerrNA = 42,
};

// Return codes of Excel4 / Excel4v (bit flags).
enum {
  xlretSuccess = 0,
  xlretAbort = 1,
  xlretInvXlfn = 2,
  xlretInvCount = 4,
  xlretInvXloper = 8,
  xlretStackOvfl = 16,
  xlretFailed = 32,
  xlretUncalced = 64,
};

// Function number flags. Plain macros, as they are combined with numbers
// from every group below.
#define xlCommand 0x8000
#define xlSpecial 0x4000
#define xlIntl 0x2000
#define xlPrompt 0x1000

// Special functions.
enum {
  xlFree = 0 | xlSpecial,
  xlStack = 1 | xlSpecial,
  xlCoerce = 2 | xlSpecial,
  xlSet = 3 | xlSpecial,
  xlSheetId = 4 | xlSpecial,
  xlSheetNm = 5 | xlSpecial,
  xlAbort = 6 | xlSpecial,
  xlGetInst = 7 | xlSpecial,
  xlGetHwnd = 8 | xlSpecial,
  xlGetName = 9 | xlSpecial,
};

// Worksheet and macro-sheet functions.
enum {
  xlfCount = 0,
  xlfSum = 4,
  xlfMid = 31,
  xlfLen = 32,
  xlfValue = 33,
  xlfRows = 76,
  xlfSearch = 82,
  xlfError = 84,
  xlfEcho = 87,
  xlfSetName = 88,
  xlfDocuments = 93,
  xlfActiveCell = 94,
  xlfSelection = 95,
  xlfInput = 104,
  xlfIsref = 105,
  xlfLeft = 115,
  xlfRight = 116,
  xlfDirectory = 123,
  xlfIstext = 127,
  xlfIsnumber = 128,
  xlfReftext = 146,
  xlfTextref = 147,
  xlfRegister = 149,
  xlfAddCommand = 153,
  xlfDeleteCommand = 159,
  xlfDialogBox = 161,
  xlfGetBar = 182,
  xlfGetCell = 185,
  xlfGetWorkspace = 186,
  xlfGetWindow = 187,
  xlfGetDocument = 188,
  xlfIsnontext = 190,
  xlfUnregister = 201,
  xlfFormulaConvert = 241,
  xlfRegisterId = 267,
  xlfGetWorkbook = 268,
};

// Commands.
enum {
  xlcBeep = 0 | xlCommand,
  xlcSave = 4 | xlCommand,
  xlcSaveAs = 5 | xlCommand,
  xlcClose = 16 | xlCommand,
  xlcProtectDocument = 28 | xlCommand,
  xlcCalculateNow = 31 | xlCommand,
  xlcCalculation = 32 | xlCommand,
  xlcFormatNumber = 42 | xlCommand,
  xlcAlignment = 43 | xlCommand,
  xlcCellProtection = 46 | xlCommand,
  xlcColumnWidth = 47 | xlCommand,
  xlcCopy = 50 | xlCommand,
  xlcClear = 52 | xlCommand,
  xlcFormulaGoto = 63 | xlCommand,
  xlcHide = 93 | xlCommand,
  xlcWorkspace = 95 | xlCommand,
  xlcFormula = 96 | xlCommand,
  xlcFormulaArray = 98 | xlCommand,
  xlcActivate = 103 | xlCommand,
  xlcSelect = 109 | xlCommand,
  xlcAlert = 118 | xlCommand,
  xlcNew = 119 | xlCommand,
  xlcMessage = 122 | xlCommand,
  xlcFileClose = 144 | xlCommand,
  xlcFormatFont = 150 | xlCommand,
  xlcCalculateDocument = 167 | xlCommand,
  xlcSelectEnd = 187 | xlCommand,
  xlcWorkbookMove = 282 | xlCommand,
  xlcWorkbookOptions = 284 | xlCommand,
  xlcWorkbookActivate = 292 | xlCommand,
  xlcWorkbookHide = 383 | xlCommand,
  xlcWorkbookUnhide = 384 | xlCommand,
  xlcWorkbookDelete = 385 | xlCommand,
};

// Limits of the two grids and their strings.
enum {
  kXl4MaxRows = 65536,
  kXl4MaxColumns = 256,
  kXl12MaxRows = 1048576,
  kXl12MaxColumns = 16384,
  kXl4MaxStringLength = 255,
  kXl12MaxStringLength = 32767,
  kXl12MaxArguments = 255,
};

// Entry points into the host.
int XLCALL_CDECL Excel4(int xlfn, LPXLOPER operRes, int count, ...);
int XLCALL_STDCALL Excel4v(int xlfn, LPXLOPER operRes, int count,
                           LPXLOPER opers[]);

// The 12-series entry points. They are not exported by XLCALL32: each
// module carries them (sdk/xlcall12.cpp) and they find the host's entry,
// MdCallBack12, in the host process; a host without one (before version 12)
// answers xlretFailed.
int XLCALL_CDECL Excel12(int xlfn, LPXLOPER12 operRes, int count, ...);
int XLCALL_STDCALL Excel12v(int xlfn, LPXLOPER12 operRes, int count,
                            LPXLOPER12 opers[]);
// The host's entry as the host process exports it.
typedef int(XLCALL_STDCALL* Excel12EntryPoint)(int xlfn, int count,
                                               LPXLOPER12 opers[],
                                               LPXLOPER12 operRes);

#ifdef __cplusplus
}

// The records are exchanged with hosts built by other compilers: their
// layout is fixed by the host, on 32-bit and 64-bit builds alike.
#include <cstddef>
static_assert(sizeof(XCHAR) == 2, "XCHAR is a UTF-16 code unit");
static_assert(sizeof(XLREF12) == 16, "XLREF12 is four 32-bit fields");
static_assert(offsetof(XLMREF12, reftbl) == 4, "XLMREF12 areas follow the count");
static_assert(sizeof(XLOPER12) == 32, "XLOPER12 is 32 bytes");
static_assert(offsetof(XLOPER12, xltype) == 24, "XLOPER12 type word follows 24 bytes of value");
static_assert(offsetof(XLOPER12, val.sref.ref) == 4, "XLOPER12 sref area follows its count");
static_assert(offsetof(XLOPER12, val.array.rows) == sizeof(void*),
              "XLOPER12 array counts follow the pointer");
static_assert(sizeof(XLREF) == 6, "XLREF is two words and two bytes");
// Every member of the 8-bit series where Excel has it, on either width.
static_assert(offsetof(XLREF, rwLast) == 2 && offsetof(XLREF, colFirst) == 4 &&
                  offsetof(XLREF, colLast) == 5,
              "XLREF members");
static_assert(offsetof(XLMREF, reftbl) == 2 && sizeof(XLMREF) == 8, "XLMREF areas follow the count");
static_assert(sizeof(IDSHEET) == sizeof(void*), "a sheet id is pointer-wide");
static_assert(offsetof(XLOPER, val.num) == 0 && offsetof(XLOPER, val.str) == 0 &&
                  offsetof(XLOPER, val.xbool) == 0 && offsetof(XLOPER, val.err) == 0 &&
                  offsetof(XLOPER, val.w) == 0,
              "XLOPER scalars start the record");
static_assert(offsetof(XLOPER, val.sref.count) == 0 && offsetof(XLOPER, val.sref.ref) == 2,
              "XLOPER sref area follows its count");
static_assert(offsetof(XLOPER, val.mref.lpmref) == 0 &&
                  offsetof(XLOPER, val.mref.idSheet) == sizeof(void*) &&
                  sizeof(XLOPER{}.val.mref.idSheet) == sizeof(void*),
              "XLOPER mref: the sheet id, pointer-wide, follows the table");
static_assert(offsetof(XLOPER, val.array.lparray) == 0 &&
                  offsetof(XLOPER, val.array.rows) == sizeof(void*) &&
                  offsetof(XLOPER, val.array.columns) == sizeof(void*) + 2,
              "XLOPER array counts follow the pointer");
static_assert(offsetof(XLOPER, val.flow.valflow) == 0 &&
                  sizeof(XLOPER{}.val.flow.valflow) == sizeof(void*) &&
                  offsetof(XLOPER, val.flow.rw) == sizeof(void*) &&
                  offsetof(XLOPER, val.flow.col) == sizeof(void*) + 2 &&
                  offsetof(XLOPER, val.flow.xlflow) == sizeof(void*) + 3,
              "XLOPER flow: row, column and kind follow the pointer-wide value");
static_assert(offsetof(XLOPER, val.bigdata.h) == 0 &&
                  offsetof(XLOPER, val.bigdata.cbData) == sizeof(void*),
              "XLOPER bigdata length follows the pointer");
#endif

#endif  // HVT_SDK_XLCALL_H
