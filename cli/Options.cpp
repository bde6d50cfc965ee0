#include "cli/Options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <map>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "cli/ExitStatus.h"
#include "cli/ListArgument.h"
#include "cli/PortList.h"
#include "cli/Ports.h"
#include "resources/Lists.h"
#include "resources/Version.h"
#include "serial/ComName.h"

namespace vyx::cli {

namespace {

// The help's footer, around the platform's word on port names (PortNamingHelp).
constexpr const char* kFooterStatus =
    "Exit status: 0 success, 1 standard output could not be written, 2 usage error, 3 the\n"
    "port could not be opened, 4 no valid reply in time (or the device was lost), 5\n"
    "config.data (or a port link, or a profile) could not be written, 6 --verify found\n"
    "another value (apply: a value did not take; apply --check: the display differs),\n"
    "7 the bytes did not all reach the port, 8 the programming tool could not be started.\n"
    "On several ports (--port repeated, --ports-from): the worst of the ports', most\n"
    "severe first 2 3 7 4 6 8 5 1 0; each line is prefixed with its port.\n";
constexpr const char* kFooterRest =
    "VYX_PORT and VYX_BAUD give --port and --baud when they are not on the command line.\n"
    "A list argument takes an index (decimal or 0x..), a name or a short form of it\n"
    "(fr, France, cp858, Euro, D101); `vyxctl lists` shows them.";

// Values as typed, before they are checked against the lists.
struct RawArguments {
    std::string listEntry;              // NAME|INDEX of command-set, font-set, language
    std::string pattern;                // cell-test
    std::string encoding;               // text --encoding, as typed
    std::string rate;                   // baud RATE, as typed
    std::vector<std::string> settings;  // set KEY=VALUE...
    std::vector<std::string> ports;     // --port, each time given
    std::string portsFrom;              // --ports-from FILE
    std::string profileAction;          // profile ACTION (save)
    double timeoutSeconds = 2.0;        // info: the whole wait
    double probeTimeoutSeconds = 0.0;   // probe: the wait at each rate; by default what
                                        // the wire needs at that rate (see Commands.cpp)
};

// The list of a setting command.
const ListInfo& ListFor(Command command) {
    switch (command) {
        case Command::CommandSet:
            return *FindList("command-set");
        case Command::FontSet:
            return *FindList("font-set");
        case Command::Baud:
            return *FindList("baud");
        default:
            return *FindList("language");
    }
}

std::string UpperCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// Levenshtein distance with an adjacent swap counting as one edit; names are short.
std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) {
        d[i][0] = i;
    }
    for (std::size_t j = 0; j <= b.size(); ++j) {
        d[0][j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                                             std::tolower(static_cast<unsigned char>(b[j - 1]))
                                         ? 0
                                         : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

// The first argument that is no option and no global option's value: the command the
// user meant, if any. "--help" and "--version" stand for themselves.
struct FirstWord {
    std::optional<std::string> word;
    bool helpOrVersion = false;
};

FirstWord ScanFirstWord(int argc, char** argv) {
    FirstWord first;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--port" || arg == "--baud" || arg == "-p" || arg == "-b" ||
            arg == "--ports-from") {
            ++i;  // its value follows
        } else if (arg == "-h" || arg == "--help" || arg == "--help-all" || arg == "--version") {
            first.helpOrVersion = true;
        } else if (arg == "--") {
            if (i + 1 < argc) {
                first.word = argv[i + 1];
            }
            break;
        } else if (arg.empty() || arg.front() != '-') {
            first.word = std::string(arg);
            break;
        }
    }
    return first;
}

class Parser {
  public:
    Parser() : m_App("Set up and test a serial customer display.", "vyxctl") {
        m_App.set_version_flag("--version", std::string("vyxctl ") + VYX_VERSION_TEXT);
        m_App.footer(std::string(kFooterStatus) + PortNamingHelp() + kFooterRest);
        m_App.require_subcommand(1, 1);
        m_App.fallthrough();
        // CLI11 takes "/x" for an option on Windows; a device path such as //./COM4 or
        // /dev/ttyUSB0 is an argument there as here.
        m_App.allow_windows_style_options(false);
        AddGlobalOptions();
        AddDisplayCommands();
        AddSettingCommands();
        AddProfileCommands();
        AddPortCommands();
    }

    // Returns an empty string on success, else the usage error.
    std::string Parse(int argc, char** argv) {
        m_App.parse(argc, argv);
        return Validate();
    }

    CLI::App& App() { return m_App; }

    // "  info         ask the display ..." for every command, one a line.
    std::string CommandList() const {
        std::string list = "Commands:\n";
        for (const CLI::App* sub : m_App.get_subcommands({})) {
            std::string name = sub->get_name();
            name.resize(std::max<std::size_t>(name.size(), 13), ' ');
            list += "  " + name + sub->get_description() + "\n";
        }
        return list;
    }

    bool IsCommand(const std::string& name) const {
        return std::any_of(m_Commands.begin(), m_Commands.end(),
                           [&](const auto& entry) { return entry.first->get_name() == name; });
    }

    // The command nearest to a mistyped one, when it is near enough to be meant.
    std::optional<std::string> NearestCommand(const std::string& typed) const {
        std::optional<std::string> best;
        std::size_t bestDistance = 3;  // two edits at most: "infoo", "prboe", "txet"
        for (const auto& entry : m_Commands) {
            const std::string& name = entry.first->get_name();
            const std::size_t distance = EditDistance(typed, name);
            if (distance < bestDistance) {
                bestDistance = distance;
                best = name;
            }
        }
        return best;
    }
    const Invocation& Result() const { return m_Invocation; }

  private:
    CLI::App* AddCommand(const char* name, const char* description, Command command) {
        CLI::App* sub = m_App.add_subcommand(name, description);
        m_Commands[sub] = command;
        return sub;
    }

    void AddGlobalOptions() {
        // VYX_PORT is read in Validate, not by the parser: it stands in for --port only
        // when neither --port nor --ports-from names a port.
        m_App
            .add_option("-p,--port", m_Raw.ports,
                        "\"COMn\" or a device path (default: $VYX_PORT, else COM4); "
                        "repeat it to run info, set, text or apply on several ports at once")
            ->type_name("NAME");
        m_PortsFrom =
            m_App
                .add_option("--ports-from", m_Raw.portsFrom,
                            "file naming ports, one COM name or device path a line (blank "
                            "lines and lines starting with # are skipped)")
                ->type_name("FILE");
        m_App
            .add_option("-b,--baud", m_Invocation.baud,
                        "rate the display listens at: 9600 19200 38400 57600 115200")
            ->envname("VYX_BAUD")
            ->check(CLI::IsMember({9600, 19200, 38400, 57600, 115200}))
            ->capture_default_str();
        m_App.add_flag("-q,--quiet", m_Invocation.quiet, "do not say what a setting set");
        m_Verbose = m_App.add_flag("-v,--verbose", m_VerboseCount,
                                   "tell each step on standard error; -vv traces every byte");
        m_App.add_flag("--trace", m_Invocation.trace,
                       "dump every byte sent and received on standard error, timestamped");
        m_App.add_flag("--dry-run", m_Invocation.dryRun,
                       "print the frames that would be sent; open no port");
    }

    static CLI::Option* AddTimeout(CLI::App* sub, double& seconds, const char* what) {
        return sub->add_option("-t,--timeout", seconds, what)->check(CLI::Range(0.001, 3600.0));
    }

    void AddDisplayCommands() {
        CLI::App* info = AddCommand(
            "info", "ask the display for its information and print it, one line per field",
            Command::Info);
        CLI::Option* json =
            info->add_flag("--json", m_Invocation.json, "print one JSON object instead");
        info->add_flag("--report", m_Invocation.report,
                       "print the report text as the dialog shows it instead")
            ->excludes(json);
        AddTimeout(info, m_Raw.timeoutSeconds, "seconds to wait for the reply (fractions allowed)")
            ->capture_default_str();

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
            ->check(CLI::Range(1, resources::kComPortCount));

        CLI::App* probe = AddCommand(
            "probe", "find the rate the display listens at and print its report", Command::Probe);
        AddTimeout(probe, m_Raw.probeTimeoutSeconds,
                   "seconds to wait for a reply at each rate (default: the reply's time on the "
                   "wire at that rate plus a margin, well under 0.1 s)");
        probe->add_flag("--clear", m_Invocation.clear,
                        "blank the display at the rate found (stray characters from the "
                        "queries at other rates)");
    }

    void AddSettingCommands() {
        CLI::App* baud =
            AddCommand("baud", "change the rate the display listens at", Command::Baud);
        baud->add_option("RATE", m_Raw.rate, "9600 19200 38400 57600 115200 (or index 0 to 4)")
            ->required();
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
                   "index (0.., 0x..), entry name or short form, any case; `vyxctl lists " +
                       std::string(list.name) + "`")
                ->required();
            sub->add_flag("--verify", m_Invocation.verify, "read the setting back and check it");
        }

        CLI::App* set = AddCommand(
            "set", "apply several settings in one opening, the baud rate last", Command::Set);
        set->add_option("KEY=VALUE", m_Raw.settings,
                        "command-set=, font-set=, language=, baud= with a value as the single "
                        "commands take it")
            ->required();
        set->add_flag("--verify", m_Invocation.verify,
                      "read every value back (at the new rate) and check it");
        AddTimeout(set, m_Raw.timeoutSeconds, "with --verify: seconds to wait for the reply");

        CLI::App* listsCommand = AddCommand(
            "lists", "print the lists with their indices, codes and names", Command::Lists);
        listsCommand
            ->add_option("NAME", m_Invocation.listName, "command-set, font-set, language or baud")
            ->check(CLI::IsMember({"command-set", "font-set", "language", "baud"}));
    }

    void AddProfileCommands() {
        CLI::App* apply = AddCommand(
            "apply",
            "set the display up as a profile says, sending only what differs, and verify it",
            Command::Apply);
        apply->add_option("PROFILE", m_Invocation.profilePath, "the profile (a TOML file)")
            ->required();
        apply->add_flag("--check", m_Invocation.check,
                        "change nothing: exit 0 when the display matches, 6 when it differs");
        apply->add_flag("--probe", m_Invocation.probe,
                        "find the rate the display listens at first (--baud, the profile's "
                        "probe-first and baud are tried first)");
        apply->add_flag("--json", m_Invocation.json, "print one JSON object per port instead");
        AddTimeout(apply, m_Raw.timeoutSeconds,
                   "seconds to wait for each reply (with --probe: for the reply at each rate, "
                   "by default the wire time plus a margin)")
            ->capture_default_str();

        CLI::App* profile =
            AddCommand("profile", "profile save FILE: write the profile of the display on the port",
                       Command::ProfileSave);
        profile->add_option("ACTION", m_Raw.profileAction, "save: write it to FILE")
            ->required()
            ->check(CLI::IsMember({"save"}));
        profile->add_option("FILE", m_Invocation.profilePath, "the profile to write (TOML)")
            ->required();
        AddTimeout(profile, m_Raw.timeoutSeconds, "seconds to wait for the reply")
            ->capture_default_str();
    }

    void AddPortCommands() {
        CLI::App* ports =
            AddCommand("ports", "list the serial devices present and what COM1 to COM20 lead to",
                       Command::Ports);
        ports->add_flag("--json", m_Invocation.json, "print one JSON object instead");
        CLI::App* map =
            AddCommand("map", "link COMn to a device in the ports folder", Command::Map);
        map->add_option("COMn", m_Invocation.comName, "COM name, e.g. COM4")->required();
        map->add_option("DEVICE", m_Invocation.device,
                        "device, e.g. /dev/serial/by-id/usb-..., /dev/ttyUSB0 or ttyUSB0")
            ->required();
        CLI::App* unmap = AddCommand("unmap", "remove the link of COMn", Command::Unmap);
        unmap->add_option("COMn", m_Invocation.comName, "COM name, e.g. COM4")->required();
        CLI::App* completion =
            AddCommand("completion", "print the completion script of a shell", Command::Completion);
        completion->add_option("SHELL", m_Invocation.shell, "bash, zsh or fish")
            ->required()
            ->check(CLI::IsMember(kCompletionShells));
    }

    std::string Validate() {
        CLI::App* chosen = m_App.get_subcommands().front();
        m_Invocation.command = m_Commands.at(chosen);
        m_Invocation.baudGiven = m_App.count("--baud") > 0;
        m_Invocation.verbose = m_Verbose->count() > 0;
        m_Invocation.trace = m_Invocation.trace || m_Verbose->count() > 1;
        const double seconds = m_Invocation.command == Command::Probe ? m_Raw.probeTimeoutSeconds
                                                                      : m_Raw.timeoutSeconds;
        // The range check lets "nan" through (every comparison with it is false).
        if (!std::isfinite(seconds)) {
            return "--timeout: not a number of seconds";
        }
        const CLI::Option* timeout = chosen->get_option_no_throw("--timeout");
        m_Invocation.timeoutGiven = timeout != nullptr && timeout->count() > 0;
        m_Invocation.timeout =
            std::chrono::microseconds(static_cast<std::int64_t>(std::llround(seconds * 1e6)));
        m_Invocation.block = UpperCase(m_Raw.pattern) == "BLOCK";
        // An empty argument reaches a number option as 0 without passing its check.
        if (resources::BaudRateIndex(m_Invocation.baud) < 0) {
            return "--baud: one of 9600 19200 38400 57600 115200";
        }
        if (m_Invocation.dryRun &&
            (m_Invocation.command == Command::Map || m_Invocation.command == Command::Unmap)) {
            return "--dry-run: map and unmap send nothing; `vyxctl ports` shows the links";
        }
        if (std::string problem = ValidatePorts(); !problem.empty()) {
            return problem;
        }
        return ValidateCommandArguments();
    }

    // The ports named by --port (each time given) and --ports-from, in that order; with
    // neither, VYX_PORT or COM4. Several only for the commands that take them.
    std::string ValidatePorts() {
        std::vector<NamedPort> ports;
        for (const std::string& name : m_Raw.ports) {
            ports.push_back({name, "--port"});
        }
        if (m_PortsFrom->count() > 0) {
            PortListRead read = ReadPortList(m_Raw.portsFrom);
            if (!read.error.empty()) {
                return read.error;
            }
            if (read.ports.empty()) {
                return "--ports-from " + m_Raw.portsFrom + ": names no port";
            }
            ports.insert(ports.end(), read.ports.begin(), read.ports.end());
        }
        if (ports.empty()) {
            // As the parser treats an environment variable: an empty one is not there.
            const char* fromEnvironment = std::getenv("VYX_PORT");
            const bool given = fromEnvironment != nullptr && *fromEnvironment != '\0';
            ports.push_back({given ? fromEnvironment : "COM4", "--port"});
        }
        if (std::string problem = CheckPorts(ports); !problem.empty()) {
            return problem;
        }
        if (ports.size() > 1 && !TakesSeveralPorts(m_Invocation.command)) {
            return std::string(m_App.get_subcommands().front()->get_name()) + ": " +
                   std::to_string(ports.size()) + " ports named; only " + kSeveralPortsCommands +
                   " run on several ports";
        }
        m_Invocation.ports.clear();
        for (const NamedPort& port : ports) {
            m_Invocation.ports.push_back(port.name);
        }
        m_Invocation.port = m_Invocation.ports.front();
        return {};
    }

    std::string ValidateCommandArguments() {
        switch (m_Invocation.command) {
            case Command::CommandSet:
            case Command::FontSet:
            case Command::Language:
                return ValidateListEntry(m_Raw.listEntry);
            case Command::Baud:
                return ValidateListEntry(m_Raw.rate);
            case Command::Set:
                return ValidateSettings();
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

    std::string ValidateListEntry(const std::string& argument) {
        const ListInfo& list = ListFor(m_Invocation.command);
        const ListLookup lookup = LookUpListArgument(list, argument);
        if (!lookup.index) {
            return ListArgumentProblem(list, argument, lookup);
        }
        m_Invocation.index = *lookup.index;
        return {};
    }

    // KEY=VALUE each once; the baud rate goes last so that the others reach the display
    // at the rate it listens at now.
    std::string ValidateSettings() {
        std::vector<std::pair<std::string, int>> settings;
        std::optional<std::pair<std::string, int>> baud;
        for (const std::string& setting : m_Raw.settings) {
            const auto equals = setting.find('=');
            const std::string key = setting.substr(0, equals);
            const ListInfo* list = FindList(key);
            if (equals == std::string::npos || list == nullptr) {
                return "set: \"" + setting +
                       "\" is no KEY=VALUE with KEY command-set, font-set, language or baud";
            }
            const bool seen = std::any_of(settings.begin(), settings.end(),
                                          [&](const auto& s) { return s.first == key; }) ||
                              (baud && key == "baud");
            if (seen) {
                return "set: " + key + " is given twice";
            }
            const std::string value = setting.substr(equals + 1);
            const ListLookup lookup = LookUpListArgument(*list, value);
            if (!lookup.index) {
                return ListArgumentProblem(*list, value, lookup);
            }
            if (key == "baud") {
                baud.emplace(key, *lookup.index);
            } else {
                settings.emplace_back(key, *lookup.index);
            }
        }
        if (baud) {
            settings.push_back(*baud);
        }
        m_Invocation.settings = std::move(settings);
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
        if (m_Invocation.command == Command::Unmap) {
            return {};
        }
        // The dialog offers COM1 to COM20 only: a higher link could never be chosen there.
        if (ComNumber(m_Invocation.comName) > resources::kComPortCount) {
            return "map: " + m_Invocation.comName + ": the dialog lists COM1 to COM" +
                   std::to_string(resources::kComPortCount) + " only";
        }
        if (m_Invocation.device.empty()) {
            return "map: DEVICE is empty; `vyxctl unmap " + m_Invocation.comName +
                   "` removes a link";
        }
        // A bare name, as `ports` and dmesg show them ("ttyUSB1"), is a node in /dev.
        if (m_Invocation.device.find('/') == std::string::npos) {
            m_Invocation.device = "/dev/" + m_Invocation.device;
        }
        return {};
    }

    CLI::App m_App;
    Invocation m_Invocation;
    RawArguments m_Raw;
    CLI::Option* m_EncodingOption = nullptr;
    CLI::Option* m_Verbose = nullptr;
    CLI::Option* m_PortsFrom = nullptr;
    int m_VerboseCount = 0;
    std::map<const CLI::App*, Command> m_Commands;
};

int UsageError(const std::string& message) {
    std::cerr << "vyxctl: " << message << '\n' << kUsageLine << '\n';
    return kExitUsage;
}

}  // namespace

// The commands whose work on one display does not depend on another: each port runs on
// its own thread. Another command joins by being named here and in kSeveralPortsCommands.
bool TakesSeveralPorts(Command command) {
    return command == Command::Info || command == Command::Set || command == Command::Text ||
           command == Command::Apply;
}

CompletionModel CommandLineCompletionModel() {
    Parser parser;
    return CompletionModelOf(parser.App());
}

ParseOutcome ParseCommandLine(int argc, char** argv) {
    Parser parser;
    const FirstWord first = ScanFirstWord(argc, argv);
    if (first.word == "help") {
        std::cout << parser.App().help();
        return {std::nullopt, kExitOk};
    }
    if (!first.word && !first.helpOrVersion) {
        std::cerr << "vyxctl: a command is required\n"
                  << kUsageLine << '\n'
                  << parser.CommandList();
        return {std::nullopt, kExitUsage};
    }
    if (first.word && !first.helpOrVersion && !parser.IsCommand(*first.word)) {
        const auto nearest = parser.NearestCommand(*first.word);
        return {std::nullopt, UsageError("unknown command \"" + *first.word + "\"" +
                                         (nearest ? "; did you mean " + *nearest + "?"
                                                  : "; `vyxctl help` lists the commands"))};
    }
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
