#pragma once
// HKEY_CURRENT_USER as a file in the registry-export text format ("Windows Registry Editor Version 5.00"): typed
// values, writes that replace the file atomically, and everything the program does not know kept as it stands.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvel {

class RegistryError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// A value as the file holds it. Kinds other than REG_SZ and REG_DWORD keep their source text after "=", their
// continuation lines included, so they are written back unchanged.
struct TRegValue
{
    enum class TKind { String, DWord, Other };
    TKind Kind = TKind::Other;
    std::string Text{}; // String: UTF-8; Other: the source text
    uint32_t DWord = 0;

    static TRegValue String(std::string Text) { return {TKind::String, std::move(Text), 0}; }
    static TRegValue Dword(uint32_t Value) { return {TKind::DWord, {}, Value}; }
    bool operator==(const TRegValue&) const = default;
};

struct TRegKey
{
    std::string Path{};                                      // "HKEY_CURRENT_USER\Software\..."
    std::vector<std::pair<std::string, TRegValue>> Values{}; // in file order; the name "" is the default value

    // Value names ignore ASCII letter case, as the registry's do.
    const TRegValue* Find(std::string_view Name) const;
    void Set(std::string_view Name, TRegValue Value);
};

struct TRegFile
{
    std::vector<TRegKey> Keys{};

    // Key paths ignore ASCII letter case.
    const TRegKey* Find(std::string_view Path) const;
    TRegKey& FindOrAdd(std::string_view Path);
};

// Reads UTF-8 (with or without a byte order mark) or UTF-16LE with its mark, LF or CR LF line ends, blank lines
// and ";" comments. A key given twice is one key; a value given twice keeps the later one. Throws RegistryError
// naming the line when the text is not in this format.
TRegFile ParseRegFile(std::string_view Bytes);
// UTF-8 without a mark, CR LF line ends, a blank line after every key.
std::string FormatRegFile(const TRegFile& File);

// The file at Path is afterwards either the earlier one or Bytes complete: a temporary file beside it, flushed to
// the disk, then renamed over it. Throws RegistryError; a failure removes the temporary file.
void WriteFileAtomically(const std::string& Path, std::string_view Bytes);

// $XDG_CONFIG_HOME/OrvelWddx/user.reg, with ~/.config when the variable is unset or not an absolute path.
std::string UserRegistryFile();

// One open key of HKEY_CURRENT_USER, the way the window keeps its settings.
class TRegistry
{
public:
    explicit TRegistry(std::string FilePath = UserRegistryFile());

    // Key as "\Software\...". With CanCreate a missing key is created in the file at once. False when the key does
    // not exist or cannot be created, or the file cannot be read. A file that is not in the format is moved aside
    // as "<file>.broken-<UTC time>", reported on standard error and read as holding no keys.
    bool OpenKey(std::string_view Key, bool CanCreate);
    void CloseKey();
    bool KeyOpen() const { return !FKeyPath.empty(); }

    // A missing value reads as empty text; a value of another kind throws RegistryError.
    std::string ReadString(std::string_view Name) const;
    // A missing value or one of another kind throws RegistryError.
    int32_t ReadInteger(std::string_view Name) const;
    // Any value other than 0 is true.
    bool ReadBool(std::string_view Name) const { return ReadInteger(Name) != 0; }

    // Each write stores the value in the file at once and keeps every other key and value of the file as it is
    // then. Throws RegistryError when the key is not open or the file cannot be written.
    void WriteString(std::string_view Name, const std::string& Value);
    void WriteInteger(std::string_view Name, int32_t Value);
    void WriteBool(std::string_view Name, bool Value) { WriteInteger(Name, Value ? 1 : 0); }

private:
    // The file as it is now; throws RegistryError when it exists and cannot be read.
    TRegFile Load() const;
    void Write(std::string_view Name, TRegValue Value);
    const TRegValue* Find(std::string_view Name) const;

    std::string FFilePath;
    std::string FKeyPath;
    TRegKey FKey; // what was read when the key was opened, with this program's writes since
};

} // namespace orvel
