#include "cli/ListArgument.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

#include "protocol/CodePage.h"
#include "protocol/Frame.h"
#include "resources/Lists.h"

namespace vyx::cli {

namespace {

const std::array<ListInfo, 4> kLists = {{
    {"command-set", "command set", resources::kCommandSetEntries, protocol::kCommandSetMask},
    {"font-set", "default font", resources::kDefaultFontEntries, protocol::kDefaultFontMask},
    {"language", "language", resources::kLanguageEntries, protocol::kLanguageMask},
    {"baud", "baud rate", resources::kBaudRateEntries, 0xFF, true},
}};

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

std::string Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t.");
    return std::string(text.substr(first, last + 1 - first));
}

bool IsAlnum(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

// The short forms an entry answers to, in lower case.
std::vector<std::string> ShortForms(const ListInfo& list, std::size_t index) {
    const std::string name = Lower(list.entries[index]);
    std::vector<std::string> forms;
    std::vector<std::string> words;
    std::string word;
    for (const char c : name + " ") {
        if (IsAlnum(c)) {
            word += c;
        } else if (!word.empty()) {
            words.push_back(word);
            word.clear();
        }
    }
    forms = words;
    for (std::size_t i = 0; i + 1 < words.size(); ++i) {
        forms.push_back(words[i] + words[i + 1]);
        forms.push_back(words[i] + "-" + words[i + 1]);
    }
    // "(FR) France", "Euro(CP-858)": the part in parentheses and the rest.
    const auto open = name.find('(');
    const auto close = name.find(')', open == std::string::npos ? 0 : open);
    if (open != std::string::npos && close != std::string::npos) {
        forms.push_back(Trimmed(name.substr(open + 1, close - open - 1)));
        forms.push_back(Trimmed(name.substr(0, open) + " " + name.substr(close + 1)));
    }
    if (list.entries.data() == resources::kDefaultFontEntries.data()) {
        const auto page = protocol::FontSetCodePage(static_cast<std::uint8_t>(index));
        if (page && *page < 0x10000) {
            forms.push_back(std::to_string(*page));
            forms.push_back("cp" + std::to_string(*page));
        }
    }
    return forms;
}

std::optional<unsigned long> Number(const std::string& text) {
    const bool hex = text.size() > 2 && text.starts_with("0x");
    const std::string digits = hex ? text.substr(2) : text;
    const bool valid = !digits.empty() && digits.size() <= 6 &&
                       std::all_of(digits.begin(), digits.end(), [hex](char c) {
                           return hex ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                                      : std::isdigit(static_cast<unsigned char>(c)) != 0;
                       });
    if (!valid) {
        return std::nullopt;
    }
    return std::stoul(digits, nullptr, hex ? 16 : 10);
}

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

}  // namespace

std::span<const ListInfo> Lists() {
    return kLists;
}

const ListInfo* FindList(std::string_view name) {
    const auto* const it = std::find_if(kLists.begin(), kLists.end(),
                                        [&](const ListInfo& list) { return list.name == name; });
    return it == kLists.end() ? nullptr : &*it;
}

std::uint8_t CodeOf(const ListInfo& list, int index) {
    return static_cast<std::uint8_t>(index & list.mask);
}

std::string EntryLabel(const ListInfo& list, int index) {
    const auto entry = resources::EntryAt(list.entries, index);
    if (!entry) {
        return "(not in the list)";
    }
    return std::string(*entry) + (list.rates ? " bps" : "");
}

ListLookup LookUpListArgument(const ListInfo& list, std::string_view argument) {
    const std::string typed = Lower(Trimmed(argument));
    ListLookup lookup;
    const auto number = Number(typed);
    if (number && *number < list.entries.size()) {
        lookup.index = static_cast<int>(*number);
        return lookup;
    }
    // A hexadecimal number is only ever an index.
    if (typed.empty() || (number && typed.starts_with("0x"))) {
        return lookup;
    }
    for (std::size_t i = 0; i < list.entries.size(); ++i) {
        if (Lower(Trimmed(list.entries[i])) == typed) {
            lookup.index = static_cast<int>(i);
            return lookup;
        }
    }
    for (std::size_t i = 0; i < list.entries.size(); ++i) {
        const auto forms = ShortForms(list, i);
        if (std::find(forms.begin(), forms.end(), typed) != forms.end()) {
            lookup.candidates.push_back(static_cast<int>(i));
        }
    }
    if (lookup.candidates.size() == 1) {
        lookup.index = lookup.candidates.front();
        lookup.candidates.clear();
    }
    return lookup;
}

std::string ListArgumentProblem(const ListInfo& list, std::string_view argument,
                                const ListLookup& lookup) {
    if (lookup.index) {
        return {};
    }
    std::string names;
    if (!lookup.candidates.empty()) {
        for (const int index : lookup.candidates) {
            names += (names.empty() ? "" : ", ") + std::to_string(index) + " " +
                     Quoted(list.entries[static_cast<std::size_t>(index)]);
        }
        return std::string(list.name) + " " + Quoted(argument) + " is ambiguous: " + names +
               "; give more of the name or the index";
    }
    return Quoted(argument) + " is no entry of the " + std::string(list.what) +
           " list; use an index from 0 to " + std::to_string(list.entries.size() - 1) +
           ", a name or a short form (`vyxctl lists " + std::string(list.name) + "` shows them)";
}

std::string ListsText(const ListInfo* only) {
    std::string text;
    for (const ListInfo& list : kLists) {
        if (only != nullptr && only != &list) {
            continue;
        }
        text += (text.empty() ? "" : "\n") + std::string(list.name) + " (" +
                std::string(list.what) + "): index, code, name\n";
        for (std::size_t i = 0; i < list.entries.size(); ++i) {
            char line[32];
            const int index = static_cast<int>(i);
            std::snprintf(line, sizeof line, "  %3d  0x%02X  ", index, CodeOf(list, index));
            text += line + EntryLabel(list, index) + "\n";
        }
    }
    return text;
}

}  // namespace vyx::cli
