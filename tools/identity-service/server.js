// The reference identity service: OPAQUE sign-in, rotating refresh tokens, one-time codes and
// the status document, over HTTPS on loopback, with switches that tests flip to make it
// misbehave on purpose.
//
//   node server.js --accounts accounts.json [--cert localhost.pem --key localhost.key]
//                  [--state DIR] [--port N] [--port-file FILE]
//
// When ready it prints the port it listens on (a free one unless --port) as one line on
// standard output, and writes it to --port-file if given.
//
// Test switches: POST /control/switches with a JSON object replaces them all
// (GET /control/switches reads them; GET /control/requests returns what was received, POST
// empties the list; GET /control/count?path=P counts the requests to P; GET /control/last?path=P
// returns the raw body of the last one):
//   work:    { bits, times }   demand a proof of work `times` times per sign-in (fresh nonce each)
//   limited: seconds           429 {"error":"limited","retry":seconds}
//   fail:    { status, error?, until?, body? }  answer this instead ("body": raw text, may be "")
//   drop:    true              close the connection without an answer
//   slow:    milliseconds      wait before answering
//   suite:   number            the suite the first step announces (default 1)
//   paths:   [ "/v1/..." ]     limit limited/fail/drop/slow to these paths (default: every /v1/ path)
//   status:  { world, current, number, next, next_number }  overrides of the status document
import fs from 'node:fs';
import https from 'node:https';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { createHash, randomBytes as nodeRandomBytes } from 'node:crypto';

import { argon2Ksf, equalBytes, fakeRecord, register, respond, selfTest } from './opaque.js';

const here = path.dirname(fileURLToPath(import.meta.url));

// --- options -----------------------------------------------------------------------------
function parseArgs(argv) {
  const uid = typeof process.getuid === 'function' ? process.getuid() : 0;
  const ca = `/tmp/quillmere-wine-${uid}/ca`;
  const options = {
    accounts: path.join(here, 'accounts.example.json'),
    cert: `${ca}/localhost.pem`,
    key: `${ca}/localhost.key`,
    state: path.join(os.tmpdir(), `quillmere-identity-${uid}`),
    port: 0,
    portFile: null,
  };
  for (let i = 0; i < argv.length; i += 2) {
    const name = argv[i].replace(/^--/, '').replace(/-(\w)/g, (_, c) => c.toUpperCase());
    if (!(name in options) || argv[i + 1] === undefined) throw new Error(`unknown option ${argv[i]}`);
    options[name] = name === 'port' ? Number(argv[i + 1]) : argv[i + 1];
  }
  return options;
}

const b64u = (bytes) => Buffer.from(bytes).toString('base64url');
function fromB64u(text, length) {
  if (typeof text !== 'string' || !/^[A-Za-z0-9_-]*$/.test(text)) return null;
  const bytes = new Uint8Array(Buffer.from(text, 'base64url'));
  if (b64u(bytes) !== text) return null; // one encoding per byte string, as the client's decoder
  return length === undefined || bytes.length === length ? bytes : null;
}
const loginRule = /^[0-9A-Za-z]{2,30}$/;
const sha256 = (bytes) => createHash('sha256').update(bytes).digest();

function leadingZeroBits(hash) {
  let bits = 0;
  for (const byte of hash) {
    if (byte === 0) { bits += 8; continue; }
    return bits + Math.clz32(byte) - 24;
  }
  return bits;
}

// --- keys and accounts -------------------------------------------------------------------
function loadKeys(stateDir) {
  fs.mkdirSync(stateDir, { recursive: true });
  const file = path.join(stateDir, 'keys.json');
  if (fs.existsSync(file)) {
    const k = JSON.parse(fs.readFileSync(file, 'utf8'));
    return { seed: Buffer.from(k.seed, 'hex'), oprfSeed: Buffer.from(k.oprfSeed, 'hex') };
  }
  const keys = { seed: nodeRandomBytes(32), oprfSeed: nodeRandomBytes(64) };
  fs.writeFileSync(file, JSON.stringify({ seed: keys.seed.toString('hex'), oprfSeed: keys.oprfSeed.toString('hex') }),
                   { mode: 0o600 });
  return keys;
}

// Registration costs one Argon2id run per account, so records are cached by server key, login
// and password.
async function registerAccounts(list, server, stateDir) {
  const cacheFile = path.join(stateDir, 'records.json');
  const cache = fs.existsSync(cacheFile) ? JSON.parse(fs.readFileSync(cacheFile, 'utf8')) : {};
  const accounts = new Map();
  let changed = false;
  for (const a of list) {
    if (!loginRule.test(a.login)) throw new Error(`account login "${a.login}" breaks the login rule`);
    const id = a.login.toLowerCase();
    const key = createHash('sha256').update(JSON.stringify([b64u(server.publicKey), id, a.password])).digest('hex');
    if (!cache[key]) {
      const { record } = await register({ password: Buffer.from(a.password, 'utf8'), credentialId: Buffer.from(id),
                                          serverPublicKey: server.publicKey, oprfSeed: server.oprfSeed,
                                          ksf: argon2Ksf });
      cache[key] = b64u(record);
      changed = true;
    }
    accounts.set(id, { login: a.login, state: a.state ?? 'active', until: a.until ?? '', record: fromB64u(cache[key]) });
  }
  if (changed) fs.writeFileSync(cacheFile, JSON.stringify(cache));
  return accounts;
}

// --- the service -------------------------------------------------------------------------
class Service {
  constructor(server, accounts, status) {
    this.server = server;
    this.accounts = accounts;
    this.status = status;
    this.switches = {};
    this.pending = new Map(); // state text -> sign-in waiting for its second step
    this.refresh = new Map(); // token -> login id
    this.codes = new Map();   // one-time code -> login id
    this.work = new Map();    // login id -> { demands, nonce }
    this.requests = [];
    this.fakeKeys = new Map(); // unknown login id -> fake record, stable per id
  }

  issue(map, value) {
    const token = b64u(nodeRandomBytes(32));
    map.set(token, value);
    return token;
  }

  accountAnswer(account) {
    if (account.state === 'banned') return [403, { error: 'banned', until: account.until }];
    if (account.state === 'closed') return [403, { error: 'closed' }];
    if (account.state === 'unconfirmed') return [403, { error: 'unconfirmed' }];
    return null;
  }

  loginStart(body) {
    if (typeof body.login !== 'string' || !loginRule.test(body.login)) return [400, { error: 'login' }];
    const id = body.login.toLowerCase();
    const ke1 = fromB64u(body.ke1, 96);
    const release = fromB64u(body.release, 32);
    const session = fromB64u(body.session, 32);
    const purpose = body.purpose;
    if (!ke1 || !release || !session || !Number.isInteger(purpose) || purpose < 1 || purpose > 4) {
      return [400, { error: 'request' }];
    }

    const work = this.switches.work;
    if (work && work.times > 0) {
      const w = this.work.get(id) ?? { demands: 0, nonce: null };
      const pow = body.pow;
      const paid = pow && w.nonce && pow.nonce === b64u(w.nonce) && (() => {
        const counter = fromB64u(pow.solution, 8);
        return counter && leadingZeroBits(sha256(Buffer.concat([w.nonce, counter]))) >= (work.bits ?? 0);
      })();
      if (pow && !paid) {
        this.work.delete(id);
        return [400, { error: 'work' }];
      }
      if (w.demands < work.times) {
        w.demands += 1;
        w.nonce = nodeRandomBytes(16);
        this.work.set(id, w);
        const answer = { error: 'work', nonce: b64u(w.nonce) };
        if (work.bits !== undefined) answer.bits = work.bits;
        return [429, answer];
      }
      this.work.delete(id);
    }

    const account = this.accounts.get(id);
    let record = account?.record;
    if (!record) {
      if (!this.fakeKeys.has(id)) this.fakeKeys.set(id, fakeRecord());
      record = this.fakeKeys.get(id);
    }
    const context = Buffer.concat([Buffer.from('quillmere/identity/1'), Buffer.from([purpose]), release, session]);
    let answer;
    try {
      answer = respond({ ke1, record, credentialId: Buffer.from(id), serverPrivateKey: this.server.privateKey,
                         serverPublicKey: this.server.publicKey, oprfSeed: this.server.oprfSeed, context });
    } catch {
      return [400, { error: 'ke1' }];
    }
    const state = this.issue(this.pending, { id, known: !!account, mac: answer.expectedClientMac,
                                             expires: Date.now() + 60_000 });
    return [200, { ke2: b64u(answer.ke2), state, suite: this.switches.suite ?? 1 }];
  }

  loginFinish(body) {
    const pending = this.pending.get(body.state);
    this.pending.delete(body.state);
    const ke3 = fromB64u(body.ke3, 64);
    if (!pending || pending.expires < Date.now() || typeof body.login !== 'string' ||
        body.login.toLowerCase() !== pending.id || !ke3 || !pending.known || !equalBytes(ke3, pending.mac)) {
      return [401, { error: 'unauthorised' }];
    }
    const account = this.accounts.get(pending.id);
    const refused = this.accountAnswer(account);
    if (refused) return refused;
    return [200, { refresh: this.issue(this.refresh, pending.id), login: account.login }];
  }

  // Takes the refresh token out (it is used once) and returns the account, or an answer.
  spend(body) {
    const id = typeof body.refresh === 'string' ? this.refresh.get(body.refresh) : undefined;
    if (id === undefined) return { answer: [401, { error: 'unauthorised' }] };
    this.refresh.delete(body.refresh);
    const account = this.accounts.get(id);
    const refused = this.accountAnswer(account);
    return refused ? { answer: refused } : { id, account };
  }

  refreshToken(body) {
    const { answer, id, account } = this.spend(body);
    return answer ?? [200, { refresh: this.issue(this.refresh, id), login: account.login }];
  }

  newExchange(body) {
    const { answer, id } = this.spend(body);
    return answer ?? [200, { refresh: this.issue(this.refresh, id), code: this.issue(this.codes, id) }];
  }

  signOut(body) {
    const { answer } = this.spend(body);
    return answer ?? [204, null];
  }

  // For the game servers' side: a one-time code is good once.
  redeem(body) {
    const id = this.codes.get(body.code);
    this.codes.delete(body.code);
    return id === undefined ? [401, { error: 'unauthorised' }] : [200, { login: this.accounts.get(id).login }];
  }

  statusDocument(query) {
    const s = { ...this.status, ...(this.switches.status ?? {}) };
    const doc = { world: s.world ?? 'up' };
    doc.release = query.get('release') === s.current ? 'current' : 'old';
    if (s.current) { doc.current = s.current; doc.number = s.number; }
    if (s.next) { doc.next = s.next; doc.next_number = s.next_number; }
    return [200, doc];
  }
}

const routes = {
  '/v1/login/start': 'loginStart',
  '/v1/login/finish': 'loginFinish',
  '/v1/refresh': 'refreshToken',
  '/v1/exchange/new': 'newExchange',
  '/v1/signout': 'signOut',
  '/v1/exchange/redeem': 'redeem',
};

function send(res, status, payload) {
  if (payload === null) {
    res.writeHead(status).end();
    return;
  }
  const text = typeof payload === 'string' ? payload : JSON.stringify(payload);
  res.writeHead(status, { 'Content-Type': 'application/json', 'Content-Length': Buffer.byteLength(text) }).end(text);
}

async function handle(service, req, res) {
  const url = new URL(req.url, 'https://localhost');
  const chunks = [];
  for await (const chunk of req) chunks.push(chunk);
  const raw = Buffer.concat(chunks).toString('utf8');

  if (url.pathname.startsWith('/control/')) {
    if (url.pathname === '/control/switches' && req.method === 'POST') {
      service.switches = JSON.parse(raw || '{}');
      service.work.clear();
      return send(res, 200, service.switches);
    }
    if (url.pathname === '/control/switches') return send(res, 200, service.switches);
    if (url.pathname === '/control/last') {
      // The raw body of the last request to ?path=, as it came; its Content-Type in a header.
      const last = service.requests.filter((r) => r.path === url.searchParams.get('path')).at(-1);
      if (!last) return send(res, 404, { error: 'none' });
      res.writeHead(200, { 'Content-Type': 'text/plain', 'X-Request-Content-Type': last.contentType });
      return res.end(last.body);
    }
    if (url.pathname === '/control/count') {
      return send(res, 200, { count: service.requests.filter((r) => r.path === url.searchParams.get('path')).length });
    }
    if (url.pathname === '/control/requests') {
      const list = service.requests;
      if (req.method === 'POST') service.requests = [];
      return send(res, 200, { requests: list });
    }
    return send(res, 404, { error: 'control' });
  }

  service.requests.push({ method: req.method, path: url.pathname + url.search, body: raw,
                          contentType: req.headers['content-type'] ?? '' });
  const sw = service.switches;
  const applies = !sw.paths || sw.paths.includes(url.pathname);
  if (applies && sw.slow) await new Promise((resolve) => setTimeout(resolve, sw.slow));
  if (applies && sw.drop) return req.socket.destroy();
  if (applies && sw.limited !== undefined) return send(res, 429, { error: 'limited', retry: sw.limited });
  if (applies && sw.fail) {
    const { status, body, ...fields } = sw.fail;
    return send(res, status, body !== undefined ? body : fields);
  }

  if (url.pathname === '/v1/status' && req.method === 'GET') return send(res, ...service.statusDocument(url.searchParams));
  const method = routes[url.pathname];
  if (!method || req.method !== 'POST') return send(res, 404, { error: 'path' });
  let body;
  try {
    body = JSON.parse(raw);
    if (typeof body !== 'object' || body === null) throw new Error('not an object');
  } catch {
    return send(res, 400, { error: 'json' });
  }
  return send(res, ...service[method](body));
}

async function main() {
  const options = parseArgs(process.argv.slice(2));
  const vectors = JSON.parse(fs.readFileSync(path.join(here, 'vectors', 'opaque-rfc9807.json'), 'utf8'));
  const failures = await selfTest(vectors);
  if (failures.length > 0) {
    console.error(`identity service: the OPAQUE self-test fails (${failures.join(', ')}); not starting`);
    process.exit(3);
  }

  const { ristretto255_oprf } = await import('@noble/curves/ed25519.js');
  const keys = loadKeys(options.state);
  const pair = ristretto255_oprf.oprf.deriveKeyPair(keys.seed, Buffer.from('quillmere identity server key'));
  const server = { privateKey: pair.secretKey, publicKey: pair.publicKey, oprfSeed: keys.oprfSeed };
  const config = JSON.parse(fs.readFileSync(options.accounts, 'utf8'));
  const accounts = await registerAccounts(config.accounts ?? [], server, options.state);
  const service = new Service(server, accounts, config.status ?? {});
  service.switches = config.switches ?? {};

  const httpsServer = https.createServer(
    { cert: fs.readFileSync(options.cert), key: fs.readFileSync(options.key) },
    (req, res) => handle(service, req, res).catch((error) => {
      console.error(`identity service: ${error.stack}`);
      if (!res.headersSent) send(res, 500, { error: 'internal' });
    }));
  httpsServer.listen(options.port, '127.0.0.1', () => {
    const { port } = httpsServer.address();
    if (options.portFile) fs.writeFileSync(options.portFile, `${port}\n`);
    process.stdout.write(`${port}\n`);
  });
  const stop = () => httpsServer.close(() => process.exit(0));
  process.on('SIGTERM', stop);
  process.on('SIGINT', stop);
}

main().catch((error) => {
  console.error(`identity service: ${error.message}`);
  process.exit(1);
});
