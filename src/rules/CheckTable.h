#pragma once
// The one table of checks: per check its parameters and answer fields with their names on each wire (WDDX, SOAP,
// the automation objects and the command, JSON) and the rule that answers it. The service's fronts, the command's
// --offline and its batches read it, so a new check is a rule and a row.

#include "rules/AddressRules.h"
#include "rules/TarvikChecks.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvel::rules {

// What the rules read; built once and then only read, so threads share it.
struct CheckData
{
    const TarvikChecks* Banks = nullptr;
    const PostalData* Postal = nullptr;
    // The fields only JSON carries (a bank's place, the SCL directory's date) cost lookups: left empty unless asked.
    bool Details = false;
};

struct CheckParam
{
    std::string_view Name{};   // JSON; snake_case
    std::string_view Wddx{};   // the WDDX query key
    std::string_view Soap{};   // the SOAP call's part; empty when SOAP does not send it
    std::string_view Object{}; // the automation method's parameter ("aIban"), empty when it has none
    bool Required = true;
    bool Number = false;       // a whole number ("fragments", "rewrite"), 0 when not given
    std::string_view Column{}; // the column of the command's batch files; empty when a batch cannot give it
};

// Flag: 0 or 1 on the wires of the objects, a boolean in JSON.
enum class FieldKind { Number, Flag, Text, List };

struct CheckField
{
    std::string_view Json{}; // "bank.name": a dot nests the field in an object; empty when JSON leaves it out
    std::string_view Wddx{}; // empty where the wire leaves it out
    std::string_view Soap{};
    std::string_view Property{}; // the object's result property
    FieldKind Kind = FieldKind::Text;
    std::string_view JsonItems{}; // a list's items "a|b" as JSON objects with these keys ("zip|city")
};

// Texts in the row's encoding.
struct CheckValue
{
    int32_t Number = 0;
    std::string Text;
    std::vector<std::string> List;
};

// The values in the order of the row's fields; the first two are always the result code and its text.
struct CheckAnswer
{
    std::vector<CheckValue> Values;

    int32_t Result() const { return Values[0].Number; }
    const std::string& ResultText() const { return Values[1].Text; }
};

// The inputs by the row's parameters, in their order and the row's encoding; nullopt where one is not given.
using CheckInputs = std::span<const std::optional<std::string>>;

// Which data an answer depends on, for saying how old it is.
enum class CheckSource { Banks, Postal, None };

struct CheckRow
{
    std::string_view Name{};       // "iban"
    std::string_view Family{};     // the automation object's class: "Tarvik", "Address", "UStID"
    std::string_view SoapMethod{}; // empty when the web services have none
    std::string_view WddxFunc{};   // the address family's "func"; empty for the others
    // The JSON API's path ("{name}" a parameter in the path, the others in the query; rows that share a path are
    // chosen as WDDX chooses them); JsonPost: the parameters come as a JSON object in the body instead.
    std::string_view JsonPath{};
    bool JsonPost = false;
    std::vector<std::string_view> Methods{}; // the automation methods answered by this row
    std::vector<CheckParam> Params{};
    std::vector<CheckField> Fields{};
    CheckAnswer (*Run)(const CheckData& data, CheckInputs inputs) = nullptr;
    bool (*Passed)(const CheckAnswer& answer) = nullptr; // the JSON API's "valid"
    CheckSource Source = CheckSource::None;
    // Inputs and texts are Windows-1252, as the account rules read and write them; else UTF-8.
    bool Windows1252 = false;

    // The index of the parameter or field by its JSON name, -1 when the row has none.
    int Param(std::string_view name) const;
    int Field(std::string_view json) const;
};

// Every check. Within a family, the order is the order in which a WDDX query's keys choose the check.
std::span<const CheckRow> CheckTable();
const CheckRow* FindCheck(std::string_view name);
// The row answering an automation method of the object class, nullptr when none does.
const CheckRow* FindCheckByMethod(std::string_view family, std::string_view method);

// The automation parameter a batch file's column (lower case) gives, empty for other columns.
std::string_view ObjectParamOfColumn(std::string_view column);

// The first row of the family whose required WDDX keys are all given (has(key) says), else nullptr; missing then
// names the first required key absent from the first row whose first key is given, if there is one.
const CheckRow* ChooseWddx(std::string_view family, const std::function<bool(std::string_view)>& has,
                           std::string_view* missing);

} // namespace orvel::rules
