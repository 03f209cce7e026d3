#include "platform/Registry.h"

#include "platform/Codepage.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include <fcntl.h>
#include <unistd.h>

namespace orvel {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";
constexpr std::string_view kRoot = "HKEY_CURRENT_USER";

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameAscii(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

std::string_view TrimRight(std::string_view text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::string Utf8Text(std::string_view bytes)
{
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        if (bytes.size() % 2 != 0)
            throw RegistryError("UTF-16 text with an odd number of bytes");
        std::u16string wide;
        for (size_t i = 2; i < bytes.size(); i += 2)
            wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                 static_cast<unsigned char>(bytes[i + 1]) << 8));
        return ToUtf8(wide);
    }
    if (bytes.starts_with("\xEF\xBB\xBF"))
        bytes.remove_prefix(3);
    return std::string(bytes);
}

std::vector<std::string_view> Lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

// A quoted text at the start of Text, with "\\" and "\"" unescaped; a backslash before anything else stays.
// Returns the characters after the closing quote.
std::string_view ReadQuoted(std::string_view text, std::string& out)
{
    if (!text.starts_with('"'))
        throw RegistryError("a quoted text was expected");
    for (size_t i = 1; i < text.size(); ++i) {
        if (text[i] == '"')
            return text.substr(i + 1);
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"'))
            ++i;
        out.push_back(text[i]);
    }
    throw RegistryError("a quoted text has no closing quote");
}

std::string Quoted(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out.push_back('\\');
        out.push_back(c);
    }
    return out + '"';
}

uint32_t ParseDword(std::string_view digits)
{
    digits = TrimRight(digits);
    if (digits.empty() || digits.size() > 8)
        throw RegistryError("a dword needs 1 to 8 hexadecimal digits");
    uint32_t value = 0;
    for (char c : digits) {
        const char l = LowerAscii(c);
        uint32_t digit = 0;
        if (l >= '0' && l <= '9')
            digit = static_cast<uint32_t>(l - '0');
        else if (l >= 'a' && l <= 'f')
            digit = static_cast<uint32_t>(l - 'a' + 10);
        else
            throw RegistryError("a dword needs 1 to 8 hexadecimal digits");
        value = value << 4 | digit;
    }
    return value;
}

std::string FileTimeStamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
    return text;
}

std::string SystemMessage(const std::string& what, int error)
{
    return what + ": " + std::strerror(error);
}

void CreateFolderOf(const std::string& path)
{
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    if (error)
        throw RegistryError("Cannot create the folder of " + path + ": " + error.message());
}

} // namespace

const TRegValue* TRegKey::Find(std::string_view Name) const
{
    for (const auto& [name, value] : Values)
        if (SameAscii(name, Name))
            return &value;
    return nullptr;
}

void TRegKey::Set(std::string_view Name, TRegValue Value)
{
    for (auto& [name, value] : Values)
        if (SameAscii(name, Name)) {
            value = std::move(Value);
            return;
        }
    Values.emplace_back(std::string(Name), std::move(Value));
}

const TRegKey* TRegFile::Find(std::string_view Path) const
{
    for (const TRegKey& key : Keys)
        if (SameAscii(key.Path, Path))
            return &key;
    return nullptr;
}

TRegKey& TRegFile::FindOrAdd(std::string_view Path)
{
    for (TRegKey& key : Keys)
        if (SameAscii(key.Path, Path))
            return key;
    Keys.push_back({std::string(Path), {}});
    return Keys.back();
}

TRegFile ParseRegFile(std::string_view Bytes)
{
    const std::string text = Utf8Text(Bytes);
    const std::vector<std::string_view> lines = Lines(text);
    TRegFile file;
    TRegKey* key = nullptr;
    bool headerSeen = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = TrimRight(lines[i]);
        try {
            if (line.empty() || line.starts_with(';'))
                continue;
            if (!headerSeen) {
                if (line != kHeader && line != kOldHeader)
                    throw RegistryError("the first line is not \"" + std::string(kHeader) + "\"");
                headerSeen = true;
                continue;
            }
            if (line.starts_with('[')) {
                if (!line.ends_with(']') || line.size() < 3)
                    throw RegistryError("a key line ends without \"]\"");
                key = &file.FindOrAdd(line.substr(1, line.size() - 2));
                continue;
            }
            if (!key)
                throw RegistryError("a value comes before the first key");
            std::string name;
            std::string_view rest = line;
            if (rest.starts_with('@'))
                rest.remove_prefix(1);
            else
                rest = ReadQuoted(rest, name);
            if (!rest.starts_with('='))
                throw RegistryError("\"=\" is missing after a value's name");
            rest.remove_prefix(1);
            TRegValue value;
            if (rest.starts_with('"')) {
                std::string data;
                if (!TrimRight(ReadQuoted(rest, data)).empty())
                    throw RegistryError("text follows a quoted value");
                value = TRegValue::String(std::move(data));
            } else if (rest.size() >= 6 && SameAscii(rest.substr(0, 6), "dword:")) {
                value = TRegValue::Dword(ParseDword(rest.substr(6)));
            } else {
                // Binary and the other kinds run on over lines that end with a backslash.
                std::string source(rest);
                while (TrimRight(source).ends_with('\\') && i + 1 < lines.size())
                    source += "\r\n" + std::string(lines[++i]);
                // A continuation at the end of the file ends the value: written back, it would swallow the line
                // that then follows it. Blanks at its end would not survive a reading either.
                while (TrimRight(source).ends_with('\\'))
                    source.resize(TrimRight(source).size() - 1);
                source.resize(TrimRight(source).size());
                value = {TRegValue::TKind::Other, std::move(source), 0};
            }
            key->Set(name, std::move(value));
        } catch (const RegistryError& error) {
            throw RegistryError("line " + std::to_string(i + 1) + ": " + error.what());
        }
    }
    if (!headerSeen)
        throw RegistryError("the file is empty");
    return file;
}

std::string FormatRegFile(const TRegFile& File)
{
    std::string out = std::string(kHeader) + "\r\n\r\n";
    for (const TRegKey& key : File.Keys) {
        out += "[" + key.Path + "]\r\n";
        for (const auto& [name, value] : key.Values) {
            out += name.empty() ? "@" : Quoted(name);
            out += '=';
            switch (value.Kind) {
            case TRegValue::TKind::String:
                out += Quoted(value.Text);
                break;
            case TRegValue::TKind::DWord: {
                char digits[16];
                std::snprintf(digits, sizeof digits, "dword:%08x", value.DWord);
                out += digits;
                break;
            }
            case TRegValue::TKind::Other:
                out += value.Text;
                break;
            }
            out += "\r\n";
        }
        out += "\r\n";
    }
    return out;
}

void WriteFileAtomically(const std::string& Path, std::string_view Bytes)
{
    std::string temporary = Path + ".tmp-XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        throw RegistryError(SystemMessage("Cannot create a file beside " + Path, errno));
    int error = 0;
    for (size_t written = 0; written < Bytes.size() && !error;) {
        const ssize_t n = ::write(fd, Bytes.data() + written, Bytes.size() - written);
        if (n < 0 && errno != EINTR)
            error = errno;
        else if (n > 0)
            written += static_cast<size_t>(n);
    }
    if (!error && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error && ::rename(temporary.c_str(), Path.c_str()) != 0)
        error = errno;
    if (error) {
        ::unlink(temporary.c_str());
        throw RegistryError(SystemMessage("Cannot write " + Path, error));
    }
    // The rename itself is durable only once the folder is.
    const std::string folder = std::filesystem::path(Path).parent_path().string();
    const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

std::string UserRegistryFile()
{
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (configHome && configHome[0] == '/') {
        base = configHome;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home ? home : "") + "/.config";
    }
    return base + "/OrvelWddx/user.reg";
}

TRegistry::TRegistry(std::string FilePath) : FFilePath(std::move(FilePath)) {}

TRegFile TRegistry::Load() const
{
    std::ifstream in(FFilePath, std::ios::binary);
    if (!in) {
        if (errno == ENOENT)
            return {};
        throw RegistryError(SystemMessage("Cannot read " + FFilePath, errno));
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad())
        throw RegistryError("Cannot read " + FFilePath);
    try {
        return ParseRegFile(bytes.str());
    } catch (const RegistryError& error) {
        // Nothing of the user's is deleted: the file waits beside the new one for a look.
        const std::string aside = FFilePath + ".broken-" + FileTimeStamp();
        if (::rename(FFilePath.c_str(), aside.c_str()) != 0)
            throw RegistryError(SystemMessage(
                FFilePath + " is not a registry file (" + error.what() + ") and cannot be moved aside", errno));
        std::cerr << "OrvelWddx: " << FFilePath << " is not a registry file (" << error.what() << "); moved to "
                  << aside << std::endl;
        return {};
    }
}

bool TRegistry::OpenKey(std::string_view Key, bool CanCreate)
{
    CloseKey();
    const std::string path = std::string(kRoot) + std::string(Key);
    try {
        TRegFile file = Load();
        if (const TRegKey* key = file.Find(path)) {
            FKey = *key;
        } else {
            if (!CanCreate)
                return false;
            file.FindOrAdd(path);
            CreateFolderOf(FFilePath);
            WriteFileAtomically(FFilePath, FormatRegFile(file));
            FKey = {path, {}};
        }
    } catch (const std::exception&) {
        return false;
    }
    FKeyPath = path;
    return true;
}

void TRegistry::CloseKey()
{
    FKeyPath.clear();
    FKey = {};
}

const TRegValue* TRegistry::Find(std::string_view Name) const
{
    if (!KeyOpen())
        throw RegistryError("No key is open");
    return FKey.Find(Name);
}

std::string TRegistry::ReadString(std::string_view Name) const
{
    const TRegValue* value = Find(Name);
    if (!value)
        return {};
    if (value->Kind != TRegValue::TKind::String)
        throw RegistryError("Invalid data type for '" + std::string(Name) + "'");
    return value->Text;
}

int32_t TRegistry::ReadInteger(std::string_view Name) const
{
    const TRegValue* value = Find(Name);
    if (!value || value->Kind != TRegValue::TKind::DWord)
        throw RegistryError("Invalid data type for '" + std::string(Name) + "'");
    return static_cast<int32_t>(value->DWord);
}

void TRegistry::WriteString(std::string_view Name, const std::string& Value)
{
    Write(Name, TRegValue::String(Value));
}

void TRegistry::WriteInteger(std::string_view Name, int32_t Value)
{
    Write(Name, TRegValue::Dword(static_cast<uint32_t>(Value)));
}

void TRegistry::Write(std::string_view Name, TRegValue Value)
{
    if (!KeyOpen())
        throw RegistryError("No key is open");
    // Another program may have changed the file since the key was opened; its changes stay.
    TRegFile file = Load();
    file.FindOrAdd(FKeyPath).Set(Name, Value);
    CreateFolderOf(FFilePath);
    WriteFileAtomically(FFilePath, FormatRegFile(file));
    FKey.Set(Name, std::move(Value));
}

} // namespace orvel
