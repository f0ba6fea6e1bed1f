// The DAP server as a client sees it without stopping: capabilities, launch errors, unknown requests,
// output events, exit, and the TCP transport.
'use strict';
const assert = require('assert');
const cp = require('child_process');
const { test } = require('node:test');
const { DebugClient } = require('@vscode/debugadapter-testsupport');
const h = require('./helpers');

test('a run without breakpoints reports its output and exit code', async () => {
    const dc = h.client();
    await dc.start();
    try {
        const exited = dc.waitForEvent('exited');
        const terminated = dc.waitForEvent('terminated');
        const { init } = await h.launch(dc, { program: h.quickScript });
        const caps = init.body;
        for (const c of ['supportsConfigurationDoneRequest', 'supportsConditionalBreakpoints',
            'supportsHitConditionalBreakpoints', 'supportsLogPoints', 'supportsEvaluateForHovers',
            'supportsTerminateRequest'])
            assert.strictEqual(caps[c], true, c);
        assert.deepStrictEqual(caps.exceptionBreakpointFilters.map(f => f.filter), ['error', 'failure']);
        assert.strictEqual((await exited).body.exitCode, 0);
        await terminated;
        // Results point at their line; the script's own output keeps its stream.
        const pass = dc.outputs.find(o => /^\s*PASS /.test(o.output));
        assert.ok(pass, dc.output());
        assert.strictEqual(pass.source.path, h.quickScript);
        assert.strictEqual(pass.line, 5);
        assert.match(dc.output('stdout'), /to stdout\n[\s\S]*PASS .*it holds\n[\s\S]*Summary: 1 passed, 0 failed\n/);
        assert.match(dc.output('stderr'), /to stderr\n/);
    } finally {
        await dc.stop();
    }
});

test('bad launches and requests get error responses, and the server goes on', async () => {
    const dc = h.client();
    await dc.start();
    try {
        await dc.initializeRequest();
        await assert.rejects(dc.customRequest('frobnicate', {}), /Unknown request 'frobnicate'/);
        await assert.rejects(dc.stackTraceRequest({ threadId: 1 }), /The script is running|pause/);
        await assert.rejects(dc.launchRequest({ program: '/no/such/test.tcl' }), /\/no\/such\/test\.tcl: no such file or directory/);
        const threads = await dc.threadsRequest();
        assert.strictEqual(threads.body.threads.length, 1);
    } finally {
        await dc.stop();
    }
    const jobs = h.client();
    await jobs.start();
    try {
        await jobs.initializeRequest();
        await assert.rejects(jobs.launchRequest({ program: h.quickScript, args: ['--jobs', '2'] }),
            /--dap debugs test cases in the runner's own process; it does not go with --jobs/);
    } finally {
        await jobs.stop();
    }
});

test('--dap-port serves one client over TCP and keeps stdout free for the terminal', async () => {
    const server = cp.spawn(process.env.TARVINRUNNER, ['--dap', '--dap-port', '0'], { env: process.env });
    let stdout = '';
    server.stdout.on('data', d => { stdout += d; });
    const port = await new Promise((resolve, reject) => {
        let err = '';
        server.stderr.on('data', d => {
            err += d;
            const m = /waiting for a debugger on 127\.0\.0\.1:(\d+)/.exec(err);
            if (m) resolve(Number(m[1]));
        });
        server.on('exit', code => reject(new Error(`runner exited with ${code}: ${err}`)));
    });
    const dc = new DebugClient('unused', 'unused', 'tarvin');
    await dc.start(port);
    try {
        const exited = dc.waitForEvent('exited', 20000);
        await h.launch(dc, { program: h.quickScript });
        assert.strictEqual((await exited).body.exitCode, 0);
        await dc.disconnectRequest({});
    } finally {
        dc.stop();
    }
    const code = await new Promise(resolve => server.on('exit', resolve));
    assert.strictEqual(code, 0);
    // Over TCP the output goes to the terminal as well as to the client.
    assert.match(stdout, /to stdout/);
});
