#pragma once
// Excel workbooks for orvelwddx-check: a sheet written row by row, and the first sheet of a workbook read as CSV.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

namespace orvel::cli {

enum class TMark { None, Passed, Failed };

struct TSheetCell
{
    std::string Text; // UTF-8
    TMark Mark = TMark::None;
    bool Guarded = false; // in CSV, a cell a spreadsheet would run as a formula gets a "'" in front; a workbook's
                          // cells are text and need none
};

// One sheet, written in constant memory: every cell text (leading zeros and long numbers stay as they are), the
// first row a bold frozen header, each column as wide as its longest cell (within bounds), cells marked passed green
// and failed red, as the window shows results.
class TXlsxWriter
{
public:
    // Throws std::runtime_error when File cannot be created.
    explicit TXlsxWriter(const std::string& File);
    ~TXlsxWriter();
    TXlsxWriter(const TXlsxWriter&) = delete;
    TXlsxWriter& operator=(const TXlsxWriter&) = delete;

    // The first row is the header.
    void Row(const std::vector<TSheetCell>& Cells);
    // Writes the file; the reason when it could not be written, empty when it was.
    std::string Close();

private:
    std::string FFile;
    lxw_workbook* FBook = nullptr;
    lxw_worksheet* FSheet = nullptr;
    lxw_format *FHeader = nullptr, *FText = nullptr, *FPassed = nullptr, *FFailed = nullptr;
    std::vector<double> FWidths;
    uint32_t FRow = 0;
    bool FFull = false; // rows beyond the sheet's limit were left out
};

// Whether File is a workbook (a zip archive) rather than text.
bool IsXlsx(const std::string& File);

// The first sheet of a workbook as UTF-8 CSV (commas, CR LF), one line per sheet row up to the last row with a
// value, so that line numbers are row numbers; cells as the sheet stores them (text, or a number as written).
// Throws std::runtime_error naming what is missing or broken.
std::string XlsxToCsv(std::string_view Workbook);

} // namespace orvel::cli
