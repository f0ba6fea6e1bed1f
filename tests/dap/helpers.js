// Shared by the DAP client tests: a DebugClient on a fresh `tarvinrunner --dap`, and small waits.
'use strict';
const path = require('path');
const { DebugClient } = require('@vscode/debugadapter-testsupport');

const runner = process.env.TARVINRUNNER;
const here = __dirname;

function client(extraArgs = []) {
    // DebugClient spawns RUNTIME EXECUTABLE: the runner with --dap.
    const dc = new DebugClient(runner, '--dap', 'tarvin', { env: process.env, cwd: here }, true);
    dc.defaultTimeout = 20000;
    const outputs = [];
    dc.on('output', event => outputs.push(event.body));
    dc.outputs = outputs;
    dc.output = category => outputs.filter(o => !category || o.category === category).map(o => o.output).join('');
    return dc;
}

// initialize, launch and configurationDone with breakpoints set in between.
async function launch(dc, launchArgs, breakpoints = {}, exceptionFilters = ['error']) {
    const initialized = dc.waitForEvent('initialized');
    const init = await dc.initializeRequest();
    await initialized;
    const set = {};
    for (const [file, lines] of Object.entries(breakpoints)) {
        const response = await dc.setBreakpointsRequest({
            source: { path: file },
            breakpoints: lines.map(l => (typeof l === 'number' ? { line: l } : l)),
        });
        set[file] = response.body.breakpoints;
    }
    await dc.setExceptionBreakpointsRequest({ filters: exceptionFilters });
    await dc.launchRequest(launchArgs);
    await dc.configurationDoneRequest();
    return { init, set };
}

// Waits for the next stop and reads its frames. Call it before the request that leads to the stop: the
// event may arrive in the same read as the request's response, before an await after it returns.
async function stoppedAt(dc, reason) {
    const event = await dc.waitForEvent('stopped');
    if (reason && event.body.reason !== reason)
        throw new Error(`stopped for ${event.body.reason} (${event.body.text || ''}), not ${reason}`);
    const trace = await dc.stackTraceRequest({ threadId: event.body.threadId });
    return { event, frames: trace.body.stackFrames, top: trace.body.stackFrames[0] };
}

// Sends continue, next, stepIn or stepOut and waits for the stop it leads to.
async function resume(dc, command, reason) {
    const stopped = stoppedAt(dc, reason);
    await dc[`${command}Request`]({ threadId: 1 });
    return stopped;
}

async function variablesOf(dc, reference) {
    const response = await dc.variablesRequest({ variablesReference: reference });
    const byName = {};
    for (const v of response.body.variables)
        byName[v.name] = v;
    return byName;
}

async function scopeVariables(dc, frameId, scopeName) {
    const scopes = (await dc.scopesRequest({ frameId })).body.scopes;
    const scope = scopes.find(s => s.name === scopeName);
    if (!scope)
        throw new Error(`no scope ${scopeName} among ${scopes.map(s => s.name).join(', ')}`);
    return variablesOf(dc, scope.variablesReference);
}

module.exports = {
    client, launch, stoppedAt, resume, variablesOf, scopeVariables,
    debugScript: path.join(here, 'suite', 'tst_debug', 'test.tcl'),
    errorScript: path.join(here, 'suite', 'tst_error', 'test.tcl'),
    loopScript: path.join(here, 'scripts', 'loop.tcl'),
    quickScript: path.join(here, 'scripts', 'quick.tcl'),
    failingScript: path.join(here, 'scripts', 'failing.tcl'),
    suite: path.join(here, 'suite'),
};
