#pragma once
// WDDX packets as the clients read them: a struct of named variables, each a string or an array of strings, with
// "&", "<" and ">" escaped; text stays Windows-1252.

#include "rules/CheckTable.h"

#include <string>
#include <string_view>
#include <vector>

namespace orvel::service {

class WddxPacket
{
public:
    WddxPacket();
    WddxPacket& String(std::string_view name, std::string_view value);
    WddxPacket& Number(std::string_view name, long value); // written as a string, as the clients read numbers
    WddxPacket& Array(std::string_view name, const std::vector<std::string>& items);
    // The fields of the answer that WDDX carries, under their WDDX names.
    WddxPacket& Answer(const rules::CheckRow& row, const rules::CheckAnswer& answer);
    // The packet's text; the builder is spent afterwards.
    std::string Finish();
    // A packet of "result" and "resulttext" alone: a refusal, or a request that cannot be answered.
    static std::string Result(long code, std::string_view text);

    static constexpr const char* kContentType = "text/xml; charset=windows-1252";

private:
    void Escaped(std::string_view text);
    std::string Text;
};

} // namespace orvel::service
