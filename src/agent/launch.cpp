// tarvinlaunch: starts an application under test with the agent inside, outside the runner, so that a
// runner can attach to it (attachToApplication) or wait for it (waitForApplicationLaunch).
#include "protocol.h"

#include <QByteArray>
#include <QFileInfo>
#include <QString>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

namespace {

const char usage[] =
    "Usage: tarvinlaunch [--listen [HOST:]PORT] [--] PROGRAM [ARGUMENT...]\n"
    "\n"
    "Runs PROGRAM, a Qt 5 application, with the agent that lets tarvinrunner drive it. The program runs\n"
    "as it would on its own; its agent waits for a runner:\n"
    "\n"
    "  without --listen   on a local socket in this user's private agent directory\n"
    "                     ($TARVIN_AGENT_DIR, else $XDG_RUNTIME_DIR/tarvin-agents, else\n"
    "                     /tmp/tarvin-agents-UID, mode 0700). A test script reaches it with\n"
    "                     attachToApplication PID (or the program's name) or waitForApplicationLaunch.\n"
    "  --listen PORT      on TCP, on the loopback address unless HOST is given. The runner must present\n"
    "                     the secret in TARVIN_AGENT_SECRET, which both sides need set to the same text;\n"
    "                     a test script reaches it with attachToApplication NAME HOST PORT.\n"
    "\n"
    "Environment:\n"
    "  TARVIN_AGENT_LIBRARY  the agent library (default: ../lib/libtarvinagent.so beside this program)\n"
    "  TARVIN_AGENT_SECRET   the secret of --listen\n"
    "  QT_QPA_PLATFORM       offscreen for a program without a display\n";

} // namespace

int main(int argc, char** argv)
{
    QByteArray listen = "local";
    int i = 1;
    for (; i < argc; ++i) {
        const QByteArray arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            fputs(usage, stdout);
            return 0;
        }
        if (arg == "--listen" && i + 1 < argc) {
            listen = argv[++i];
        } else if (arg == "--") {
            ++i;
            break;
        } else if (arg.startsWith('-')) {
            fprintf(stderr, "tarvinlaunch: unknown option %s\n\n%s", arg.constData(), usage);
            return 2;
        } else {
            break;
        }
    }
    if (i >= argc) {
        fputs(usage, stderr);
        return 2;
    }
    if (listen != "local" && qgetenv(AgentProtocol::secretVariable).isEmpty()) {
        fprintf(stderr, "tarvinlaunch: --listen %s needs the secret in %s\n", listen.constData(),
                AgentProtocol::secretVariable);
        return 2;
    }
    QByteArray library = qgetenv("TARVIN_AGENT_LIBRARY");
    if (library.isEmpty()) {
        char self[4096];
        const ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
        if (n > 0) {
            self[n] = 0;
            library = QFileInfo(QString::fromLocal8Bit(self)).absolutePath().toLocal8Bit() + "/../lib/libtarvinagent.so";
        }
    }
    if (access(library.constData(), R_OK) != 0) {
        fprintf(stderr, "tarvinlaunch: cannot read the agent library %s\n", library.constData());
        return 2;
    }
    const QByteArray preload = qgetenv("LD_PRELOAD");
    setenv("LD_PRELOAD", (preload.isEmpty() ? library : library + ':' + preload).constData(), 1);
    setenv(AgentProtocol::listenVariable, listen.constData(), 1);
    execvp(argv[i], argv + i);
    fprintf(stderr, "tarvinlaunch: cannot run %s: %s\n", argv[i], strerror(errno));
    return 127;
}
