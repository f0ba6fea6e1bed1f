// The DAP server as a client sees it without stopping: capabilities, launch errors, unknown requests,
// output events, exit, and the TCP transport.
'use strict';
const assert = require('assert');
const cp = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { test } = require('node:test');
const { DebugClient } = require('@vscode/debugadapter-testsupport');
const h = require('./helpers');

test('a run without breakpoints reports its output and exit code', { timeout: 90000 }, async () => {
    const dc = h.client();
    await dc.start();
    try {
        const exited = dc.waitForEvent('exited');
        const terminated = dc.waitForEvent('terminated');
        // Reports asked for in args are written as in a normal run, relative to cwd.
        const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'dap-'));
        const { init } = await h.launch(dc, { program: h.quickScript, cwd: dir, args: ['--junit', 'report.xml'] });
        const caps = init.body;
        for (const c of ['supportsConfigurationDoneRequest', 'supportsConditionalBreakpoints',
            'supportsHitConditionalBreakpoints', 'supportsLogPoints', 'supportsEvaluateForHovers',
            'supportsTerminateRequest', 'supportsSetVariable'])
            assert.strictEqual(caps[c], true, c);
        assert.deepStrictEqual(caps.exceptionBreakpointFilters.map(f => f.filter), ['error', 'failure']);
        assert.strictEqual((await exited).body.exitCode, 0);
        await terminated;
        // Results point at their line; the script's own output keeps its stream.
        const pass = dc.outputs.find(o => /^\s*PASS /.test(o.output));
        assert.ok(pass, dc.output());
        assert.strictEqual(pass.source.path, h.quickScript);
        assert.strictEqual(pass.line, 5);
        assert.match(dc.output('stdout'),
            /to stdout\n[\s\S]*PASS .*it holds\n[\s\S]*from a child\n[\s\S]*Summary: 1 passed, 0 failed\n/);
        assert.match(dc.output('stderr'), /to stderr\n/);
        assert.match(fs.readFileSync(path.join(dir, 'report.xml'), 'utf8'), /<testcase [^>]*name="quick"/);
        fs.rmSync(dir, { recursive: true });
    } finally {
        await dc.stop();
    }
});

// Frames the messages by hand: the bytes between them are what a broken client might send.
function frame(object) {
    const body = Buffer.from(JSON.stringify(object));
    return Buffer.concat([Buffer.from(`Content-Length: ${body.length}\r\n\r\n`), body]);
}

test('malformed input is reported and skipped; the server answers what follows and ends on EOF', { timeout: 90000 }, async () => {
    const server = cp.spawn(process.env.TARVINRUNNER, ['--dap'], { env: process.env });
    let received = '';
    server.stdout.on('data', d => { received += d; });
    server.stdin.write('garbage without a header\r\n');
    server.stdin.write('Content-Length: many\r\n\r\n');
    server.stdin.write('Content-Length: 5\r\n\r\n{"a":');
    server.stdin.write(frame([1, 2, 3]));
    server.stdin.write(frame({ seq: 1, type: 'request' }));
    server.stdin.write(frame({ type: 'event', event: 'whatever' }));
    server.stdin.write(frame({ seq: 2, type: 'request', command: 'initialize', arguments: {} }));
    const exit = new Promise(resolve => server.on('exit', resolve));
    server.stdin.end(); // the client went away before launching: the server ends
    const code = await exit;
    assert.strictEqual(code, 0);
    // Every message the server wrote is well framed.
    const messages = [];
    let rest = received;
    while (rest.length) {
        const m = /^Content-Length: (\d+)\r\n\r\n/.exec(rest);
        assert.ok(m, `unframed output: ${rest.slice(0, 80)}`);
        const start = m[0].length, body = Buffer.from(rest.slice(start)).subarray(0, Number(m[1])).toString();
        messages.push(JSON.parse(body));
        rest = rest.slice(start + body.length);
    }
    const console = messages.filter(m => m.event === 'output').map(m => m.body.output).join('');
    assert.match(console, /bytes that are no message were skipped/);
    assert.match(console, /Content-Length 'many' was skipped/);
    assert.match(console, /not a JSON object was skipped/);
    const noCommand = messages.find(m => m.type === 'response' && m.request_seq === 1);
    assert.strictEqual(noCommand.success, false);
    assert.match(noCommand.message, /names no command/);
    const init = messages.find(m => m.type === 'response' && m.command === 'initialize');
    assert.strictEqual(init.success, true);
});

test('bad launches and requests get error responses, and the server goes on', { timeout: 90000 }, async () => {
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

test('--dap-port serves one client over TCP and keeps stdout free for the terminal', { timeout: 90000 }, async () => {
    const server = cp.spawn(process.env.TARVINRUNNER, ['--dap', '--dap-port', '0'], { env: process.env });
    const exit = new Promise(resolve => server.on('exit', resolve));
    try {
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
        assert.strictEqual(await exit, 0);
        // Over TCP the output goes to the terminal as well as to the client.
        assert.match(stdout, /to stdout/);
    } finally {
        if (server.exitCode === null && server.signalCode === null)
            server.kill();
    }
});
