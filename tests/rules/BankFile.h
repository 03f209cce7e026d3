#pragma once
// Bundesbank directory files written by tests: fixed-width records of 168 characters, CR LF, Latin-1.

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace orvel::test {

struct BankRecord
{
    std::string Blz{};
    std::string Name{};
    std::string Place{};
    std::string Method{};
    std::string Bic{};
    char Flag = '1';
    char Change = 'U';
    char Deletion = '0';
    std::string Successor = "00000000";
    std::string Plz = "10100";
};

inline std::string Padded(const std::string& text, size_t width)
{
    return text.substr(0, width) + std::string(width - std::min(width, text.size()), ' ');
}

inline std::string Record(const BankRecord& bank)
{
    return Padded(bank.Blz, 8) + bank.Flag + Padded(bank.Name, 58) + Padded(bank.Plz, 5) + Padded(bank.Place, 35) +
           Padded(bank.Name, 27) + "12345" + Padded(bank.Bic, 11) + Padded(bank.Method, 2) + "000001" + bank.Change +
           bank.Deletion + Padded(bank.Successor, 8);
}

// Writes the records to path (in a folder of the test's own) and returns path.
inline std::string WriteBankFile(const std::string& path, const std::vector<BankRecord>& banks)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const BankRecord& bank : banks)
        out << Record(bank) << "\r\n";
    return path;
}

} // namespace orvel::test
