#pragma once
// The checks of a batch, in the command's CSV files and workbooks and in the service's POST /api/v1/batch: which
// check a row gets by the columns it fills (the parameter a column names: ObjectParamOfColumn of the table).

#include <span>
#include <string_view>
#include <vector>

namespace orvel::rules {

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
