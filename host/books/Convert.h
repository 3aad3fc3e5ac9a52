#pragma once

// The converter that imports records from a file: it reads an Excel workbook
// (.xls or .xlsx, first worksheet) or a comma-separated text file, offers the
// file's column captions, holds the mapping of record fields to file columns
// and writes one record per data row of the file. TCaGlideConvert writes
// journal rows.

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "Glide.h"
#include "ImportLog.h"
#include "LhApi.h"
#include "UserError.h"

namespace ledgerhost {

// An import that cannot go on. The message is the one the user sees.
class LH_API ConvertError : public UserError {
  public:
    using UserError::UserError;
};

// The person declined to import a file whose content was imported before.
class LH_API ImportDeclinedError : public ConvertError {
  public:
    ImportDeclinedError() : ConvertError("没有导入任何记录。") {}
};

// What a converter writes.
enum TConvertType : std::int32_t {
    ctNone = 0,     // nothing: ImportData refuses
    ctCaGlide = 1,  // journal rows
};

// One record field and the file column that feeds it (empty: not mapped).
// The column is named by its position (from 0) when FileColumnIndex is set, so
// that columns sharing a caption can each be mapped; -1 names it by caption
// alone (the first column with that caption).
struct LH_API TColumnMap {
    std::string FieldCaption;
    std::string FileColumn;
    int FileColumnIndex = -1;
};

// One cell of the file: its text, and its value when a workbook stores a
// number there (see SheetCell).
struct LH_API TFileCell {
    std::string Text;
    std::optional<double> Number;
};

// One row of the file that holds at least one value: its row number as a
// spreadsheet program shows it (for a text file, the line the record starts
// on) and its cells by column from 0, in column order, empty cells left out.
struct LH_API TFileRow {
    std::int64_t Number = 0;
    std::vector<std::pair<int, TFileCell>> Cells;
    // The cell of a column; nothing when it is empty.
    const TFileCell* cell(int col) const;
};

// The part every converter shares: reading the file and the mapping.
//
// Files, told apart by extension (letter case aside) and, for workbooks, by
// their first bytes, so that a workbook saved under the other extension still
// reads:
//  - ".xls": an Excel 97-2003 workbook, first worksheet;
//  - ".xlsx": an Excel 2007 or later workbook, first worksheet;
//  - anything else: comma-separated text as spreadsheet programs write it:
//    records end at CR LF, CR or LF; fields are separated by half-width
//    commas; a field in double quotes may hold commas, line breaks and
//    doubled quotes (""). UTF-8 with or without BOM, else the workstation's
//    ANSI code page (GBK).
// With FirstRowCaptions the first row that holds a value gives the column
// captions (trimmed) and the rows below it are data; a column whose caption is
// blank is called "列" and its letter ("列C"). Without it every row is data
// and the columns are called by their letters ("A", "B", ...). Rows without
// any value are left out. In a text file with captions every record must have
// as many fields as the caption line (an unquoted "1,234.56" would shift the
// fields after it): a record that differs stops the reading, naming its line.
//
// The mapping last imported with for a caption layout (the same captions in
// the same order) is remembered on the workstation and offered again when a
// file of that layout is read.
class LH_API TManageConvert {
  public:
    virtual ~TManageConvert();
    TManageConvert(const TManageConvert&) = delete;
    TManageConvert& operator=(const TManageConvert&) = delete;

    // Reads the file and resets ColumnMaps: to the mapping remembered for the
    // file's caption layout, else every field to the first file column whose
    // caption equals the field's caption, or left unmapped. A
    // file that cannot be read throws ConvertError naming the file and the
    // reason, and leaves the converter as it was.
    void SetFileName(const std::string& path);
    const std::string& FileName() const { return fileName_; }
    // The file's column captions, in column order; empty before a file is read.
    const std::vector<std::string>& GetFileColumnCaptions() const { return captions_; }
    // The data rows of the file, in file order.
    const std::vector<TFileRow>& FileRows() const { return rows_; }
    bool Date1904() const { return date1904_; }
    // The caption of a column (from 0); empty outside the captions.
    std::string columnCaption(int col) const;

    // Writes one record per data row with the current mapping. All or nothing:
    // on any error nothing is stored and ConvertError (or the store's error)
    // says why.
    virtual void ImportData() = 0;

    // One entry per field, in the fields' order.
    std::vector<TColumnMap> ColumnMaps;
    TConvertType ConvertType;
    bool FirstRowCaptions;

    // Remembers the current mapping for the file's caption layout.
    void rememberMapping() const;

  protected:
    // fieldCaptions: the fields a person maps, in order. A non-empty fileName
    // is read at once.
    TManageConvert(std::vector<std::string> fieldCaptions, const std::string& fileName,
                   TConvertType type, bool firstRowCaptions);

    // The file column a field is mapped to: its index among the captions, or
    // -1 when the field is not mapped. A mapping to a caption the file does
    // not have throws ConvertError.
    int mappedColumn(const std::string& fieldCaption) const;

    // SHA-256 (hex) of the file's bytes as they were read.
    const std::string& digest() const { return digest_; }

  private:
    void resetMaps();
    void applyRememberedMapping();
    std::string layoutKey() const;

    std::vector<std::string> fields_;
    std::string fileName_;
    std::string digest_;
    std::vector<std::string> captions_;
    std::vector<TFileRow> rows_;
    bool date1904_ = false;
};

// Imports journal rows into GlideMng. The fields, in order: 日期, 统一号, 摘要,
// 借方金额, 贷方金额, 支票号, 结算方式, 对方单位, 部门, 备注, 账号.
//
// Each data row becomes one new row (OperFlag "0", GlideFlag "1", ApplyUser
// the signed-in user, the current book set) of the account whose number the
// 账号 column gives (an account of the current book set, in use), or, when
// 账号 is not mapped, of TargetASCode (the account the journal window shows;
// when empty, the account of GlideMng's conditions). 日期 must be
// mapped; a date reads as the workstation's short date, "YYYY-MM-DD",
// "yyyy/M/d", "yyyy.M.d", "yyyy年M月d日" or "yyyyMMdd" (a time after it is
// ignored), and a number a workbook stores in a date cell as an Excel date
// number. An amount is a plain decimal: digits, optionally grouped by ","
// in groups of three, one decimal separator (the workstation's), at most two
// decimals; an empty amount is 0. 统一号, when given, is a whole number
// written in digits that the account does not use yet (nor another row of the
// file). 结算方式, 对方单位 and 部门 are given by code or by name. 余额, offered
// for a bank statement, is blank or an amount as above.
// Every row is checked before anything is stored, and all rows are stored in
// one transaction; on any error the rows this import added to GlideMng are
// taken out again. Errors name the file row ("第 7 行").
class LH_API TCaGlideConvert : public TManageConvert {
  public:
    // With `bankBalance` (a bank statement) the fields end with 余额: the
    // bank's balance after each row, kept with the row and checked as the
    // statement importers check theirs (BankBalanceCheck).
    TCaGlideConvert(const std::string& fileName, TConvertType type, bool firstRowCaptions,
                    bool bankBalance = false);

    void ImportData() override;

    TCaGlideMng* GlideMng = nullptr;  // not owned
    std::string TargetASCode;         // the account for rows without an 账号 column
    // A file whose content the book set's import log holds is imported again
    // when Again is set or ConfirmAgain answers true; otherwise it is refused
    // (AlreadyImportedError, or ImportDeclinedError after a no).
    bool Again = false;
    std::function<bool(const ImportLogEntry& earlier)> ConfirmAgain;
    // After a successful ImportData: the rows stored and their accounts'
    // numbers ("、" between them).
    std::int64_t ImportedRows = 0;
    std::string ImportedAccounts;
    // And the breaks in the bank's balances, one sentence each (the rows are
    // stored all the same).
    std::vector<std::string> BalanceWarnings;
    std::size_t BalanceBreaks = 0;  // all of them (BankBalanceCheck::breaks)

  private:
    bool bankBalance_;
};

}  // namespace ledgerhost
