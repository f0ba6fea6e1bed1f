// Debugging a test case that drives a real application: breakpoints (plain, conditional, hit count, log
// point), stepping across procedures, frames, variables (lists, arrays, an application object's
// properties), evaluation in a frame, stops on errors, pausing a running loop, terminating.
'use strict';
const assert = require('assert');
const { test } = require('node:test');
const h = require('./helpers');

const script = h.debugScript;

async function withClient(body) {
    const dc = h.client();
    await dc.start();
    try {
        await body(dc);
    } finally {
        await dc.stop();
    }
}

async function evaluate(dc, expression, frameId, context = 'repl') {
    return (await dc.evaluateRequest({ expression, frameId, context })).body;
}

test('breakpoints stop with frames, variables and evaluation in any frame', { timeout: 90000 }, () => withClient(async dc => {
    const exited = dc.waitForEvent('exited', 60000);
    const first = h.stoppedAt(dc, 'breakpoint');
    const { set } = await h.launch(dc, { program: script },
        { [script]: [22, { line: 11, condition: '$i == 3' }, 26] });
    assert.deepStrictEqual(set[script].map(b => b.line), [22, 11, 26]);

    let stop = await first;
    assert.strictEqual(stop.top.line, 22);
    assert.strictEqual(stop.top.source.path, script);
    assert.match(stop.top.name, /main/);
    const locals = await h.scopeVariables(dc, stop.top.id, 'Locals');
    assert.strictEqual(locals.rows.value, '1');
    assert.ok(locals.people.variablesReference > 0, 'a list opens');
    // Beside the name an editor shows what a list or an array holds.
    assert.strictEqual(locals.people.value, 'list (3) {Ada Grace Linus}');
    assert.match(locals.ages.value, /^array \(2\) \{(Ada 36 Grace 85|Grace 85 Ada 36)\}$/); // in Tcl's order
    // Members are named within their variable: an element by its index, an array element by its key.
    const people = await h.variablesOf(dc, locals.people.variablesReference);
    assert.deepStrictEqual(Object.keys(people), ['0', '1', '2']);
    assert.deepStrictEqual(Object.values(people).map(v => v.value), ['Ada', 'Grace', 'Linus']);
    assert.ok(locals.ages.variablesReference > 0, 'an array opens');
    const ages = await h.variablesOf(dc, locals.ages.variablesReference);
    assert.strictEqual(ages.Ada.value, '36');
    assert.strictEqual(ages.Grace.value, '85');
    assert.strictEqual((await evaluate(dc, 'llength $people', stop.top.id)).result, '3');
    assert.strictEqual((await evaluate(dc, '$rows', stop.top.id, 'hover')).result, '1');
    assert.strictEqual((await evaluate(dc, 'rows', stop.top.id, 'watch')).result, '1');
    await assert.rejects(evaluate(dc, 'set nothing', stop.top.id), /nothing/);
    // A variable takes a new value, the text as it stands: in a scope, an element of a list by its
    // index, of an array by its key.
    const scope = (await dc.scopesRequest({ frameId: stop.top.id })).body.scopes.find(s => s.name === 'Locals');
    const assign = (reference, name, value) =>
        dc.setVariableRequest({ variablesReference: reference, name, value }).then(r => r.body.value);
    assert.strictEqual(await assign(scope.variablesReference, 'note', '[not run] {'), '[not run] {');
    assert.strictEqual(await assign(locals.people.variablesReference, '1', 'Grace Hopper'), 'Grace Hopper');
    assert.strictEqual(await assign(locals.ages.variablesReference, 'Ada', '37'), '37');
    assert.strictEqual((await evaluate(dc, 'set note', stop.top.id)).result, '[not run] {');
    assert.strictEqual((await evaluate(dc, 'list [lindex $people 1] $ages(Ada)', stop.top.id)).result,
        '{Grace Hopper} 37');

    // The condition holds on the third round only; the caller's frame has the caller's variables.
    stop = await h.resume(dc, 'continue', 'breakpoint');
    assert.strictEqual(stop.top.line, 11);
    assert.match(stop.top.name, /countTo/);
    assert.strictEqual((await evaluate(dc, 'set i', stop.top.id)).result, '3');
    assert.strictEqual((await evaluate(dc, 'set total', stop.top.id)).result, '3');
    const caller = stop.frames[1];
    assert.strictEqual(caller.line, 23);
    assert.strictEqual((await evaluate(dc, 'set rows', caller.id)).result, '1');
    await assert.rejects(evaluate(dc, 'set rows', stop.top.id), /rows/);

    // An object of the application opens into its properties.
    stop = await h.resume(dc, 'continue', 'breakpoint');
    assert.strictEqual(stop.top.line, 26);
    const edit = (await h.scopeVariables(dc, stop.top.id, 'Locals')).edit;
    assert.ok(edit && edit.variablesReference > 0, `edit opens: ${JSON.stringify(edit)}`);
    const properties = await h.variablesOf(dc, edit.variablesReference);
    assert.strictEqual(properties.objectName.value, 'lineEdit');
    assert.ok(properties.geometry.variablesReference > 0, 'a property that is an object opens too');
    const geometry = await h.variablesOf(dc, properties.geometry.variablesReference);
    assert.ok('width' in geometry, Object.keys(geometry).join(' '));

    await dc.continueRequest({ threadId: 1 });
    assert.strictEqual((await exited).body.exitCode, 0);
    assert.match(dc.output('stdout'), /sum is 15\n/);
    const pass = dc.outputs.find(o => /PASS .*:22: /.test(o.output));
    assert.ok(pass && pass.line === 22 && pass.source.path === script, dc.output());
}));

test('a hit count stops at the Nth hit and a log point logs without stopping', { timeout: 90000 }, () => withClient(async dc => {
    const exited = dc.waitForEvent('exited', 60000);
    const first = h.stoppedAt(dc, 'breakpoint');
    await h.launch(dc, { program: script },
        { [script]: [{ line: 11, hitCondition: '4' }, { line: 13, logMessage: 'total is {$total}' }] });
    const stop = await first;
    assert.strictEqual(stop.top.line, 11);
    assert.strictEqual((await evaluate(dc, 'set i', stop.top.id)).result, '4');
    await dc.continueRequest({ threadId: 1 });
    assert.strictEqual((await exited).body.exitCode, 0);
    assert.match(dc.output(), /total is 15\n/);
}));

test('stepping in, over and out across procedures', { timeout: 90000 }, () => withClient(async dc => {
    const exited = dc.waitForEvent('exited', 60000);
    const first = h.stoppedAt(dc, 'entry');
    await h.launch(dc, { program: script, stopOnEntry: true });
    let stop = await first;
    assert.strictEqual(stop.top.source.path, script);
    // Breakpoints set while stopped count from the next step on.
    await dc.setBreakpointsRequest({ source: { path: script }, breakpoints: [{ line: 21 }] });
    stop = await h.resume(dc, 'continue', 'breakpoint');
    assert.strictEqual(stop.top.line, 21);

    stop = await h.resume(dc, 'stepIn', 'step');
    assert.match(stop.top.name, /addPerson/);
    assert.strictEqual(stop.frames.length, 2);
    // Stepping in shows the procedure's header first, then its first line.
    assert.ok([2, 3].includes(stop.top.line), `stepped in at line ${stop.top.line}`);
    if (stop.top.line === 2) {
        stop = await h.resume(dc, 'next', 'step');
    }
    assert.strictEqual(stop.top.line, 3);
    stop = await h.resume(dc, 'next', 'step');
    assert.strictEqual(stop.top.line, 4);
    stop = await h.resume(dc, 'stepOut', 'step');
    assert.match(stop.top.name, /main/);
    assert.ok([21, 22].includes(stop.top.line), `after stepping out: line ${stop.top.line}`);
    if (stop.top.line === 21) {
        stop = await h.resume(dc, 'next', 'step');
    }
    assert.strictEqual(stop.top.line, 22);
    stop = await h.resume(dc, 'next', 'step');
    assert.strictEqual(stop.top.line, 23);
    // Over countTo: the next stop is in main again.
    stop = await h.resume(dc, 'next', 'step');
    assert.strictEqual(stop.top.line, 24);
    assert.match(stop.top.name, /main/);
    await dc.continueRequest({ threadId: 1 });
    assert.strictEqual((await exited).body.exitCode, 0);
}));

test('an uncaught error stops where it was raised, with that frame\'s variables', { timeout: 90000 }, () => withClient(async dc => {
    const exited = dc.waitForEvent('exited', 60000);
    const first = h.stoppedAt(dc, 'exception');
    await h.launch(dc, { program: h.errorScript }, {}, ['error']);
    const stop = await first;
    assert.match(stop.event.body.text, /divide by zero/);
    assert.strictEqual(stop.top.line, 3);
    assert.strictEqual(stop.top.source.path, h.errorScript);
    const locals = await h.scopeVariables(dc, stop.top.id, 'Locals');
    assert.strictEqual(locals.a.value, '6');
    assert.strictEqual(locals.b.value, '0');
    const info = await dc.exceptionInfoRequest({ threadId: 1 });
    assert.match(info.body.description, /divide by zero/);
    await dc.continueRequest({ threadId: 1 });
    assert.strictEqual((await exited).body.exitCode, 1);
    const error = dc.outputs.find(o => /^\s*ERROR /.test(o.output));
    assert.ok(error && error.source.path === h.errorScript && error.line === 3, dc.output());
}));

test('"failure" stops at a failed verification; a caught error stops nowhere', { timeout: 90000 }, () => withClient(async dc => {
    const exited = dc.waitForEvent('exited', 60000);
    const first = h.stoppedAt(dc, 'exception');
    await h.launch(dc, { program: h.failingScript }, {}, ['error', 'failure']);
    const stop = await first;
    assert.match(stop.event.body.text, /arithmetic/);
    assert.strictEqual(stop.top.line, 4);
    await dc.continueRequest({ threadId: 1 });
    assert.strictEqual((await exited).body.exitCode, 1);
    assert.match(dc.output(), /after the failure/);
}));

test('a running loop takes breakpoints, pauses and ends on terminate', { timeout: 90000 }, () => withClient(async dc => {
    const loop = h.loopScript;
    const terminated = dc.waitForEvent('terminated', 60000);
    await h.launch(dc, { program: loop });
    await new Promise(resolve => setTimeout(resolve, 300));
    // Answered while the script runs, and in effect at once.
    const started = Date.now();
    const hit = h.stoppedAt(dc, 'breakpoint');
    const set = await dc.setBreakpointsRequest({ source: { path: loop }, breakpoints: [{ line: 5 }] });
    assert.ok(Date.now() - started < 2000, 'setBreakpoints answered promptly');
    assert.strictEqual(set.body.breakpoints[0].verified, true);
    let stop = await hit;
    assert.strictEqual(stop.top.line, 5);
    assert.ok(Number((await evaluate(dc, 'set n', stop.top.id)).result) > 0);

    await dc.setBreakpointsRequest({ source: { path: loop }, breakpoints: [] });
    await dc.continueRequest({ threadId: 1 });
    await new Promise(resolve => setTimeout(resolve, 200));
    await assert.rejects(evaluate(dc, 'set n', 1), /stopped script|pause/);
    const paused = h.stoppedAt(dc, 'pause');
    await dc.pauseRequest({ threadId: 1 });
    stop = await paused;
    assert.match(stop.top.name, /main/);
    assert.ok([4, 5, 6].includes(stop.top.line), `paused at line ${stop.top.line}`);

    await dc.terminateRequest({});
    await terminated;
}));
