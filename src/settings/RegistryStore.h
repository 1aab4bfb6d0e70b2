// The program's registry key: named values of type REG_DWORD (32-bit number) or REG_SZ
// (text) under HKEY_CURRENT_USER\SOFTWARE\LarkspurWorks\Tethrocam\100, opened with
// create-if-missing semantics. On this platform the key is one text file in the registry
// editor's export syntax, which a person can read and edit:
//
//     Windows Registry Editor Version 5.00
//
//     [HKEY_CURRENT_USER\SOFTWARE\LarkspurWorks\Tethrocam\100]
//     "Year"=dword:00000001
//     "Directory"="/home/x/Pictures/Tethrocam"
//
// Texts escape backslash and quote as \\ and \". A line that cannot be read (bad syntax,
// bad hex, a type this program does not use such as hex:) reads as a missing value; lines
// of other keys and unreadable lines are kept as they are. Value names compare without
// regard to ASCII letter case, as the registry's do.
//
// RegistryFile is the parsed text (pure, no I/O). RegistryStore is the open key: Open()
// reads the file (creating it, with the key, when missing), Set* change values in memory,
// Close() writes them back atomically, keeping every value it did not change, also values
// written meanwhile through another store on the same file (the main frame keeps its
// placement under the same key with code of its own).
//
// Threads: the UI thread only; one object is not safe for concurrent use. Open() and
// Close() block on file I/O (Close() syncs the file and its folder); queries and Set* do
// not touch the disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class RegistryValueType : uint32_t {
    Sz = 1,    // REG_SZ
    Dword = 4, // REG_DWORD
};

// Result of a value query, as the registry reports it.
enum class RegistryQuery {
    Ok,
    NotOpen,   // the key is not open
    NotFound,  // no such value, or its line cannot be read
    WrongType, // the value exists with the other type
    MoreData,  // a text that does not fit the caller's buffer (terminator included)
};

struct RegistryValue {
    RegistryValueType type = RegistryValueType::Dword;
    uint32_t dword = 0;
    std::string text;
};

// The text of one key file, parsed for one key.
class RegistryFile {
public:
    explicit RegistryFile(std::string keyName);

    // Reads a file's text. Never fails: what cannot be read is kept verbatim.
    void Parse(std::string_view text);
    // The text to write back: unchanged lines as they were, changed values in place,
    // new values at the end of the key; the key's header is added when missing.
    std::string Serialize() const;

    bool HasKey() const;
    // Adds the key's header (and the file's first line when the text is empty).
    void AddKey();

    std::optional<RegistryValue> Find(std::string_view name) const;
    // False for a text that the file cannot hold on one line (line breaks, NUL).
    bool Set(std::string_view name, const RegistryValue& value);

    // Value lines in file order (for tests and diagnostics): name and whether readable.
    std::vector<std::pair<std::string, bool>> ValueNames() const;

    // One value line in the file's syntax.
    static std::string FormatValueLine(std::string_view name, const RegistryValue& value);

private:
    struct Line {
        std::string raw;
        bool inKey = false;   // inside a section of this key
        bool named = false;   // a quoted value name could be read
        bool readable = false;
        std::string name;
        RegistryValue value;
    };
    static void ParseValueLine(Line& line);
    int FindLine(std::string_view name) const;

    std::string keyName_;
    std::vector<Line> lines_;
};

class RegistryStore {
public:
    static constexpr const char* kHive = "HKEY_CURRENT_USER";
    static constexpr const char* kKeyPath = "SOFTWARE\\LarkspurWorks\\Tethrocam\\100";
    // Buffer the program reads texts into, terminator included.
    static constexpr size_t kTextBufferBytes = 1024;

    // `filePath` empty: DefaultFilePath().
    explicit RegistryStore(std::string filePath = {});
    ~RegistryStore();
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    // $XDG_CONFIG_HOME/tethrocam/settings.reg, else ~/.config/tethrocam/settings.reg;
    // empty when neither can be found.
    static std::string DefaultFilePath();
    // "HKEY_CURRENT_USER\SOFTWARE\LarkspurWorks\Tethrocam\100"
    static std::string FullKeyName();

    const std::string& FilePath() const { return path_; }

    // Opens the key, creating folder, file and key when missing. False when the file
    // cannot be read or created; the store then stays closed. Only a regular file of at
    // most 1 MiB is read (anything else is refused without waiting on it, and never
    // written over); LastError says why it was refused.
    bool Open();
    const std::string& LastError() const { return lastError_; }
    bool IsOpen() const { return open_; }
    // Writes the values set since Open() and closes the key. False when the values could
    // not be written (the file keeps its previous contents) or the key was not open.
    bool Close();

    RegistryQuery QueryDword(std::string_view name, uint32_t* value) const;
    RegistryQuery QueryString(std::string_view name, std::string* value,
                              size_t bufferBytes = kTextBufferBytes) const;
    std::optional<RegistryValueType> QueryType(std::string_view name) const;

    // False when the key is not open or the text cannot be stored (line breaks, NUL).
    bool SetDword(std::string_view name, uint32_t value);
    bool SetString(std::string_view name, std::string_view text);

private:
    bool WriteFileAtomically(const std::string& text);

    std::string path_;
    std::string lastError_;
    bool open_ = false;
    RegistryFile file_;
    std::vector<std::pair<std::string, RegistryValue>> pending_;
};
