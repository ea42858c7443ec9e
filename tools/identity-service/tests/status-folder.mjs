// The status document follows a published release folder: releases appear in i/ as they are
// published, the highest number is current, "next" names the next one, and only a release
// older than the current one is "old".
//
//   node status-folder.mjs
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { blake3 } from '@noble/hashes/blake3.js';

const here = path.dirname(fileURLToPath(import.meta.url));
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'qm-status-'));
const cdn = path.join(work, 'cdn');
fs.mkdirSync(path.join(cdn, 'i'), { recursive: true });
let failures = 0;
const expect = (what, got, want) => {
  if (JSON.stringify(got) !== JSON.stringify(want)) {
    failures += 1;
    console.error(`status-folder: ${what}: got ${JSON.stringify(got)}, want ${JSON.stringify(want)}`);
  }
};

// An index as the service reads one: magic, the release number at byte 16, a signature.
function publish(number) {
  const bytes = Buffer.alloc(64 + 32 + 64);
  bytes.write('QMVFSIDX', 0, 'latin1');
  bytes.writeBigUInt64LE(BigInt(number), 16);
  bytes.fill(number, 64, 96);
  const identity = Buffer.from(blake3(bytes.subarray(0, bytes.length - 64))).toString('hex');
  fs.writeFileSync(path.join(cdn, 'i', `${identity}.quillmereindex`), bytes);
  return identity;
}

const openssl = spawnSync('openssl', ['req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:P-256', '-nodes',
  '-subj', '/CN=localhost', '-days', '1', '-keyout', path.join(work, 'key.pem'), '-out', path.join(work, 'cert.pem')]);
if (openssl.status !== 0) throw new Error(`openssl: ${openssl.stderr}`);
fs.writeFileSync(path.join(work, 'accounts.json'), JSON.stringify({ accounts: [] }));

const service = spawn(process.execPath, [path.join(here, '..', 'server.js'), '--accounts', path.join(work, 'accounts.json'),
  '--cert', path.join(work, 'cert.pem'), '--key', path.join(work, 'key.pem'), '--state', path.join(work, 'state'),
  '--releases', cdn], { stdio: ['ignore', 'pipe', 'inherit'] });
try {
  const port = await new Promise((resolve, reject) => {
    service.stdout.once('data', (line) => resolve(String(line).trim()));
    service.once('exit', () => reject(new Error('the service ended')));
  });
  process.env.NODE_TLS_REJECT_UNAUTHORIZED = '0';
  const status = async (release) => (await fetch(`https://127.0.0.1:${port}/v1/status?release=${release}&build=1`)).json();

  const r1 = publish(1);
  expect('one release', await status(r1), { world: 'up', release: 'current', current: r1, number: 1 });
  const r2 = publish(2);
  expect('a newer one', await status(r1), { world: 'up', release: 'old', current: r2, number: 2 });
  expect('an unknown one', await status('0'.repeat(64)), { world: 'up', current: r2, number: 2 });
  fs.writeFileSync(path.join(cdn, 'next'), `${'3'.repeat(64)}\n`);
  expect('next not published', await status(r2), { world: 'up', release: 'current', current: r2, number: 2 });
  const r3 = publish(3);
  fs.writeFileSync(path.join(cdn, 'next'), `${r3}\n`);
  expect('next published ahead', await status(r2),
         { world: 'up', release: 'current', current: r2, number: 2, next: r3, next_number: 3 });
  fs.rmSync(path.join(cdn, 'next'));
  expect('next made current', await status(r2), { world: 'up', release: 'old', current: r3, number: 3 });
} finally {
  service.kill();
  fs.rmSync(work, { recursive: true, force: true });
}
process.exit(failures === 0 ? 0 : 1);
