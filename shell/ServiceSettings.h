#pragma once
// The settings that `set config` changes and `create service_object` creates a service with, as
// `<word>=<value>` words: their parsing, and the words in which values are shown.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

enum class Setting { StartType, ErrorControl, BinaryPath, Group, Dependencies, Account, Password, DisplayName, Description, Type };

// The settings of one command line; a setting not given is empty.
struct ServiceSettings {
    // In the order given, each once.
    std::vector<Setting> given;
    std::optional<DWORD> startType;
    // With an automatic start type: started after the other automatic services.
    bool delayed = false;
    std::optional<DWORD> errorControl;
    std::optional<DWORD> serviceType;
    std::optional<std::wstring> binaryPath;
    std::optional<std::wstring> group;
    // Names each followed by a NUL, the whole closed by one more.
    std::optional<std::wstring> dependencies;
    std::optional<std::wstring> account;
    // "*": to be asked on the console.
    std::optional<std::wstring> password;
    std::optional<std::wstring> displayName;
    std::optional<std::wstring> description;

    bool Has(Setting setting) const;
    // Whether any of the settings that the configuration call changes was given.
    bool ChangesConfiguration() const;
};

// Parses every word as a setting; false, with `settings` unusable, for a word that is not
// `<setting>=<value>`, a value that does not parse, a setting given twice, or no word at all.
// Creating accepts the kinds of driver among the types, and the service kinds only otherwise.
bool ParseServiceSettings(unsigned long count, wchar_t* const* words, bool creating, ServiceSettings& settings);

// Each setting's word with its "=", ready for its value.
void SettingWordsWithSign(std::vector<std::wstring>& words);

// The value's French words, after its number.
std::wstring StartTypeShown(DWORD startType, bool delayed);
std::wstring ErrorControlShown(DWORD errorControl);
std::wstring ServiceTypeShown(DWORD serviceType);
// `line` with the value of every password= word hidden, for what the console shows of a script's
// lines; a "*" (asked for on the console) stays as it is.
std::wstring WithPasswordsHidden(const wchar_t* line);

// The label of a setting in the report of a change.
const wchar_t* SettingLabel(Setting setting);
