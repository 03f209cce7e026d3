#include "service/Wddx.h"

#include "platform/Text.h"

#include <string>

namespace orvel::service {

WddxPacket::WddxPacket()
{
    Text.reserve(512);
    Text = "<wddxPacket version='1.0'><header/><data><struct>";
}

void WddxPacket::Escaped(std::string_view text)
{
    for (const char c : text)
        switch (c) {
        case '&':
            Text += "&amp;";
            break;
        case '<':
            Text += "&lt;";
            break;
        case '>':
            Text += "&gt;";
            break;
        // Control characters cannot stand in XML at all.
        default:
            Text += (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') ? '?' : c;
        }
}

WddxPacket& WddxPacket::String(std::string_view name, std::string_view value)
{
    Text.append("<var name='").append(name).append("'><string>");
    Escaped(value);
    Text.append("</string></var>");
    return *this;
}

WddxPacket& WddxPacket::Number(std::string_view name, long value)
{
    return String(name, std::to_string(value));
}

WddxPacket& WddxPacket::Array(std::string_view name, const std::vector<std::string>& items)
{
    Text.append("<var name='").append(name).append("'><array length='").append(std::to_string(items.size()));
    Text.append("'>");
    for (const std::string& item : items) {
        Text.append("<string>");
        Escaped(item);
        Text.append("</string>");
    }
    Text.append("</array></var>");
    return *this;
}

WddxPacket& WddxPacket::Answer(const rules::CheckRow& row, const rules::CheckAnswer& answer)
{
    for (size_t i = 0; i < row.Fields.size(); ++i) {
        const rules::CheckField& field = row.Fields[i];
        const rules::CheckValue& value = answer.Values[i];
        if (field.Wddx.empty())
            continue;
        if (field.Kind != rules::FieldKind::Text && field.Kind != rules::FieldKind::List) {
            Number(field.Wddx, value.Number);
        } else if (field.Kind == rules::FieldKind::Text) {
            String(field.Wddx, row.Windows1252 ? value.Text : Ansi(value.Text));
        } else if (row.Windows1252) {
            Array(field.Wddx, value.List);
        } else {
            std::vector<std::string> items;
            items.reserve(value.List.size());
            for (const std::string& item : value.List)
                items.push_back(Ansi(item));
            Array(field.Wddx, items);
        }
    }
    return *this;
}

std::string WddxPacket::Finish()
{
    Text.append("</struct></data></wddxPacket>");
    return std::move(Text);
}

std::string WddxPacket::Result(long code, std::string_view text)
{
    return WddxPacket().Number("result", code).String("resulttext", text).Finish();
}

} // namespace orvel::service
