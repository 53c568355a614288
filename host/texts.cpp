#include "host/texts.h"

namespace hvt::text {

char kInsufficientMemory[] = " Insufficient memory!";
char kStopQuestion[] = " 'OK' to stop, 'Cancel' to continue!";
char kInputIncorrect[] = " Your input reference is missing or incorrect!";
char kOutputIncorrect[] = " Your output reference is missing or incorrect!";
char kNotAWorksheet[] = " The active document must be a worksheet!";
char kGroupEditMode[] = " This program will not run in group edit mode!";

char kNonNumber[] = " Your data set contains a non-number!";
char kLabelPrompt[] = " Please enter text to use as label for your output column.";
char kLabelTitle[] = " Output Label";
char kMultipleReference[] = " Your input reference must not be a multiple reference!";
char kInputOneColumn[] = " Your input reference must be ONE column only!";
char kOutputOverInput[] = " Your output must not overwrite your input!";
char kNoNumbersInColumn[] = " Your input column has no numbers in it!";
char kAtLeast32Rows[] = " Your input reference must have at least 32 rows!";
char kNoTextInInput[] =
    " You must not include text, titles, or blank cells in your input "
    "reference.";
char kImproperData[] = " Your data reference is improper! Use complete reference.";
char kRowCount32[] =
    " Your data set cannot have less than 32 rows, nor can it have more rows "
    "than the spreadsheet can contain!";
char kDataOneColumn[] = " Your data set must be in one column only!";
char kOutputWillOverwrite[] = " Your output will overwrite your input!";
char kImproperOutput[] = " Your output reference is improper! Use complete reference.";
char kOutputProtected[] = " Your output document is protected.";
char kImproperDataParameter[] =
    " Your data reference parameter is improper! Use a complete reference, "
    "including the worksheet name.";
char kImproperOutputParameter[] =
    " Your output reference parameter is improper! Use a complete reference, "
    "including the worksheet name.";
char kNoNumbersInAColumn[] = " One of your input columns has NO NUMBERS in it!";

char kKlxAborted[] = " KLX Aborted!";
char kKlxSmoothness[] = " Smoothness must be a number between 0 and 8,192 inclusive!";

char kGtnAborted[] = " GTN Aborted!";
char kGtnSmoothness[] = " Smoothness must be a number between 2 and 50 inclusive!";
char kGtnNoSpan[] = " You must select at least one Span value!";
char kGtnTogetherShort[] =
    " You have selected \"Begin Together\", and your data set is too short "
    "to calculate the results for the longest Span you selected.";
char kGtnSpanShort[] =
    " You must select more data rows to calculate GTN, or you must select a "
    "smaller maximum Span value!";
char kGtnColumnsPastEdge[] =
    " Your output columns would run past the last column of the sheet!";
char kGtnFirstRowValue[] = " Your firstrow value must not be negative.";
char kGtnFirstRowRows[] =
    " You have selected \"Begin Together\" and multiple Spans, and your data "
    "set is too short to calculate the results for the longest Span you "
    "selected.";
char kGtnNothingToWrite[] =
    " Your data set is too short to calculate any results for the Span you "
    "selected.";

char kSpdAborted[] = " SPD_32.XLL Aborted!";
char kSpdDepth[] = " Depth must be a number between 2 and 500 inclusive!";
char kSpdNotEnoughRows[] =
    " Not enough rows in your input reference! You need at least 32 data "
    "rows, and there must be more data rows than your depth value.";
char kSpdNothingToWrite[] =
    " Your data set is too short to calculate any results for the Depth you "
    "selected.";

char kDecorAborted[] = " Decorrelator Aborted!";
char kDecorFormulaTooLong[] =
    " Your update formula would be too long! No formulas were written.";
char kDecorSheetNotFound[] = " Your input or output sheet cannot be found!";
char kDecorSheetNameTooLong[] =
    " Your sheet name is too long to name a coefficient sheet after it!";
char kDecorSheetNotCreated[] = " Your coefficient sheet could not be created!";
char kDecorFileNotCreatedDisk[] = " Cannot create coefficient file! Disk Error";
char kDecorFileNotSavedDisk[] = " Cannot save coefficient file! Disk Error";
char kDecorFileIo[] = " File IO error!";
char kDecorHiddenNonNumber[] =
    " You have a non-number in your hidden coefficient sheet!";
char kDecorUpdateFlag[] =
    " Your Formula Update must be TRUE or FALSE! It cannot be less than zero.";
char kDecorColumns[] =
    " Your input reference must be more than one column, and the columns "
    "must be contiguous.";
char kDecorFarRight[] =
    " Your first output column is too far to the right. There can be a "
    "maximum of 256 columns in a worksheet!";
char kDecorThreeRows[] = " You must have at least 3 rows of data to decorrelate!";
char kDecorProtected[] = " Your output document is protected. You must unprotect it!";
char kDecorInputNonNumber[] =
    " You have a non-number in your input and must change your spreadsheet!";
char kDecorAlreadyDone[] = " This data set appears to be already decorrelated!";
char kDecorNoVariation[] =
    " Your input columns do not vary! There is nothing to decorrelate.";
char kDecorOverwriteOrTooMany[] =
    " Either your output will overwrite your input, or you have too many "
    "columns of data to output to the same spreadsheet!";
char kDecorTooFarToBegin[] =
    " Your first output column is too far to the right. Your output will "
    "produce too many columns to begin where you've chosen!";
char kDecorDoesNotFit[] = " Your output will not fit below the cell you have chosen!";
char kDecorFileNotCreated[] = " External coefficient file not created!";
char kDecorCoefficientNameTooLong[] =
    " Your coefficient sheet's name would be longer than 31 characters! "
    "Use a shorter sheet name.";
char kDecorCoefficientIsDataSheet[] =
    " Your coefficient sheet would be your input or output sheet! "
    "Rename your sheet.";
char kDecorOtherWorkbook[] = " Your output must be in the workbook of your input!";

char kBlkAborted[] = " BlokSamp 2 Aborted!";
char kBlkImproperTitles[] =
    " Your titles reference parameter is improper! Use a complete reference, "
    "including the worksheet name.";
char kBlkCompound[] = " Your input reference must not be a compound reference!";
char kBlkTooGreat[] =
    " Your choice of \"n\" and \"m\" values is too great for your data set. "
    "Select smaller \"n\" and \"m\" values.";
char kBlkTooManyColumns[] =
    " Your choice of \"n\" and \"m\" values will produce too many output "
    "columns. Select smaller \"n\" and \"m\" values.";
char kBlkOverwrite[] = " Your output will overwrite your input. This is not allowed.";
char kBlkTitlesOneRow[] = " Your data titles must be in one row only!";
char kBlkTitlesText[] = " You MUST have text titles in each of your input columns!";
char kBlkTitlesMissing[] = " Your data titles reference is missing or incorrect!";
char kBlkNoBlockType[] =
    " You must select at least one type of output block, Standard, Detrended, "
    "or both.";
char kBlkUnprotectedOutput[] = " You must choose an unprotected output document!";
char kBlkFormulaTooLong[] =
    " Your block formula would be too long! Its last row keeps the "
    "computed value.";

}  // namespace hvt::text
