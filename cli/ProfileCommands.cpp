#include "cli/ProfileCommands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <random>

#include "cli/Apply.h"
#include "cli/Console.h"
#include "cli/ExitStatus.h"
#include "cli/Output.h"
#include "cli/Profile.h"
#include "cli/Session.h"

namespace vyx::cli {

namespace {

bool ReadTextFile(const std::string& path, std::string& text, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    char chunk[4096];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, n);
    }
    const bool failed = std::ferror(file) != 0;
    if (failed) {
        error = std::strerror(errno);
    }
    std::fclose(file);
    return !failed;
}

// Exit status 2 for a profile that cannot be used, told as every other failure and, with
// --json, as the port's object all the same: a configuration tool reads stdout.
int ProfileRefused(const Invocation& invocation, const std::string& error) {
    Fail(error);
    if (invocation.json) {
        Out() << ApplyJson(ApplyFailure(invocation.port, invocation.check, kExitUsage, error));
    }
    return kExitUsage;
}

}  // namespace

int RunApply(const Invocation& invocation) {
    std::string text;
    std::string readError;
    if (!ReadTextFile(invocation.profilePath, text, readError)) {
        return ProfileRefused(
            invocation, "cannot read the profile " + invocation.profilePath + ": " + readError);
    }
    const ProfileRead read = ReadProfile(text, invocation.profilePath);
    if (!read.profile) {
        return ProfileRefused(invocation, read.error);
    }
    ApplyOptions options;
    options.check = invocation.check;
    options.probe = invocation.probe;
    options.baudGiven = invocation.baudGiven;
    options.timeout = invocation.timeout;
    options.timeoutGiven = invocation.timeoutGiven;
    options.session = {invocation.dryRun, invocation.verbose, invocation.trace};
    const ApplyResult result =
        ApplyProfile(invocation.port, invocation.baud, *read.profile, options);
    if (invocation.dryRun) {
        return result.status;
    }
    if (!result.error.empty() && !result.errorTold) {
        Fail(result.error);
    }
    Out() << (invocation.json ? ApplyJson(result) : ApplySummaryText(result));
    return result.status;
}

int RunProfileSave(const Invocation& invocation) {
    const Step query = Step::Query(invocation.timeout);
    const SessionResult session =
        Session(invocation.port, invocation.baud,
                SessionOptions{invocation.dryRun, invocation.verbose, invocation.trace})
            .Run(std::span(&query, 1));
    if (session.dryRun) {
        return kExitOk;
    }
    if (session.Status() != kExitOk) {
        if (session.failure.empty()) {
            Fail(NoReplyText(session, session.steps.back(), invocation.timeout),
                 "hint: `vyxctl probe` finds the rate the display listens at");
        }
        return session.Status();
    }
    std::string problem;
    const auto text = ProfileTextOf(session.steps.back().reply.frame, session.description, problem);
    if (!text) {
        Fail(invocation.profilePath + ": not written: " + problem);
        return kExitFileNotWritten;
    }
    std::string error;
    if (!ReplaceFile(invocation.profilePath, *text, error)) {
        Fail("cannot write the profile " + invocation.profilePath + ": " + error);
        return kExitFileNotWritten;
    }
    if (!invocation.quiet) {
        Out() << "profile of " << session.description << " written to " << invocation.profilePath
              << '\n';
    }
    return kExitOk;
}

bool ReplaceFile(const std::string& path, const std::string& text, std::string& error) {
    // A name of its own per writer, so that two saves to one file cannot mix their bytes.
    std::random_device random;
    const std::string temporary = path + ".tmp" + std::to_string(random());
    std::FILE* file = std::fopen(temporary.c_str(), "wbx");
    if (file == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    const bool written =
        std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
    const int writeErrno = errno;
    const bool closed = std::fclose(file) == 0;
    std::error_code renameError;
    if (written && closed) {
        std::filesystem::rename(temporary, path, renameError);
        if (!renameError) {
            return true;
        }
    }
    error = renameError ? renameError.message() : std::strerror(written ? errno : writeErrno);
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    return false;
}

}  // namespace vyx::cli
