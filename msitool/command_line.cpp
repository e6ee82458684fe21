#include "msitool/command_line.h"

#include <cwchar>
#include <vector>

namespace {

const wchar_t* const kHelpSwitches[] = {L"-?", L"--?", L"/?", L"-h", L"--h", L"/h", L"-help", L"--help", L"/help"};

bool IsHelpSwitch(const wchar_t* argument) {
    for (const wchar_t* help : kHelpSwitches) {
        if (_wcsicmp(argument, help) == 0) return true;
    }
    return false;
}

}  // namespace

CommandLine::CommandLine(const wchar_t* text) {
    const std::wstring line = text ? text : L"";
    std::vector<std::wstring> words;
    size_t start = 0;
    while ((start = line.find_first_not_of(L' ', start)) != std::wstring::npos) {
        const size_t end = line.find(L' ', start);
        words.push_back(line.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        start = end;
    }
    const wchar_t* arguments[3] = {L"", nullptr, nullptr};
    int count = 1;
    for (size_t i = 0; i < words.size() && count < 3; ++i) arguments[count++] = words[i].c_str();
    Parse(count, arguments);
    if (words.size() > 2) valid = false;
}

CommandLine::CommandLine(int count, const wchar_t* const* arguments) { Parse(count, arguments); }

bool CommandLine::IsValid() const { return valid; }

void CommandLine::Parse(int count, const wchar_t* const* arguments) {
    argumentCount = count;
    valid = true;
    hideOldAddRemoves = uninstall = help = false;
    if (count >= 1 && arguments && arguments[0]) programName = arguments[0];
    // One or two switches after the program.
    if (count != 2 && count != 3) {
        valid = false;
        return;
    }
    for (int i = 1; i < count; ++i) {
        const wchar_t* argument = arguments[i] ? arguments[i] : L"";
        if (_wcsicmp(argument, L"/hideoldaddremoves") == 0) {
            hideOldAddRemoves = true;
        } else if (std::wcsstr(argument, L"/u:")) {
            upgradeCode = std::wcsrchr(argument, L':') + 1;
        } else if (IsHelpSwitch(argument)) {
            help = true;
            return;  // later switches are not looked at
        } else if (_wcsicmp(argument, L"/uninstall") == 0) {
            uninstall = true;
        } else {
            valid = false;
            return;
        }
    }
}
