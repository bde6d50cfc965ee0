#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace vyx::resources {

// Entries of the dialog's lists, index 0 first, unsorted. The zero-based index of an
// entry is what goes on the line.
constexpr std::array<std::string_view, 5> kBaudRateEntries{"9600", "19200", "38400", "57600",
                                                           "115200"};
constexpr std::array<std::uint32_t, 5> kBaudRates{9600, 19200, 38400, 57600, 115200};

constexpr std::array<std::string_view, 10> kCommandSetEntries{
    "LD220",  "EPSON POS D101", "UTC Standard", "UTC Enhance", "AEDEX",
    "ADM788", "DSP800",         "CD5220",       "EMAX",        "LOGIC CONTROL"};

constexpr std::array<std::string_view, 18> kDefaultFontEntries{"USA(CP-437)",
                                                               "Katakana",
                                                               "Multilingual(CP-850)",
                                                               "Portuguese(CP-860)",
                                                               "French Canada(CP-863)",
                                                               "Nordic(CP-865)",
                                                               "Slavonic",
                                                               "Russian(CP-866)",
                                                               "Euro(CP-858)",
                                                               "Windows-1252",
                                                               "Greek(Windows-1253)",
                                                               "Windows-1257",
                                                               "Hebrew(CP862)",
                                                               "Greek(CP737)",
                                                               "Persian",
                                                               "Arabic(CP-864)",
                                                               "Hebrew(ISO/IEC 8859-8)",
                                                               "Russian(Windows-1251)"};

constexpr std::array<std::string_view, 13> kLanguageEntries{
    "(US) USA",       "(FR) France",   "(DE) Germany", "(UK) England.", "(D1) Denmark I",
    "(SE) Sweden",    "(IT) Italy",    "(ES) Spain",   "(JP) Japan",    "(NO) Norway",
    "(D2) Demark II", "(SL) Slavonic", "(RU) Russia"};

constexpr int kComPortCount = 20;    // " COM 1 " to " COM 20 "
constexpr int kDefaultComIndex = 3;  // " COM 4 "

// The entry at `index`, or nullopt when the index names none.
std::optional<std::string_view> EntryAt(std::span<const std::string_view> entries, int index);
// Index of the entry equal to `name` without regard to ASCII case, or -1.
int FindEntry(std::span<const std::string_view> entries, std::string_view name);
// Index of `bps` in kBaudRates, or -1.
int BaudRateIndex(std::uint32_t bps);

}  // namespace vyx::resources
