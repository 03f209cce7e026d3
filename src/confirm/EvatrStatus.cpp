#include "confirm/EvatrStatus.h"

#include <sstream>
#include <vector>

namespace orvel::confirm {

extern const char kEvatrStatusTable[];

namespace {

std::vector<EvatrStatus> ReadTable()
{
    std::vector<EvatrStatus> statuses;
    std::istringstream in(kEvatrStatusTable);
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
        if (line.empty() || line.starts_with('#'))
            continue;
        if (header) {
            header = false; // the column names
            continue;
        }
        std::vector<std::string> cells;
        std::istringstream fields(line);
        for (std::string cell; std::getline(fields, cell, '\t');)
            cells.push_back(cell);
        cells.resize(5);
        statuses.push_back({cells[0], cells[1], cells[2].empty() ? 0 : std::stoi(cells[2]), cells[3], cells[4]});
    }
    return statuses;
}

} // namespace

std::span<const EvatrStatus> EvatrStatuses()
{
    static const std::vector<EvatrStatus> statuses = ReadTable();
    return statuses;
}

const EvatrStatus* FindEvatrStatus(std::string_view code)
{
    for (const EvatrStatus& status : EvatrStatuses())
        if (status.Code == code)
            return &status;
    return nullptr;
}

bool IsTransient(const EvatrStatus& status)
{
    // evatr-2007 reports a fault in the member state's data for this id, which another try does not mend.
    return status.Category == "Fehler" && status.Http >= 500 && status.Code != "evatr-2007";
}

} // namespace orvel::confirm
