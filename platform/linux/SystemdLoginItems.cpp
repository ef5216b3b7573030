#include "platform/linux/SystemdLoginItems.h"

#include "platform/linux/ChildProcess.h"
#include "platform/linux/XdgDirectories.h"

#include <fstream>
#include <initializer_list>
#include <string>
#include <system_error>
#include <utility>

namespace Platform {

std::unique_ptr<LoginItems> LoginItems::create() {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return std::make_unique<Linux::SystemdLoginItems>(Linux::XdgDirectories::configHome(), executable);
}

namespace Linux {
namespace {

// One argument as ExecStart reads it: quoted, with systemd's specifiers and variables kept literal.
std::string unitArgument(const std::string& argument) {
    std::string text = "\"";
    for (const char c : argument) {
        if (c == '"' || c == '\\') text += '\\';
        if (c == '%' || c == '$') text += c;
        text += c;
    }
    return text + "\"";
}

// One argument as a desktop entry's Exec reads it: quoted, after the string escapes of the file.
std::string entryArgument(const std::string& argument) {
    std::string text = "\"";
    for (const char c : argument) {
        if (c == '"' || c == '`' || c == '$') text += "\\\\";
        if (c == '\\') text += "\\\\\\";
        if (c == '%') text += c;
        text += c;
    }
    return text + "\"";
}

void writeFile(const std::filesystem::path& file, const std::string& contents) {
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    if (error) throw LoginItemsError("could not create " + file.parent_path().string() + ": " + error.message());
    const std::filesystem::path fresh = file.string() + ".new";
    {
        std::ofstream out(fresh, std::ios::trunc);
        out << contents;
        if (!out.flush()) throw LoginItemsError("could not write " + fresh.string());
    }
    std::filesystem::rename(fresh, file, error);
    if (error) throw LoginItemsError("could not write " + file.string() + ": " + error.message());
}

void removeFile(const std::filesystem::path& file) {
    std::error_code error;
    std::filesystem::remove(file, error);
    if (error) throw LoginItemsError("could not remove " + file.string() + ": " + error.message());
}

bool contains(const std::filesystem::path& file, const std::string& line) {
    std::ifstream in(file);
    for (std::string read; std::getline(in, read);) {
        if (read == line) return true;
    }
    return false;
}

// Whether `word` is one of `words`.
bool anyOf(const std::string& word, std::initializer_list<const char*> words) {
    for (const char* each : words) {
        if (word == each) return true;
    }
    return false;
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

} // namespace

SystemdLoginItems::SystemdLoginItems(std::filesystem::path configHome, std::filesystem::path executable)
    : configHome_(std::move(configHome)), executable_(std::move(executable)) {}

std::filesystem::path SystemdLoginItems::unitFile() const { return configHome_ / "systemd" / "user" / agentUnit; }

std::filesystem::path SystemdLoginItems::autostartEntry() const { return configHome_ / "autostart" / mainAppEntry; }

std::string SystemdLoginItems::systemctl(const std::vector<std::string>& arguments, bool failureIsAnswer) const {
    std::vector<std::string> command = {"systemctl", "--user"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const ChildProcess::Result result = ChildProcess::run(command);
    if (!result.started) throw LoginItemsError("This computer has no systemd to start programs at login.");
    const std::string output = trimmed(result.output);
    if (result.exitStatus == 0 || (failureIsAnswer && output.find("Failed to connect") == std::string::npos)) {
        return output;
    }
    throw LoginItemsError("The user's systemd could not be reached: " + output);
}

LoginItems::Status SystemdLoginItems::status(Item item) {
    if (item == Item::mainApp) {
        std::error_code error;
        const bool listed =
            std::filesystem::exists(autostartEntry(), error) && !contains(autostartEntry(), "Hidden=true");
        return listed ? Status::enabled : Status::notRegistered;
    }
    const std::string state = systemctl({"is-enabled", agentUnit}, true);
    if (anyOf(state, {"enabled", "enabled-runtime", "linked", "linked-runtime", "alias"})) return Status::enabled;
    if (anyOf(state, {"disabled", "static", "indirect", "generated", "transient"})) return Status::notRegistered;
    if (state == "not-found" || state.find("No such file") != std::string::npos) return Status::notFound;
    throw LoginItemsError("The user's systemd gave an unknown state: " + state);
}

void SystemdLoginItems::registerItem(Item item) {
    if (executable_.empty()) throw LoginItemsError("the running program's file is unknown");
    if (item == Item::mainApp) {
        writeFile(autostartEntry(), "[Desktop Entry]\nType=Application\nName=Plovander\nExec=" +
                                        entryArgument(executable_.string()) + "\n");
        return;
    }
    writeFile(unitFile(),
              "[Unit]\nDescription=Plovander keep-alive agent\nPartOf=graphical-session.target\n\n"
              "[Service]\nExecStart=" +
                  unitArgument(executable_.string()) +
                  "\nRestart=on-failure\n\n[Install]\nWantedBy=graphical-session.target\n");
    systemctl({"daemon-reload"});
    systemctl({"enable", agentUnit});
}

void SystemdLoginItems::unregisterItem(Item item) {
    if (item == Item::mainApp) {
        removeFile(autostartEntry());
        return;
    }
    systemctl({"disable", agentUnit});
    removeFile(unitFile());
}

} // namespace Linux
} // namespace Platform
