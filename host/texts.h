// Every text the add-in shows the user, in one place; only the refusals of a
// tool's settings, which the hvt command gives too, live beside the tool's
// bounds in tools/<tool>/<tool>_settings.h. Each is a counted
// string in a writable buffer: a placeholder first byte that the alert
// calls turn into the length, then the text and its NUL. A text two tools
// show alike is one entry here.
#ifndef HVT_HOST_TEXTS_H
#define HVT_HOST_TEXTS_H

namespace hvt::text {

// ---- Host services and the command frame.
extern char kInsufficientMemory[];
extern char kStopQuestion[];
extern char kInputIncorrect[];
extern char kOutputIncorrect[];
extern char kNotAWorksheet[];
extern char kGroupEditMode[];

// ---- Shared by the column commands.
extern char kNonNumber[];
extern char kLabelPrompt[];
extern char kLabelTitle[];
extern char kMultipleReference[];
extern char kInputOneColumn[];
extern char kOutputOverInput[];
extern char kNoNumbersInColumn[];
extern char kAtLeast32Rows[];
extern char kNoTextInInput[];
extern char kImproperData[];
extern char kRowCount32[];
extern char kDataOneColumn[];
extern char kOutputWillOverwrite[];
extern char kImproperOutput[];
extern char kOutputProtected[];
extern char kImproperDataParameter[];
extern char kImproperOutputParameter[];
extern char kNoNumbersInAColumn[];

// ---- KLX.
extern char kKlxAborted[];
extern char kKlxSmoothness[];

// ---- GTN.
extern char kGtnAborted[];
extern char kGtnSmoothness[];
extern char kGtnNoSpan[];
extern char kGtnTogetherShort[];
extern char kGtnSpanShort[];
extern char kGtnColumnsPastEdge[];
extern char kGtnFirstRowValue[];
extern char kGtnFirstRowRows[];
extern char kGtnNothingToWrite[];

// ---- SPD.
extern char kSpdAborted[];
extern char kSpdDepth[];
extern char kSpdNotEnoughRows[];
extern char kSpdNothingToWrite[];

// ---- Decorrelator.
extern char kDecorAborted[];
extern char kDecorFormulaTooLong[];
extern char kDecorSheetNotFound[];
extern char kDecorSheetNameTooLong[];
extern char kDecorSheetNotCreated[];
extern char kDecorFileNotCreatedDisk[];
extern char kDecorFileNotSavedDisk[];
extern char kDecorFileIo[];
extern char kDecorHiddenNonNumber[];
extern char kDecorUpdateFlag[];
extern char kDecorColumns[];
extern char kDecorFarRight[];
extern char kDecorThreeRows[];
extern char kDecorProtected[];
extern char kDecorInputNonNumber[];
extern char kDecorAlreadyDone[];
extern char kDecorNoVariation[];
extern char kDecorOverwriteOrTooMany[];
extern char kDecorTooFarToBegin[];
extern char kDecorDoesNotFit[];
extern char kDecorFileNotCreated[];
extern char kDecorCoefficientNameTooLong[];
extern char kDecorCoefficientIsDataSheet[];
extern char kDecorOtherWorkbook[];

// ---- BLK.
extern char kBlkAborted[];
extern char kBlkImproperTitles[];
extern char kBlkCompound[];
extern char kBlkTooGreat[];
extern char kBlkTooManyColumns[];
extern char kBlkOverwrite[];
extern char kBlkTitlesOneRow[];
extern char kBlkTitlesText[];
extern char kBlkTitlesMissing[];
extern char kBlkNoBlockType[];
extern char kBlkUnprotectedOutput[];
extern char kBlkFormulaTooLong[];

}  // namespace hvt::text

#endif  // HVT_HOST_TEXTS_H
