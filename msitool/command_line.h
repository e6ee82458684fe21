// The MSI tool's command line: at most two switches out of "/uninstall",
// "/hideoldaddremoves", "/u:UPGRADECODE" and the help switches.
#pragma once
#include <string>

class CommandLine {
public:
    // From one text split at blanks (no quoting): the first two words become
    // the switches after an empty program name; a third word makes the
    // command line invalid. A null text counts as empty.
    explicit CommandLine(const wchar_t* text);
    // From an argument vector whose first element is the program.
    CommandLine(int argumentCount, const wchar_t* const* arguments);
    virtual ~CommandLine() = default;

    virtual bool IsValid() const;

    int argumentCount = 0;
    std::wstring programName;
    bool hideOldAddRemoves = false;
    bool uninstall = false;
    bool help = false;
    std::wstring upgradeCode;  // the text after the last colon of "/u:"
    bool valid = true;

private:
    void Parse(int count, const wchar_t* const* arguments);
};
