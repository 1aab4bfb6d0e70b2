// The settings file is edited by people: whatever it holds, reading it must not crash,
// writing it back must be stable (a second save changes nothing), and every value that
// reads back must read the same after being written in the file's own syntax.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/RegistryStore.h"

namespace {
void Check(bool condition)
{
    if (!condition)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string key = RegistryStore::FullKeyName();

    RegistryFile file(key);
    file.Parse(text);
    const std::string once = file.Serialize();

    RegistryFile again(key);
    again.Parse(once);
    Check(again.Serialize() == once);

    for (const auto& [name, readable] : file.ValueNames()) {
        const auto value = file.Find(name);
        if (!value)
            continue;
        RegistryFile copy(key);
        Check(copy.Set(name, *value));
        RegistryFile reread(key);
        reread.Parse(copy.Serialize());
        const auto back = reread.Find(name);
        Check(back && back->type == value->type && back->dword == value->dword && back->text == value->text);
    }

    // A text made of the input's bytes is stored and read back unchanged, unless it
    // holds a line break or NUL, which the file cannot keep.
    const std::string probe(text.substr(0, 256));
    const bool storable = probe.find_first_of(std::string_view("\n\r\0", 3)) == std::string::npos;
    Check(file.Set("FuzzValue", {RegistryValueType::Sz, 0, probe}) == storable);
    if (storable) {
        RegistryFile reread(key);
        reread.Parse(file.Serialize());
        const auto back = reread.Find("FuzzValue");
        Check(back && back->type == RegistryValueType::Sz && back->text == probe);
    }
    return 0;
}
