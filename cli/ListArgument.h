#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vyx::cli {

// One of the dialog's lists as the command line names it. The entries themselves come
// from resources/Lists.h.
struct ListInfo {
    std::string_view name;  // "command-set": the command, the `set` key, the `lists` name
    std::string_view what;  // "command set": in messages and output
    std::span<const std::string_view> entries;
    int mask;            // applied to an index before it goes on the line
    bool rates = false;  // the baud-rate list: its entries are shown with "bps"
};

// command-set, font-set, language, baud, in this order.
std::span<const ListInfo> Lists();
// The list named `name` (as Lists() spells it), or nullptr.
const ListInfo* FindList(std::string_view name);

// The byte an index goes on the line as.
std::uint8_t CodeOf(const ListInfo& list, int index);
// The entry an index names ("EPSON POS D101", "115200 bps"), or "(not in the list)".
std::string EntryLabel(const ListInfo& list, int index);

// What a list argument names: the index of one entry, or the entries a short form fits
// (several: ambiguous; none: unknown).
struct ListLookup {
    std::optional<int> index;
    std::vector<int> candidates;
};

// Looks an argument up without regard to case: an index (decimal or 0x..), the entry's
// full name, or a short form of it: a word of the name ("France", "Euro", "D101"), the
// part in or outside parentheses ("FR", "CP-858"), two adjacent words joined ("cp858"),
// and for a font set the number of its code page ("858", "cp858"). A decimal number
// beyond the list is tried as a short form (a code page) before it is refused.
ListLookup LookUpListArgument(const ListInfo& list, std::string_view argument);

// The usage message for an argument that named no single entry; empty when it did.
std::string ListArgumentProblem(const ListInfo& list, std::string_view argument,
                                const ListLookup& lookup);

// The lists with index, code and name, one entry a line; `only` limits it to one list.
std::string ListsText(const ListInfo* only);

}  // namespace vyx::cli
