'use strict';
// Converts in the background, so that the page never freezes: one fresh
// module per conversion (the program keeps process-wide state), the files
// in its memory, the console text and the written files sent back.
importScripts('torsel.js', 'playback_eval.js');

// Runs a module's main on files in /work; returns its status, console bytes and files written.
async function run(create, args, files, env) {
  const out = [];
  const m = await create({
    preRun: [(mod) => { Object.assign(mod.ENV || {}, env); mod.FS.init(() => null, (c) => out.push(c), (c) => out.push(c)); }],
  });
  m.FS.mkdir('/work');
  m.FS.chdir('/work');
  for (const f of files) m.FS.writeFile(f.name, f.bytes);
  const status = m.callMain(args);
  const written = m.FS.readdir('/work').filter((n) => n !== '.' && n !== '..' && !files.some((f) => f.name === n))
    .map((n) => ({ name: n, bytes: m.FS.readFile(n) }));
  return { status, console: new Uint8Array(out), written };
}

// The wrists' deviation at every frame (the larger side), as playback_eval prints it.
async function wrist(input, output) {
  const r = await run(createEval, ['in.vmd', 'out.vmd', 'frames'], [{ name: 'in.vmd', bytes: input }, { name: 'out.vmd', bytes: output }], {});
  return new TextDecoder().decode(r.console).split('\n').map((l) => l.split(' ').map(Number))
    .filter((v) => v.length === 3).map(([, left, right]) => Math.max(left, right));
}

onmessage = async ({ data }) => {
  const { motions, model, options, japanese } = data;
  const env = { LC_ALL: japanese ? 'ja_JP.SJIS' : 'C' };
  for (const [i, motion] of motions.entries()) {
    const files = model ? [motion, model] : [motion];
    const args = ['-ND', ...options, ...(model ? [model.name] : []), motion.name];
    const result = await run(createTorsel, args, files, env);
    const converted = result.written.find((f) => f.name.endsWith('-cnv.vmd'));
    let chart = null;
    if (converted && options.some((o) => /^-K[1-9]/.test(o)) && !options.includes('-U')) {
      const plain = await run(createTorsel, args.filter((o) => !o.startsWith('-K')), files, env);
      chart = { before: await wrist(motion.bytes, plain.written[0].bytes), after: await wrist(motion.bytes, converted.bytes) };
    }
    postMessage({ index: i, name: motion.name, status: result.status, console: result.console, output: converted, chart });
  }
  postMessage({ done: true });
};
