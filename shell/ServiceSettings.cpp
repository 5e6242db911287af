#include "ServiceSettings.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>

#include "CommandLine.h"
#include "Memory.h"
#include "StringFunctions.h"

namespace {

struct SettingWord {
    const wchar_t* word;
    Setting setting;
};

const SettingWord SettingWords[] = {
    {L"start_type", Setting::StartType},     {L"error_control", Setting::ErrorControl},
    {L"binary_path", Setting::BinaryPath},   {L"group", Setting::Group},
    {L"dependencies", Setting::Dependencies}, {L"account", Setting::Account},
    {L"password", Setting::Password},        {L"display_name", Setting::DisplayName},
    {L"description", Setting::Description},  {L"type", Setting::Type},
};

// A value word and the number it stands for; `delayed` only for the start types.
struct ValueWord {
    const wchar_t* word;
    DWORD number;
    bool delayed;
};

// The French words first (as the services console of a French system writes them, here without
// accents and with a space for "_"), then the platform's own short words.
const ValueWord StartTypeWords[] = {
    {L"automatique", SERVICE_AUTO_START, false}, {L"automatique differe", SERVICE_AUTO_START, true},
    {L"manuel", SERVICE_DEMAND_START, false},    {L"desactive", SERVICE_DISABLED, false},
    {L"demarrage", SERVICE_BOOT_START, false},   {L"systeme", SERVICE_SYSTEM_START, false},
    {L"auto", SERVICE_AUTO_START, false},        {L"delayed auto", SERVICE_AUTO_START, true},
    {L"demand", SERVICE_DEMAND_START, false},    {L"disabled", SERVICE_DISABLED, false},
    {L"boot", SERVICE_BOOT_START, false},        {L"system", SERVICE_SYSTEM_START, false},
};

const ValueWord ErrorControlWords[] = {
    {L"ignorer", SERVICE_ERROR_IGNORE, false},  {L"normal", SERVICE_ERROR_NORMAL, false},
    {L"grave", SERVICE_ERROR_SEVERE, false},    {L"critique", SERVICE_ERROR_CRITICAL, false},
    {L"ignore", SERVICE_ERROR_IGNORE, false},   {L"severe", SERVICE_ERROR_SEVERE, false},
    {L"critical", SERVICE_ERROR_CRITICAL, false},
};

const DWORD Interactive = SERVICE_INTERACTIVE_PROCESS;

const ValueWord ServiceTypeWords[] = {
    {L"propre", SERVICE_WIN32_OWN_PROCESS, false},
    {L"partage", SERVICE_WIN32_SHARE_PROCESS, false},
    {L"propre interactif", SERVICE_WIN32_OWN_PROCESS | Interactive, false},
    {L"partage interactif", SERVICE_WIN32_SHARE_PROCESS | Interactive, false},
    {L"own", SERVICE_WIN32_OWN_PROCESS, false},
    {L"share", SERVICE_WIN32_SHARE_PROCESS, false},
    {L"own interactive", SERVICE_WIN32_OWN_PROCESS | Interactive, false},
    {L"share interactive", SERVICE_WIN32_SHARE_PROCESS | Interactive, false},
};

const ValueWord DriverTypeWords[] = {
    {L"noyau", SERVICE_KERNEL_DRIVER, false},
    {L"systeme de fichiers", SERVICE_FILE_SYSTEM_DRIVER, false},
    {L"kernel", SERVICE_KERNEL_DRIVER, false},
    {L"filesys", SERVICE_FILE_SYSTEM_DRIVER, false},
};

// Lower case, without the accents of French, "_" read as a space: the forms a word may be typed in.
std::wstring Folded(const wchar_t* text) {
    std::wstring folded;
    for (const wchar_t* c = text; *c; ++c) {
        wchar_t lower = static_cast<wchar_t>(std::towlower(*c));
        if (std::wcschr(L"\u00E9\u00E8\u00EA\u00EB", lower))
            lower = L'e';
        else if (std::wcschr(L"\u00E0\u00E2", lower))
            lower = L'a';
        else if (std::wcschr(L"\u00EE\u00EF", lower))
            lower = L'i';
        else if (lower == L'_')
            lower = L' ';
        folded += lower;
    }
    return folded;
}

// A whole decimal number of at most three digits.
std::optional<DWORD> SmallNumber(const wchar_t* text) {
    const size_t length = std::wcslen(text);
    if (length == 0 || length > 3 || std::wcsspn(text, L"0123456789") != length)
        return std::nullopt;
    return static_cast<DWORD>(std::wcstoul(text, nullptr, 10));
}

template <size_t N>
const ValueWord* ValueNamed(const ValueWord (&words)[N], const wchar_t* value) {
    const std::wstring folded = Folded(value);
    for (const ValueWord& word : words)
        if (folded == word.word)
            return &word;
    return nullptr;
}

// A word or a number no larger than `highest`.
template <size_t N>
std::optional<ValueWord> ParseChoice(const ValueWord (&words)[N], const wchar_t* value, DWORD highest) {
    if (const ValueWord* word = ValueNamed(words, value))
        return *word;
    const std::optional<DWORD> number = SmallNumber(value);
    if (number && *number <= highest)
        return ValueWord{value, *number, false};
    return std::nullopt;
}

std::optional<DWORD> ParseServiceType(const wchar_t* value, bool creating) {
    if (const ValueWord* word = ValueNamed(ServiceTypeWords, value))
        return word->number;
    if (const ValueWord* word = ValueNamed(DriverTypeWords, value))
        return creating ? std::optional<DWORD>(word->number) : std::nullopt;
    return std::nullopt;
}

// "a/+b/c" as the platform's list "a\0+b\0c\0\0"; empty clears the list. An empty name is a slip.
std::optional<std::wstring> ParseDependencies(const std::wstring& value) {
    std::wstring list;
    for (size_t start = 0; start < value.size();) {
        const size_t end = std::min(value.find(L'/', start), value.size());
        if (end == start || (end == start + 1 && value[start] == L'+'))
            return std::nullopt;
        list.append(value, start, end - start);
        list += L'\0';
        start = end + 1;
        if (end + 1 == value.size())
            return std::nullopt;
    }
    return list + L'\0';
}

// The value as typed, its quotes removed (a backslash before a quote keeps the quote).
std::wstring Unquoted(const wchar_t* raw) {
    unsigned long count = 0;
    wchar_t** words = nullptr;
    SplitCommandLine(L"", L"", raw, &count, &words);
    std::wstring value = count != 0 ? words[0] : L"";
    MemRelease(words);
    return value;
}

bool ParseValue(Setting setting, const std::wstring& value, bool creating, ServiceSettings& settings) {
    switch (setting) {
    case Setting::StartType:
        if (const auto choice = ParseChoice(StartTypeWords, value.c_str(), SERVICE_DISABLED)) {
            settings.startType = choice->number;
            settings.delayed = choice->delayed;
            return true;
        }
        return false;
    case Setting::ErrorControl:
        if (const auto choice = ParseChoice(ErrorControlWords, value.c_str(), SERVICE_ERROR_CRITICAL)) {
            settings.errorControl = choice->number;
            return true;
        }
        return false;
    case Setting::Type:
        settings.serviceType = ParseServiceType(value.c_str(), creating);
        return settings.serviceType.has_value();
    case Setting::BinaryPath:
        settings.binaryPath = value;
        return !value.empty();
    case Setting::Dependencies:
        settings.dependencies = ParseDependencies(value);
        return settings.dependencies.has_value();
    case Setting::Group:
        settings.group = value;
        return true;
    case Setting::Account:
        settings.account = value;
        return !value.empty();
    case Setting::Password:
        settings.password = value;
        return true;
    case Setting::DisplayName:
        settings.displayName = value;
        return !value.empty();
    case Setting::Description:
        settings.description = value;
        return true;
    }
    return false;
}

bool ParseSetting(const wchar_t* word, bool creating, ServiceSettings& settings) {
    const wchar_t* equals = std::wcschr(word, L'=');
    if (!equals)
        return false;
    const std::wstring name(word, equals);
    for (const SettingWord& known : SettingWords) {
        if (StrIComp(name.c_str(), known.word) != 0)
            continue;
        if (settings.Has(known.setting))
            return false;
        settings.given.push_back(known.setting);
        return ParseValue(known.setting, Unquoted(equals + 1), creating, settings);
    }
    return false;
}

template <size_t N>
std::wstring NumberAndWord(const ValueWord (&words)[N], DWORD number, bool delayed) {
    std::wstring shown = std::to_wstring(number);
    for (const ValueWord& word : words)
        if (word.number == number && word.delayed == delayed)
            return shown + L" (" + word.word + L")";
    return shown;
}

} // namespace

std::wstring WithPasswordsHidden(const wchar_t* line) {
    const std::wstring text = line;
    const std::wstring key = L"password=";
    std::wstring hidden;
    size_t at = 0;
    while (at < text.size()) {
        const bool wordStart = at == 0 || text[at - 1] == L' ' || text[at - 1] == L'\t';
        if (!wordStart || StrNIComp(text.c_str() + at, key.c_str(), static_cast<unsigned int>(key.size())) != 0) {
            hidden += text[at++];
            continue;
        }
        hidden.append(text, at, key.size());
        at += key.size();
        // The value runs to the next separator outside quotes.
        size_t end = at;
        for (bool quoted = false; end < text.size() && (quoted || (text[end] != L' ' && text[end] != L'\t')); ++end)
            if (text[end] == L'"')
                quoted = !quoted;
        const std::wstring value = text.substr(at, end - at);
        hidden += value == L"*" ? value : L"********";
        at = end;
    }
    return hidden;
}

bool ServiceSettings::Has(Setting setting) const {
    return std::find(given.begin(), given.end(), setting) != given.end();
}

bool ServiceSettings::ChangesConfiguration() const {
    for (Setting setting : given)
        if (setting != Setting::Description)
            return true;
    return false;
}

bool ParseServiceSettings(unsigned long count, wchar_t* const* words, bool creating, ServiceSettings& settings) {
    if (count == 0)
        return false;
    for (unsigned long i = 0; i < count; ++i)
        if (!ParseSetting(words[i], creating, settings))
            return false;
    return true;
}

// The French words as they are written, accents included.
std::wstring StartTypeShown(DWORD startType, bool delayed) {
    static const ValueWord Shown[] = {
        {L"d\u00E9marrage", SERVICE_BOOT_START, false},   {L"syst\u00E8me", SERVICE_SYSTEM_START, false},
        {L"automatique", SERVICE_AUTO_START, false},      {L"automatique diff\u00E9r\u00E9", SERVICE_AUTO_START, true},
        {L"manuel", SERVICE_DEMAND_START, false},         {L"d\u00E9sactiv\u00E9", SERVICE_DISABLED, false},
    };
    return NumberAndWord(Shown, startType, delayed && startType == SERVICE_AUTO_START);
}

std::wstring ErrorControlShown(DWORD errorControl) {
    return NumberAndWord(ErrorControlWords, errorControl, false);
}

std::wstring ServiceTypeShown(DWORD serviceType) {
    static const ValueWord Shown[] = {
        {L"propre", SERVICE_WIN32_OWN_PROCESS, false},
        {L"partag\u00E9", SERVICE_WIN32_SHARE_PROCESS, false},
        {L"propre, interactif", SERVICE_WIN32_OWN_PROCESS | Interactive, false},
        {L"partag\u00E9, interactif", SERVICE_WIN32_SHARE_PROCESS | Interactive, false},
        {L"pilote noyau", SERVICE_KERNEL_DRIVER, false},
        {L"pilote de syst\u00E8me de fichiers", SERVICE_FILE_SYSTEM_DRIVER, false},
    };
    return NumberAndWord(Shown, serviceType, false);
}

const wchar_t* SettingLabel(Setting setting) {
    switch (setting) {
    case Setting::StartType:
        return L"Type de d\u00E9marrage";
    case Setting::ErrorControl:
        return L"Contr\u00F4le des erreurs";
    case Setting::BinaryPath:
        return L"Chemin du programme";
    case Setting::Group:
        return L"Groupe";
    case Setting::Dependencies:
        return L"D\u00E9pendances";
    case Setting::Account:
        return L"Compte";
    case Setting::Password:
        return L"Mot de passe";
    case Setting::DisplayName:
        return L"Nom complet";
    case Setting::Description:
        return L"Description";
    case Setting::Type:
        return L"Type";
    }
    return L"";
}

void SettingWordsWithSign(std::vector<std::wstring>& words) {
    for (const SettingWord& known : SettingWords)
        words.push_back(std::wstring(known.word) + L'=');
}
