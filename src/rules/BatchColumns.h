#pragma once
// The columns of a batch, in the command's CSV files and workbooks and in the service's POST /api/v1/batch: which
// check parameter a column names, and which check a row gets by the columns it fills.

#include <span>
#include <string_view>
#include <vector>

namespace orvel::rules {

// The parameter of the automation method ("aIban") that a column header names, in any letter case: iban, blz, kto,
// bic, card, vat, plz, ort, str, hnr, pof. Empty for a column that passes through.
std::string_view BatchParameter(std::string_view header);

struct BatchChoice
{
    std::vector<std::string_view> Needs; // parameters that must not be empty
    std::string_view CoClass;
    std::string_view Method;
    std::string_view Group; // the prefix of its result columns when a file asks for checks of several groups
};

// Within a group the first whose parameters the row fills decides; a row gets the check of every group it fills.
std::span<const BatchChoice> BatchChoices();

} // namespace orvel::rules
