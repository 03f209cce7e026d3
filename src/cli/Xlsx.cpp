#include "cli/Xlsx.h"

#include "platform/Csv.h"
#include "cli/Messages.h"

#include <libxml/xmlreader.h>
#include <xlsxwriter.h>
#include <zip.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <utility>

namespace orvel::cli {
namespace {

constexpr uint32_t kMaxRows = LXW_ROW_MAX;
constexpr uint16_t kMaxColumns = LXW_COL_MAX;
constexpr size_t kMaxCellCharacters = 32767; // what a cell of a sheet holds
constexpr double kMinWidth = 6, kMaxWidth = 60;
// What one part of a workbook may unpack to: a small archive claiming more is refused, not unpacked.
constexpr zip_uint64_t kMaxPart = 1u << 30;

size_t Characters(std::string_view Utf8)
{
    return size_t(std::count_if(Utf8.begin(), Utf8.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// At most Limit characters, cut between two of them.
std::string_view Cut(std::string_view Utf8, size_t Limit)
{
    size_t characters = 0;
    for (size_t i = 0; i < Utf8.size(); ++i)
        if ((Utf8[i] & 0xC0) != 0x80 && characters++ == Limit)
            return Utf8.substr(0, i);
    return Utf8;
}

} // namespace

TXlsxWriter::TXlsxWriter(const std::string& File) : FFile(File)
{
    // The library makes the file only when it closes; a folder that is not there should stop the run before it.
    std::FILE* probe = std::fopen(File.c_str(), "wb");
    if (!probe)
        throw std::runtime_error(Tr("cannot write %1", {File}));
    std::fclose(probe);
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.use_zip64 = LXW_TRUE;
    FBook = workbook_new_opt(File.c_str(), &options);
    FSheet = FBook ? workbook_add_worksheet(FBook, nullptr) : nullptr;
    if (!FSheet)
        throw std::runtime_error(Tr("cannot write %1", {File}));
    const auto format = [this](bool Bold, lxw_color_t Colour) {
        lxw_format* made = workbook_add_format(FBook);
        format_set_num_format(made, "@"); // text, also when edited
        if (Bold)
            format_set_bold(made);
        if (Colour != LXW_COLOR_BLACK)
            format_set_font_color(made, Colour);
        return made;
    };
    FHeader = format(true, LXW_COLOR_BLACK);
    FText = format(false, LXW_COLOR_BLACK);
    FPassed = format(false, 0x008000);
    FFailed = format(false, 0xFF0000);
    worksheet_freeze_panes(FSheet, 1, 0);
}

TXlsxWriter::~TXlsxWriter()
{
    if (FBook)
        Close();
}

void TXlsxWriter::Row(const std::vector<TSheetCell>& Cells)
{
    if (FRow >= kMaxRows) {
        FFull = true;
        return;
    }
    const size_t count = std::min<size_t>(Cells.size(), kMaxColumns);
    if (FWidths.size() < count)
        FWidths.resize(count, kMinWidth);
    for (size_t column = 0; column < count; ++column) {
        const TSheetCell& cell = Cells[column];
        if (cell.Text.empty() && cell.Mark == TMark::None)
            continue;
        const std::string text(Cut(cell.Text, kMaxCellCharacters));
        lxw_format* format = FRow == 0                    ? FHeader
                             : cell.Mark == TMark::Passed ? FPassed
                             : cell.Mark == TMark::Failed ? FFailed
                                                          : FText;
        worksheet_write_string(FSheet, FRow, lxw_col_t(column), text.c_str(), format);
        FWidths[column] = std::max(FWidths[column], std::min(kMaxWidth, double(Characters(text)) + (FRow ? 1 : 2)));
    }
    ++FRow;
}

std::string TXlsxWriter::Close()
{
    for (size_t column = 0; column < FWidths.size(); ++column)
        worksheet_set_column(FSheet, lxw_col_t(column), lxw_col_t(column), FWidths[column], nullptr);
    const lxw_error error = workbook_close(std::exchange(FBook, nullptr));
    if (error != LXW_NO_ERROR)
        return Tr("cannot write %1", {FFile}) + ": " + lxw_strerror(error);
    if (FFull)
        return Tr("%1 holds the first %2 rows only, as many as a sheet can", {FFile, std::to_string(kMaxRows)});
    return {};
}

namespace {

using TZip = std::unique_ptr<zip_t, decltype(&zip_discard)>;

std::string ReadPart(zip_t* Zip, const std::string& Name)
{
    zip_stat_t info;
    zip_stat_init(&info);
    if (zip_stat(Zip, Name.c_str(), 0, &info) != 0 || !(info.valid & ZIP_STAT_SIZE))
        return {};
    if (info.size > kMaxPart)
        throw std::runtime_error(Tr("%1 is larger than 1 GiB unpacked", {Name}));
    std::unique_ptr<zip_file_t, decltype(&zip_fclose)> file(zip_fopen(Zip, Name.c_str(), 0), zip_fclose);
    std::string data(size_t(info.size), '\0');
    if (!file || zip_fread(file.get(), data.data(), info.size) != zip_int64_t(info.size))
        throw std::runtime_error(Tr("%1 cannot be unpacked", {Name}));
    return data;
}

// A pull reader over one part: no network, no DTD, entities left as they are.
class TXmlReader
{
public:
    TXmlReader(const std::string& Xml, const std::string& Name)
        : FName(Name),
          FReader(xmlReaderForMemory(Xml.data(), int(Xml.size()), nullptr, "UTF-8", XML_PARSE_NONET), xmlFreeTextReader)
    {
        if (!FReader)
            throw std::runtime_error(Tr("cannot read %1", {Name}));
    }

    bool Next()
    {
        const int read = xmlTextReaderRead(FReader.get());
        if (read < 0)
            throw std::runtime_error(Tr("%1 is not well-formed XML", {FName}));
        return read == 1;
    }

    bool Start(std::string_view Local) const { return Type() == XML_READER_TYPE_ELEMENT && LocalName() == Local; }
    bool End(std::string_view Local) const
    {
        return (Type() == XML_READER_TYPE_END_ELEMENT || (Type() == XML_READER_TYPE_ELEMENT && Empty())) &&
               LocalName() == Local;
    }
    bool IsText() const
    {
        const int type = Type();
        return type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA || type == XML_READER_TYPE_WHITESPACE ||
               type == XML_READER_TYPE_SIGNIFICANT_WHITESPACE;
    }
    std::string Value() const { return Chars(xmlTextReaderConstValue(FReader.get())); }
    std::string Attribute(const char* Name, const char* Namespace = nullptr) const
    {
        xmlChar* value = Namespace ? xmlTextReaderGetAttributeNs(FReader.get(), reinterpret_cast<const xmlChar*>(Name),
                                                                 reinterpret_cast<const xmlChar*>(Namespace))
                                   : xmlTextReaderGetAttribute(FReader.get(), reinterpret_cast<const xmlChar*>(Name));
        std::string text = Chars(value);
        xmlFree(value);
        return text;
    }

private:
    static std::string Chars(const xmlChar* Text) { return Text ? reinterpret_cast<const char*>(Text) : ""; }
    int Type() const { return xmlTextReaderNodeType(FReader.get()); }
    bool Empty() const { return xmlTextReaderIsEmptyElement(FReader.get()) == 1; }
    std::string LocalName() const { return Chars(xmlTextReaderConstLocalName(FReader.get())); }

    std::string FName;
    std::unique_ptr<xmlTextReader, decltype(&xmlFreeTextReader)> FReader;
};

// The part of the first sheet, from the workbook and its relations.
std::string FirstSheetPart(zip_t* Zip)
{
    std::string id;
    if (const std::string workbook = ReadPart(Zip, "xl/workbook.xml"); !workbook.empty()) {
        TXmlReader reader(workbook, "xl/workbook.xml");
        while (id.empty() && reader.Next())
            if (reader.Start("sheet"))
                for (const char* relations : {"http://schemas.openxmlformats.org/officeDocument/2006/relationships",
                                              "http://purl.oclc.org/ooxml/officeDocument/relationships"})
                    if (id.empty())
                        id = reader.Attribute("id", relations);
    }
    if (const std::string relations = ReadPart(Zip, "xl/_rels/workbook.xml.rels"); !id.empty() && !relations.empty()) {
        TXmlReader reader(relations, "xl/_rels/workbook.xml.rels");
        while (reader.Next())
            if (reader.Start("Relationship") && reader.Attribute("Id") == id) {
                const std::string target = reader.Attribute("Target");
                return target.starts_with('/') ? target.substr(1) : "xl/" + target;
            }
    }
    return "xl/worksheets/sheet1.xml";
}

std::vector<std::string> SharedStrings(zip_t* Zip)
{
    std::vector<std::string> strings;
    const std::string part = ReadPart(Zip, "xl/sharedStrings.xml");
    if (part.empty())
        return strings;
    TXmlReader reader(part, "xl/sharedStrings.xml");
    bool inText = false, phonetic = false;
    while (reader.Next()) {
        if (reader.Start("si"))
            strings.emplace_back();
        if (reader.Start("rPh"))
            phonetic = true; // the reading aid of East Asian text, not the text
        if (reader.End("rPh"))
            phonetic = false;
        if (reader.Start("t"))
            inText = !phonetic;
        if (reader.End("t"))
            inText = false;
        if (inText && reader.IsText() && !strings.empty())
            strings.back() += reader.Value();
    }
    return strings;
}

// The column of a cell reference such as "AB12", from 0; -1 when there is none.
long ColumnOf(std::string_view Reference)
{
    long column = 0;
    size_t letters = 0;
    for (; letters < Reference.size() && Reference[letters] >= 'A' && Reference[letters] <= 'Z'; ++letters)
        column = column * 26 + (Reference[letters] - 'A' + 1);
    return letters == 0 || letters > 3 ? -1 : column - 1;
}

} // namespace

bool IsXlsx(const std::string& File)
{
    char magic[4] = {};
    std::FILE* file = std::fopen(File.c_str(), "rb");
    if (!file)
        return false;
    const bool zip = std::fread(magic, 1, 4, file) == 4 && std::string_view(magic, 4) == "PK\x03\x04";
    std::fclose(file);
    return zip;
}

std::string XlsxToCsv(std::string_view Workbook)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(Workbook.data(), Workbook.size(), 0, &error);
    TZip zip(source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr, zip_discard);
    zip_error_fini(&error);
    if (!zip) {
        if (source)
            zip_source_free(source);
        throw std::runtime_error(Tr("no readable workbook"));
    }
    const std::vector<std::string> strings = SharedStrings(zip.get());
    const std::string name = FirstSheetPart(zip.get());
    const std::string sheet = ReadPart(zip.get(), name);
    if (sheet.empty())
        throw std::runtime_error(Tr("the workbook has no sheet %1", {name}));
    TXmlReader reader(sheet, name);
    std::string csv;
    std::vector<std::string> cells;
    long rowNumber = 0;      // of the row read, from 1
    std::string type, value; // of the cell read
    long column = -1;        // of the cell read
    bool inValue = false, inText = false;
    while (reader.Next()) {
        if (reader.Start("row")) {
            // A sheet has no more rows than this; a number beyond it would only make empty lines.
            const long given = std::min(std::atol(reader.Attribute("r").c_str()), long(kMaxRows));
            // Rows the sheet leaves out are empty lines, so that line numbers stay row numbers.
            for (const long next = given > rowNumber ? given : rowNumber + 1; rowNumber + 1 < next; ++rowNumber)
                csv += "\r\n";
            rowNumber = std::max(given, rowNumber + 1);
            cells.clear();
        } else if (reader.Start("c")) {
            const long given = ColumnOf(reader.Attribute("r"));
            column = given >= 0 ? given : long(cells.size());
            type = reader.Attribute("t");
            value.clear();
        } else if (reader.Start("v")) {
            inValue = true;
        } else if (reader.Start("t")) {
            inText = type == "inlineStr";
        } else if (reader.IsText() && (inValue || inText)) {
            value += reader.Value();
        }
        if (reader.End("v"))
            inValue = false;
        if (reader.End("t"))
            inText = false;
        if (reader.End("c") && column >= 0 && column < kMaxColumns) {
            if (type == "s") {
                const long index = std::atol(value.c_str());
                value = index >= 0 && size_t(index) < strings.size() && !value.empty() ? strings[size_t(index)] : "";
            } else if (type == "b") {
                value = value == "1" ? "TRUE" : "FALSE";
            }
            if (cells.size() <= size_t(column))
                cells.resize(size_t(column) + 1);
            cells[size_t(column)] = std::move(value);
            value.clear();
        }
        if (reader.End("row"))
            csv += CsvLine(cells);
    }
    return csv;
}

} // namespace orvel::cli
