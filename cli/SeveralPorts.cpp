#include "cli/SeveralPorts.h"

#include <mutex>
#include <sstream>
#include <system_error>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/Console.h"
#include "cli/ExitStatus.h"

namespace vyx::cli {

namespace {

using Json = nlohmann::ordered_json;

// The line with a "port" key first when it is one JSON object (as it is when it has
// one already); nothing when it is no JSON object.
std::optional<std::string> WithPortKey(const std::string& port, std::string_view line) {
    const Json parsed = Json::parse(line, nullptr, false);
    if (!parsed.is_object()) {
        return std::nullopt;
    }
    if (parsed.contains("port")) {
        return std::string(line);
    }
    Json labelled;
    labelled["port"] = port;
    for (const auto& [key, value] : parsed.items()) {
        labelled[key] = value;
    }
    return labelled.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// What the threads share: the caller's streams and the worst status so far.
class SharedResult {
  public:
    SharedResult(std::ostream& out, std::ostream& err) : m_Out(out), m_Err(err) {}

    // Writes one port's blocks whole and counts its status. Nothing else writes to the
    // streams while the ports run, and each block goes into its stream in one piece
    // under the lock, so the stream's buffer holds the blocks one after the other and
    // sends them out in that order. Standard output is not flushed here: a terminal
    // shows each line at once anyway, and a pipe that fails keeps its reason for the
    // final flush to tell.
    void Finish(const std::string& out, const std::string& err, int status) {
        std::lock_guard<std::mutex> hold(m_Lock);
        m_Out << out;
        // Standard error is tied to standard output: a write to it flushes that first.
        // A port with nothing to tell leaves the flush to the end, as one port does.
        if (!err.empty()) {
            m_Err << err;
        }
        m_Worst = WorseExitStatus(m_Worst, status);
    }

    int Worst() {
        std::lock_guard<std::mutex> hold(m_Lock);
        return m_Worst;
    }

  private:
    std::mutex m_Lock;  // guards everything below: the one thing the port threads share
    std::ostream& m_Out;
    std::ostream& m_Err;
    int m_Worst = kExitOk;
};

void RunPort(const Invocation& invocation, const std::string& port, const PortCommand& command,
             SharedResult& shared) {
    Invocation own = invocation;
    own.port = port;
    own.ports = {port};
    std::ostringstream out;
    std::ostringstream err;
    int status = kExitOk;
    {
        const ConsoleCapture capture(out, err);
        status = command(own);
    }
    shared.Finish(LabelPortLines(port, out.str(), invocation.json),
                  LabelPortLines(port, err.str(), false), status);
}

}  // namespace

std::string LabelPortLines(const std::string& port, std::string_view text, bool json) {
    std::string labelled;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        const auto withKey = json ? WithPortKey(port, line) : std::nullopt;
        if (withKey) {
            labelled += *withKey;
        } else {
            labelled += port + ": ";
            labelled += line;
        }
        labelled += '\n';
    }
    return labelled;
}

int RunOnEveryPort(const Invocation& invocation, const PortCommand& command) {
    SharedResult shared(Out(), Err());
    std::vector<std::string> unstarted;
    {
        std::vector<std::jthread> threads;
        threads.reserve(invocation.ports.size());
        for (const std::string& port : invocation.ports) {
            try {
                threads.emplace_back([&invocation, port, &command, &shared] {
                    RunPort(invocation, port, command, shared);
                });
            } catch (const std::system_error&) {
                unstarted.push_back(port);  // out of threads: it runs here, after
            }
        }
        // A port whose thread could not start still gets its run, on this thread,
        // beside the others.
        for (const std::string& port : unstarted) {
            RunPort(invocation, port, command, shared);
        }
    }  // every thread joined
    return shared.Worst();
}

}  // namespace vyx::cli
