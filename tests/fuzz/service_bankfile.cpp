// Any bytes as the Bundesbank directory file, then the look-ups over what was loaded.

#include "rules/BankDirectory.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace orvel;
    static const std::string path =
        (std::filesystem::temp_directory_path() / ("orvel-fuzz-blz-" + std::to_string(getpid()) + ".txt")).string();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    try {
        const rules::BankDirectory banks = rules::BankDirectory::Load(path);
        banks.Find("10000000");
        banks.FindBic("BNULDEBB");
        banks.Search("bank", true, 10);
        banks.Search("BERLIN", false, 10);
    } catch (const std::runtime_error&) {
    }
    std::filesystem::remove(path);
    return 0;
}
