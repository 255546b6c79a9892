#include "cli/cli_options.h"

#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <map>

#include "cli/commands.h"
#include "link/serial_link.h"

namespace dncctl {

namespace {

std::optional<long long> Number(const std::string &text, long long low, long long high) {
    if (text.empty()) return std::nullopt;
    char *end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high) return std::nullopt;
    return value;
}

std::string ParseUdp(const std::string &value, CliOptions *options) {
    const size_t colon = value.rfind(':');
    options->udpHost = value.substr(0, colon);
    if (colon != std::string::npos) {
        const auto port = Number(value.substr(colon + 1), 1, 65535);
        if (!port) return "--udp: port must be a number from 1 to 65535 in '" + value + "'";
        options->udpPort = static_cast<uint16_t>(*port);
    }
    if (options->udpHost.empty()) return "--udp wants HOST[:PORT]";
    return "";
}

// "4" or a list "1,2,4": each ID once, 1 to 255.
std::string ParseIds(const std::string &value, CliOptions *options) {
    std::vector<uint8_t> ids;
    size_t start = 0;
    for (;;) {
        const size_t comma = value.find(',', start);
        const std::string item = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const auto n = Number(item, 1, 255);
        if (!n) return "--id must be a number from 1 to 255 or a list like 1,2,4, not '" + value + "'";
        if (std::find(ids.begin(), ids.end(), uint8_t(*n)) != ids.end()) return "--id names " + item + " twice";
        ids.push_back(static_cast<uint8_t>(*n));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    options->ids = ids;
    options->id = ids.front();
    return "";
}

}  // namespace

int BaudIndex(const std::string &rate) { return dnclink::BaudIndexOf(rate.c_str()); }

ParseResult ParseCommandLine(const std::vector<std::string> &args) {
    ParseResult result;
    CliOptions &o = result.options;
    size_t i = 0;
    auto value = [&](const std::string &option, std::string *out) -> bool {
        if (i + 1 >= args.size()) {
            result.error = option + " wants a value";
            return false;
        }
        *out = args[++i];
        return true;
    };
    bool sawBaud = false;
    for (; i < args.size() && result.error.empty(); ++i) {
        const std::string &a = args[i];
        std::string v;
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--udp") {
            if (value(a, &v)) {
                o.link = LinkChoice::kUdp;
                result.error = ParseUdp(v, &o);
            }
        } else if (a == "--serial") {
            if (value(a, &v)) {
                o.link = LinkChoice::kSerial;
                o.serialDevice = v;
                if (v.empty()) result.error = "--serial wants a device or COMn";
            }
        } else if (a == "--baud") {
            if (value(a, &v)) {
                o.baud = v;
                sawBaud = true;
            }
        } else if (a == "--id") {
            if (value(a, &v)) result.error = ParseIds(v, &o);
        } else if (a == "--timeout") {
            if (value(a, &v)) {
                const auto n = Number(v, 1, 600000);
                if (!n) result.error = "--timeout must be a number of milliseconds from 1 to 600000, not '" + v + "'";
                else o.timeoutMs = static_cast<int32_t>(*n);
            }
        } else if (a == "--retries") {
            if (value(a, &v)) {
                const auto n = Number(v, 0, 1000);
                if (!n) result.error = "--retries must be a number from 0 to 1000, not '" + v + "'";
                else o.retries = static_cast<int32_t>(*n);
            }
        } else if (a.size() > 1 && a[0] == '-') {
            result.error = "unknown option '" + a + "'";
        } else {
            break;  // the command
        }
    }
    if (!result.error.empty()) return result;
    if (sawBaud && o.link != LinkChoice::kSerial) {
        result.error = "--baud goes with --serial";
        return result;
    }
    if (BaudIndex(o.baud) < 0) {
        result.error = "--baud: " + o.baud + " is not one of the controller's rates";
        return result;
    }
    if (i >= args.size()) {
        if (!o.help) result.error = "no command given";
        return result;
    }

    o.command = args[i++];
    const auto spec = CommandTable().find(o.command);
    if (spec == CommandTable().end()) {
        result.error = "unknown command '" + o.command + "'";
        return result;
    }
    for (; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (a == "--help" || a == "-h") {
            o.commandHelp = true;
        } else if ((a == "--verify" || a == "--no-verify") && (o.command == "get" || o.command == "put" || o.command == "restore")) {
            if (o.verify && *o.verify != (a == "--verify")) {
                result.error = o.command + ": --verify and --no-verify contradict each other";
                return result;
            }
            o.verify = a == "--verify";
        } else if (a == "--force" &&
                   (o.command == "rm" || o.command == "rmdir" || o.command == "put" || o.command == "restore")) {
            o.force = true;
        } else if (a == "--dry-run" && o.command == "restore") {
            o.dryRun = true;
        } else if (o.command == "dnc" && TakeRestartOption(args, &i, &o.restart, &result.error)) {
            if (!result.error.empty()) return result;
        } else if (a.size() > 1 && a[0] == '-') {
            result.error = o.command + ": unknown option '" + a + "'";
            return result;
        } else {
            o.arguments.push_back(a);
        }
    }
    if (o.commandHelp) return result;
    if (const std::string error = CheckRestartOptions(o.restart); !error.empty()) {
        result.error = "dnc: " + error;
        return result;
    }
    if (o.ids.size() > 1 && o.command != "backup" && o.command != "diff") {
        result.error = o.command + " takes one device: --id lists several only for backup and diff";
        return result;
    }
    if (o.arguments.size() < spec->second.minArgs || o.arguments.size() > spec->second.maxArgs) {
        result.error = "usage: dncctl [options] " + std::string(spec->second.usage).substr(0, std::string(spec->second.usage).find('\n'));
    }
    return result;
}

std::string GeneralUsage() {
    std::string text =
        "usage: dncctl [--udp HOST[:PORT] | --serial DEVICE|COMn [--baud RATE]] [--id N]\n"
        "              [--timeout MS] [--retries N] COMMAND ...\n"
        "\n"
        "Link (default: UDP to 127.0.0.1:2232):\n"
        "  --udp HOST[:PORT]   the controller's IPv4 address (port 2232 unless given)\n"
        "  --serial DEVICE     a serial device path, or COMn for the n-th serial port\n"
        "  --baud RATE         serial rate from the controller's list (default 115200)\n"
        "  --id N              device ID of the controller, 1 to 255 (default 1);\n"
        "                      backup and diff take a list: --id 1,2,4\n"
        "  --timeout MS        how long a try waits for its answer (default 600 on a\n"
        "                      serial line, 100 over UDP); raise it for far controllers\n"
        "  --retries N         repeated tries of a failed request (default 5)\n"
        "\n"
        "Commands (dncctl COMMAND --help for each):\n";
    for (const auto &[name, spec] : CommandTable()) {
        text += "  " + std::string(spec.usage).substr(0, std::string(spec.usage).find('\n')) + "\n";
    }
    text +=
        "\n"
        "Remote paths may be written with '\\' or '/'. Exit status 0 on success; 1 when\n"
        "the controller or the link reports an error (its text on stderr); 2 for a bad\n"
        "command line or a refused system name; 3 for a local file or port error\n"
        "(a file that is not a regular file, a link in a backup); 4 when put --verify or\n"
        "restore --verify finds a difference, or diff finds local and remote differ; 5\n"
        "when the controller reports an abnormal state during a DNC run; 130 when\n"
        "interrupted. backup, restore and diff go on after a file fails and end with\n"
        "the most serious status met.\n";
    return text;
}

std::string CommandUsage(const std::string &command) {
    const auto spec = CommandTable().find(command);
    if (spec == CommandTable().end()) return "";
    return "usage: dncctl [options] " + std::string(spec->second.usage);
}

}  // namespace dncctl
