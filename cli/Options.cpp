#include "cli/Options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <iostream>
#include <map>
#include <span>
#include <string_view>

#include "cli/ExitStatus.h"
#include "resources/Lists.h"
#include "resources/Version.h"
#include "serial/ComName.h"

namespace vyx::cli {

namespace {

constexpr const char* kFooter =
    "Exit status: 0 success, 2 usage error, 3 the port could not be opened, 4 no complete\n"
    "reply in time, 5 config.data (or a port link) could not be written, 6 --verify found\n"
    "another value.\n"
    "COMn resolves to $VYX_PORTS_DIR/COMn, else ~/.config/vyx-utility/ports/COMn, else\n"
    "/dev/ttyS(n-1); see `vyxctl ports` and `vyxctl map`.";

// Values as typed, before they are checked against the lists.
struct RawArguments {
    std::string listEntry;             // NAME|INDEX of command-set, font-set, language
    std::string pattern;               // cell-test
    std::string encoding;              // text --encoding, as typed
    std::uint32_t rate = 0;            // baud RATE
    double timeoutSeconds = 2.0;       // info: the whole wait
    double probeTimeoutSeconds = 0.5;  // probe: the wait at each rate; a display answers
                                       // within some 30 ms even at 9600 bps
};

// Which list a NAME|INDEX argument is looked up in.
std::span<const std::string_view> ListFor(Command command) {
    switch (command) {
        case Command::CommandSet:
            return resources::kCommandSetEntries;
        case Command::FontSet:
            return resources::kDefaultFontEntries;
        default:
            return resources::kLanguageEntries;
    }
}

bool AllDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

std::string JoinEntries(std::span<const std::string_view> entries) {
    std::string joined;
    for (const auto entry : entries) {
        joined += joined.empty() ? "" : ", ";
        joined += '"';
        joined += entry;
        joined += '"';
    }
    return joined;
}

// An index as the lists number them (from 0), or a name matched without regard to case.
std::optional<int> LookUpEntry(std::span<const std::string_view> entries, const std::string& arg) {
    if (AllDigits(arg)) {
        if (arg.size() > 3) {
            return std::nullopt;
        }
        const int index = std::stoi(arg);
        return index < static_cast<int>(entries.size()) ? std::optional<int>(index) : std::nullopt;
    }
    const int index = resources::FindEntry(entries, arg);
    return index >= 0 ? std::optional<int>(index) : std::nullopt;
}

std::string UpperCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

class Parser {
  public:
    Parser() : m_App("Set up and test a serial customer display.", "vyxctl") {
        m_App.set_version_flag("--version", std::string("vyxctl ") + VYX_VERSION_TEXT);
        m_App.footer(kFooter);
        m_App.require_subcommand(1, 1);
        m_App.fallthrough();
        AddGlobalOptions();
        AddDisplayCommands();
        AddSettingCommands();
        AddPortCommands();
    }

    // Returns an empty string on success, else the usage error.
    std::string Parse(int argc, char** argv) {
        m_App.parse(argc, argv);
        return Validate();
    }

    CLI::App& App() { return m_App; }
    const Invocation& Result() const { return m_Invocation; }

  private:
    CLI::App* AddCommand(const char* name, const char* description, Command command) {
        CLI::App* sub = m_App.add_subcommand(name, description);
        m_Commands[sub] = command;
        return sub;
    }

    void AddGlobalOptions() {
        m_App.add_option("--port", m_Invocation.port, "\"COMn\" or a device path")
            ->capture_default_str();
        m_App
            .add_option("--baud", m_Invocation.baud,
                        "rate the display listens at: 9600 19200 38400 57600 115200")
            ->check(CLI::IsMember({9600, 19200, 38400, 57600, 115200}))
            ->capture_default_str();
    }

    static void AddTimeout(CLI::App* sub, double& seconds, const char* what) {
        sub->add_option("--timeout", seconds, what)
            ->check(CLI::Range(0.001, 3600.0))
            ->capture_default_str();
    }

    void AddDisplayCommands() {
        CLI::App* info = AddCommand(
            "info", "ask the display for its information and print the report", Command::Info);
        info->add_flag("--json", m_Invocation.json, "print one JSON object instead");
        AddTimeout(info, m_Raw.timeoutSeconds, "seconds to wait for the reply (fractions allowed)");

        CLI::App* text = AddCommand("text", "show two lines of text", Command::Text);
        text->add_option("LINE1", m_Invocation.line1, "first line (20 characters shown)")
            ->required();
        text->add_option("LINE2", m_Invocation.line2, "second line");
        m_EncodingOption =
            text->add_option("--encoding", m_Raw.encoding,
                             "code page of the lines: a number or name (cp858, windows-1251), or "
                             "auto for the display's current font set (default: the system's)");
        AddTimeout(text, m_Raw.timeoutSeconds,
                   "with --encoding auto: seconds to wait for the display's information");

        CLI::App* cell = AddCommand("cell-test", "fill both lines with blanks or full blocks",
                                    Command::CellTest);
        cell->add_option("PATTERN", m_Raw.pattern, "blank or block")
            ->required()
            ->check(CLI::IsMember({"blank", "block"}, CLI::ignore_case));

        CLI::App* download = AddCommand(
            "download", "put the display into download mode and hand over to the programmer",
            Command::Download);
        download->add_flag("--no-tool", m_Invocation.noTool, "do not start NuvoISP.exe");
        download
            ->add_option("--com", m_Invocation.comNumber,
                         "COM number written to config.data (needed with a device path)")
            ->check(CLI::Range(1, 255));

        CLI::App* probe = AddCommand(
            "probe", "find the rate the display listens at and print its report", Command::Probe);
        AddTimeout(probe, m_Raw.probeTimeoutSeconds, "seconds to wait for a reply at each rate");
    }

    void AddSettingCommands() {
        CLI::App* baud =
            AddCommand("baud", "change the rate the display listens at", Command::Baud);
        baud->add_option("RATE", m_Raw.rate, "9600 19200 38400 57600 115200")
            ->required()
            ->check(CLI::IsMember({9600, 19200, 38400, 57600, 115200}));
        baud->add_flag("--verify", m_Invocation.verify, "reopen at the new rate and check it");

        const struct {
            const char* name;
            const char* description;
            Command command;
        } lists[] = {
            {"command-set", "select the command set the display emulates", Command::CommandSet},
            {"font-set", "set the default font set kept in flash", Command::FontSet},
            {"language", "set the international character set", Command::Language},
        };
        for (const auto& list : lists) {
            CLI::App* sub = AddCommand(list.name, list.description, list.command);
            sub->add_option(
                   "NAME|INDEX", m_Raw.listEntry,
                   "entry name (any case) or index from 0: " + JoinEntries(ListFor(list.command)))
                ->required();
            sub->add_flag("--verify", m_Invocation.verify, "read the setting back and check it");
        }
    }

    void AddPortCommands() {
        AddCommand("ports", "list COM1 to COM20 and the serial devices present", Command::Ports);
        CLI::App* map =
            AddCommand("map", "link COMn to a device in the ports folder", Command::Map);
        map->add_option("COMn", m_Invocation.comName, "COM name, e.g. COM4")->required();
        map->add_option("DEVICE", m_Invocation.device, "device, e.g. /dev/ttyUSB0")->required();
        CLI::App* unmap = AddCommand("unmap", "remove the link of COMn", Command::Unmap);
        unmap->add_option("COMn", m_Invocation.comName, "COM name, e.g. COM4")->required();
    }

    std::string Validate() {
        CLI::App* chosen = m_App.get_subcommands().front();
        m_Invocation.command = m_Commands.at(chosen);
        m_Invocation.baudGiven = m_App.count("--baud") > 0;
        const double seconds = m_Invocation.command == Command::Probe ? m_Raw.probeTimeoutSeconds
                                                                      : m_Raw.timeoutSeconds;
        // The range check lets "nan" through (every comparison with it is false).
        if (!std::isfinite(seconds)) {
            return "--timeout: not a number of seconds";
        }
        m_Invocation.timeout =
            std::chrono::milliseconds(static_cast<std::int64_t>(std::ceil(seconds * 1000.0)));
        m_Invocation.block = UpperCase(m_Raw.pattern) == "BLOCK";
        // An empty argument reaches a number option as 0 without passing its check.
        if (resources::BaudRateIndex(m_Invocation.baud) < 0) {
            return "--baud: one of 9600 19200 38400 57600 115200";
        }
        if (m_Invocation.command == Command::Baud) {
            m_Invocation.index = resources::BaudRateIndex(m_Raw.rate);
            if (m_Invocation.index < 0) {
                return "baud RATE: one of 9600 19200 38400 57600 115200";
            }
        }
        // "com4" means COM4; a device path keeps its case.
        if (ComNumber(UpperCase(m_Invocation.port)) > 0) {
            m_Invocation.port = UpperCase(m_Invocation.port);
        }
        if (!ResolvePortName(m_Invocation.port)) {
            return "--port " + m_Invocation.port + ": neither COMn (n from 1) nor a device path";
        }
        return ValidateCommandArguments();
    }

    std::string ValidateCommandArguments() {
        switch (m_Invocation.command) {
            case Command::CommandSet:
            case Command::FontSet:
            case Command::Language:
                return ValidateListEntry();
            case Command::Text:
                return ValidateEncoding();
            case Command::Download:
                return ValidateDownload();
            case Command::Map:
            case Command::Unmap:
                return ValidateComName();
            default:
                return {};
        }
    }

    std::string ValidateListEntry() {
        const auto entries = ListFor(m_Invocation.command);
        const auto index = LookUpEntry(entries, m_Raw.listEntry);
        if (!index) {
            return "\"" + m_Raw.listEntry + "\" is no entry of the list; use an index from 0 to " +
                   std::to_string(entries.size() - 1) + " or one of " + JoinEntries(entries);
        }
        m_Invocation.index = *index;
        return {};
    }

    std::string ValidateEncoding() {
        if (m_EncodingOption->count() == 0) {
            return {};
        }
        const auto encoding = ParseTextEncoding(m_Raw.encoding);
        if (!encoding) {
            return "--encoding " + m_Raw.encoding +
                   ": not a code page this system converts (a number such as 1251, a name "
                   "such as cp858 or windows-1251, or auto)";
        }
        m_Invocation.encoding = *encoding;
        return {};
    }

    std::string ValidateDownload() {
        if (m_Invocation.comNumber == 0) {
            m_Invocation.comNumber = ComNumber(m_Invocation.port);
        }
        if (m_Invocation.comNumber == 0) {
            return "download: --port " + m_Invocation.port +
                   " is a device path; name the COM number for config.data with --com N";
        }
        return {};
    }

    std::string ValidateComName() {
        m_Invocation.comName = UpperCase(m_Invocation.comName);
        if (ComNumber(m_Invocation.comName) == 0) {
            return m_Invocation.comName + ": not a COM name (COM1, COM2, ...)";
        }
        return {};
    }

    CLI::App m_App;
    Invocation m_Invocation;
    RawArguments m_Raw;
    CLI::Option* m_EncodingOption = nullptr;
    std::map<const CLI::App*, Command> m_Commands;
};

int UsageError(const std::string& message) {
    std::cerr << "vyxctl: " << message << '\n' << kUsageLine << '\n';
    return kExitUsage;
}

}  // namespace

ParseOutcome ParseCommandLine(int argc, char** argv) {
    Parser parser;
    try {
        const std::string problem = parser.Parse(argc, argv);
        if (!problem.empty()) {
            return {std::nullopt, UsageError(problem)};
        }
        return {parser.Result(), kExitOk};
    } catch (const CLI::CallForHelp&) {
        std::cout << parser.App().help();
        return {std::nullopt, kExitOk};
    } catch (const CLI::CallForAllHelp&) {
        std::cout << parser.App().help("", CLI::AppFormatMode::All);
        return {std::nullopt, kExitOk};
    } catch (const CLI::CallForVersion& version) {
        std::cout << version.what() << '\n';
        return {std::nullopt, kExitOk};
    } catch (const CLI::ParseError& error) {
        return {std::nullopt, UsageError(error.what())};
    }
}

}  // namespace vyx::cli
