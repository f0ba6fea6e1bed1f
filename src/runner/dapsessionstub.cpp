// Until the debugging engine lands on this branch: a session that never stops, so that the DAP server's
// protocol, launch and output can be built and tried. Not built once debugsession.cpp exists.
#include "dapserver.h"
#include "testrunner.h"

struct DebugSession::Private {
    QList<DebugBreakpoint> breakpoints;
    int lastId = 0;
    bool terminated = false;
};

DebugSession::DebugSession(DebugFrontend*) : d(new Private) {}
DebugSession::~DebugSession() { delete d; }
void DebugSession::setStopOnEntry(bool) {}
void DebugSession::setStopOnError(bool, bool) {}
QList<DebugBreakpoint> DebugSession::setBreakpoints(const QString& file, const QList<DebugBreakpoint>& wanted)
{
    QList<DebugBreakpoint> set;
    for (DebugBreakpoint b : wanted) {
        b.id = ++d->lastId;
        b.file = file;
        set << b;
    }
    return set;
}
QList<DebugBreakpoint> DebugSession::breakpoints() const { return d->breakpoints; }
DebugBreakpoint DebugSession::addBreakpoint(const DebugBreakpoint& b) { return b; }
bool DebugSession::removeBreakpoint(int) { return false; }
void DebugSession::resume() {}
void DebugSession::stepOver() {}
void DebugSession::stepInto() {}
void DebugSession::stepOut() {}
void DebugSession::terminate() { d->terminated = true; TestRunner::requestInterrupt(); }
bool DebugSession::terminateRequested() const { return d->terminated; }
void DebugSession::requestPause() {}
QList<DebugStackFrame> DebugSession::stackTrace() const { return {}; }
QList<DebugScope> DebugSession::scopes(int) { return {}; }
QList<DebugVariable> DebugSession::variables(int) { return {}; }
DebugEvaluation DebugSession::evaluate(const QString&, int) { return {}; }
void DebugSession::stopped(Debugger*) {}

void attachDebugSession(TestRunner&, DebugSession*) {}
