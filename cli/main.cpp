// dncctl: a scriptable client for the controller's file service and DNC
// runs, over UDP or a serial line.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/commands.h"
#include "cli/dnc_restart.h"
#include "cli/interrupt.h"
#include "cli/link_setup.h"
#include "platform/console.h"

int main(int argc, char **argv) {
    using namespace dncctl;
    platform::PrepareStandardStreams();
    const ParseResult parsed = ParseCommandLine(platform::CommandLineArguments(argc, argv));
    const CliOptions &o = parsed.options;
    if (o.commandHelp) {
        std::fputs(CommandUsage(o.command).c_str(), stdout);
        return kExitOk;
    }
    if (o.help && o.command.empty()) {
        std::fputs(GeneralUsage().c_str(), stdout);
        return kExitOk;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "dncctl: %s (dncctl --help lists the commands)\n", parsed.error.c_str());
        return kExitUsage;
    }
    // A restart plan shown with --show needs no controller.
    if (o.command == "dnc" && o.restart.show) return ShowRestart(o);
    const auto command = CommandTable().find(o.command);
    if (command == CommandTable().end() || !command->second.needsLink) return RunCommand(o);
    InstallInterruptHandling();
    if (const std::string error = SetUpLink(o); !error.empty()) {
        std::fprintf(stderr, "dncctl: %s\n", error.c_str());
        return kExitLocal;
    }
    const int status = RunCommand(o);
    TearDownLink();
    return status;
}
