// The reference identity service: OPAQUE sign-in, rotating refresh tokens, one-time codes and
// the status document, over HTTPS on loopback, with switches that tests flip to make it
// misbehave on purpose.
//
//   node server.js --accounts accounts.json [--cert localhost.pem --key localhost.key]
//                  [--state DIR] [--port N] [--port-file FILE] [--ports-file FILE] [--releases DIR]
//
// When ready it prints the public port (a free one unless --port) as one line on standard
// output and writes it to --port-file; --ports-file gets "public=P" and "control=C" lines.
//
// The public port serves the player's calls under /v1/ only. Guarding them:
//   - request bodies above 16 KiB are refused (413), pending sign-ins, proofs of work and
//     one-time codes expire and are capped in number, the request log keeps the latest 10,000;
//   - failed sign-ins (a first step never finished with the right password, a wrong proof)
//     are counted per login and per address over a window; past the limit the first step
//     answers 429 {"error":"limited","retry":S} with the seconds until the oldest one expires;
//   - from the third failure of a login on, the first step demands a proof of work bound to
//     that attempt (login and KE1): only its latest nonce, solved, lets the attempt go on.
//
// Sign-up keeps OPAQUE's promise: GET /{language}/ (e.g. /en/#register) is a page that runs the
// client side of registration in the browser on the locked @noble packages, which the service
// serves itself (/modules/...); the service sees the blinded password and the finished record:
//   POST /v1/register/start   {"login":"L","request":"R"}   200 {"response":"E"}; 409 "taken"
//   POST /v1/register/finish  {"login":"L","record":"C"}    201 {"login":"L"};    409 "taken"
// Accounts made so are kept in STATE/registered.json. New accounts from one address are
// limited like failed sign-ins.
//
// With --releases DIR (a CDN tree, i/*.quillmereindex) the status document follows what is
// published there: DIR/next may name the next release's identity (published ahead, so that
// launchers prepare it), the highest other release number is current, and a release is "old"
// only when its number is below the current one.
//
// The control port (loopback, the same certificate) is for tests and never returns a secret:
//   POST /control/switches  a JSON object replaces them all (and resets the counters); GET reads
//   GET  /control/requests  what was received (secret values masked); POST empties the list
//   GET  /control/count?path=P   how many requests went to P
//   GET  /control/last?path=P    the body of the last one, secret values masked as "*"s
//   POST /control/same?path=P    {"same":true|false}: the last body to P is exactly this body
// Switches:
//   work:    { bits, times }   demand a proof of work `times` times per sign-in (fresh nonce each)
//   limited: seconds           429 {"error":"limited","retry":seconds}
//   fail:    { status, error?, until?, body? }  answer this instead ("body": raw text, may be "")
//   drop:    true              close the connection without an answer
//   slow:    milliseconds      wait before answering
//   suite:   number            the suite the first step announces (default 1)
//   paths:   [ "/v1/..." ]     limit limited/fail/drop/slow to these paths (default: every /v1/ path)
//   status:  { world, current, number, next, next_number }  overrides of the status document
//   rate:    { login, address, seconds, workAfter, bits }  the failure limits (10, 100, 900, 3, 16)
import fs from 'node:fs';
import https from 'node:https';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { createHash, randomBytes as nodeRandomBytes } from 'node:crypto';

import { blake3 } from '@noble/hashes/blake3.js';

import { argon2Ksf, equalBytes, fakeRecord, register, registrationResponse, respond, selfTest } from './opaque.js';

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
    portsFile: null,
    releases: null,
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
const kMaxBody = 16384;
const kMaxLog = 10000;
const kMaxPending = 10000;
const kPendingMs = 60_000;
const kWorkMs = 300_000;
const kCodeMs = 300_000;
const kSecretKeys = ['refresh', 'code', 'state', 'password'];

// A map whose entries expire and whose size is capped: the oldest entries go first.
class BoundedMap extends Map {
  constructor(limit) { super(); this.limit = limit; }
  put(key, value) {
    const now = Date.now();
    for (const [k, v] of this) {
      if (this.size < this.limit && v.expires > now) break;
      this.delete(k);
    }
    this.delete(key);
    return this.set(key, value);
  }
  take(key) {
    const value = this.get(key);
    this.delete(key);
    return value && value.expires > Date.now() ? value : undefined;
  }
}

// A body for the control port: the values of secret keys replaced by as many "*".
function masked(raw) {
  const keys = kSecretKeys.join('|');
  return raw.replace(new RegExp(`"(${keys})":"([^"]*)"`, 'g'), (_, key, value) => `"${key}":"${'*'.repeat(value.length)}"`);
}
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

// Accounts made on the registration page, kept across starts.
function loadRegistered(stateDir, accounts) {
  const file = path.join(stateDir, 'registered.json');
  if (!fs.existsSync(file)) return;
  for (const a of JSON.parse(fs.readFileSync(file, 'utf8'))) {
    const id = a.login.toLowerCase();
    if (!accounts.has(id)) accounts.set(id, { login: a.login, state: 'active', until: '', record: fromB64u(a.record), registered: true });
  }
}

function saveRegistered(stateDir, accounts) {
  const list = [...accounts.values()].filter((a) => a.registered).map((a) => ({ login: a.login, record: b64u(a.record) }));
  const file = path.join(stateDir, 'registered.json');
  fs.writeFileSync(`${file}.tmp`, JSON.stringify(list));
  fs.renameSync(`${file}.tmp`, file);
}

// --- the service -------------------------------------------------------------------------
class Service {
  constructor(server, accounts, status, releases, stateDir) {
    this.server = server;
    this.stateDir = stateDir;
    this.accounts = accounts;
    this.status = status;
    this.releases = releases;
    this.switches = {};
    this.pending = new BoundedMap(kMaxPending); // state text -> sign-in waiting for its second step
    this.refresh = new Map();                   // token -> login id (one per signed-in session)
    this.codes = new BoundedMap(kMaxPending);   // one-time code -> login id
    this.work = new BoundedMap(kMaxPending);    // "id:ke1" -> { paid, nonce, bits, expires }
    this.failures = new Map();                  // "login:id" or "address:a" -> [{ at, state }]
    this.requests = [];
    this.fakeKeys = new Map(); // unknown login id -> fake record, stable per id
  }

  reset(switches) {
    this.switches = switches;
    this.work.clear();
    this.failures.clear();
  }

  rate() {
    return { login: 10, address: 100, seconds: 900, workAfter: 3, bits: 16, ...(this.switches.rate ?? {}) };
  }

  log(entry) {
    this.requests.push(entry);
    if (this.requests.length > kMaxLog) this.requests.splice(0, this.requests.length - kMaxLog);
  }

  issue(map, value) {
    const token = b64u(nodeRandomBytes(32));
    if (map instanceof BoundedMap) map.put(token, value);
    else map.set(token, value);
    return token;
  }

  accountAnswer(account) {
    if (account.state === 'banned') return [403, { error: 'banned', until: account.until }];
    if (account.state === 'closed') return [403, { error: 'closed' }];
    if (account.state === 'unconfirmed') return [403, { error: 'unconfirmed' }];
    return null;
  }

  // The failures of a key still inside the window (the list is trimmed on the way).
  recent(key) {
    const since = Date.now() - this.rate().seconds * 1000;
    const list = (this.failures.get(key) ?? []).filter((f) => f.at > since);
    if (list.length > 0) this.failures.set(key, list);
    else this.failures.delete(key);
    return list;
  }

  fail(keys, state = null) {
    for (const key of keys) {
      const list = this.recent(key);
      list.push({ at: Date.now(), state });
      this.failures.set(key, list);
    }
    if (this.failures.size > kMaxPending) this.failures.delete(this.failures.keys().next().value);
  }

  succeed(keys, state) {
    for (const key of keys) {
      const list = this.recent(key).filter((f) => f.state !== state);
      if (list.length > 0) this.failures.set(key, list);
      else this.failures.delete(key);
    }
  }

  // 429 "limited" while a login or an address is over its limit, with the seconds to wait.
  limited(keys) {
    const rate = this.rate();
    let wait = 0;
    for (const key of keys) {
      const list = this.recent(key);
      const limit = key.startsWith('login:') ? rate.login : rate.address;
      if (list.length >= limit) {
        const until = list[list.length - limit].at + rate.seconds * 1000;
        wait = Math.max(wait, Math.ceil((until - Date.now()) / 1000));
      }
    }
    return wait > 0 ? [429, { error: 'limited', retry: wait }] : null;
  }

  // The proofs of work this attempt owes: the switch's count, or one once the login has failed
  // often enough. Returns an answer to send, or null when the attempt may go on.
  demandWork(id, ke1Text, pow, keys) {
    const rate = this.rate();
    const sw = this.switches.work;
    const owed = sw ? (sw.times ?? 0) : (this.recent(`login:${id}`).length >= rate.workAfter ? 1 : 0);
    const bits = sw ? (sw.bits ?? 0) : rate.bits;
    if (owed === 0) return null;
    const key = `${id}:${ke1Text}`;
    const attempt = this.work.take(key) ?? { paid: 0, nonce: null, bits };
    if (pow !== undefined) {
      const counter = pow && typeof pow.solution === 'string' ? fromB64u(pow.solution, 8) : null;
      const paid = attempt.nonce && pow && pow.nonce === b64u(attempt.nonce) && counter &&
        leadingZeroBits(sha256(Buffer.concat([attempt.nonce, counter]))) >= attempt.bits;
      if (!paid) {
        this.fail(keys);
        return [400, { error: 'work' }];
      }
      attempt.paid += 1;
    }
    if (attempt.paid >= owed) return null;
    attempt.nonce = nodeRandomBytes(16);
    attempt.bits = bits;
    attempt.expires = Date.now() + kWorkMs;
    this.work.put(key, attempt);
    const answer = { error: 'work', nonce: b64u(attempt.nonce) };
    if (sw === undefined || sw.bits !== undefined) answer.bits = bits;
    return [429, answer];
  }

  loginStart(body, address) {
    if (typeof body.login !== 'string' || !loginRule.test(body.login)) return [400, { error: 'login' }];
    const id = body.login.toLowerCase();
    const ke1 = fromB64u(body.ke1, 96);
    const release = fromB64u(body.release, 32);
    const session = fromB64u(body.session, 32);
    const purpose = body.purpose;
    if (!ke1 || !release || !session || !Number.isInteger(purpose) || purpose < 1 || purpose > 4) {
      return [400, { error: 'request' }];
    }
    const keys = [`login:${id}`, `address:${address}`];
    const refused = this.limited(keys) ?? this.demandWork(id, body.ke1, body.pow, keys);
    if (refused) return refused;

    const account = this.accounts.get(id);
    let record = account?.record;
    if (!record) {
      if (!this.fakeKeys.has(id)) {
        if (this.fakeKeys.size >= kMaxPending) this.fakeKeys.delete(this.fakeKeys.keys().next().value);
        this.fakeKeys.set(id, fakeRecord());
      }
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
    // Counted as failed until the second step proves the password.
    const state = this.issue(this.pending, { id, keys, known: !!account, mac: answer.expectedClientMac,
                                             expires: Date.now() + kPendingMs });
    this.fail(keys, state);
    return [200, { ke2: b64u(answer.ke2), state, suite: this.switches.suite ?? 1 }];
  }

  loginFinish(body) {
    const pending = typeof body.state === 'string' ? this.pending.take(body.state) : undefined;
    const ke3 = fromB64u(body.ke3, 64);
    if (!pending || typeof body.login !== 'string' || body.login.toLowerCase() !== pending.id || !ke3 ||
        !pending.known || !equalBytes(ke3, pending.mac)) {
      return [401, { error: 'unauthorised' }];
    }
    this.succeed(pending.keys, body.state);
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
    return answer ?? [200, { refresh: this.issue(this.refresh, id),
                             code: this.issue(this.codes, { id, expires: Date.now() + kCodeMs }) }];
  }

  signOut(body) {
    const { answer } = this.spend(body);
    return answer ?? [204, null];
  }

  // Registration: the service evaluates the blinded password under the login's OPRF key and
  // later keeps the record the client finished. It never sees the password.
  registerStart(body, address) {
    if (typeof body.login !== 'string' || !loginRule.test(body.login)) return [400, { error: 'login' }];
    const id = body.login.toLowerCase();
    if (this.accounts.has(id)) return [409, { error: 'taken' }];
    const refused = this.limited([`register:${address}`]);
    if (refused) return refused;
    const request = fromB64u(body.request, 32);
    if (!request) return [400, { error: 'request' }];
    try {
      const response = registrationResponse({ request, credentialId: Buffer.from(id),
                                              serverPublicKey: this.server.publicKey, oprfSeed: this.server.oprfSeed });
      return [200, { response: b64u(response) }];
    } catch {
      return [400, { error: 'request' }];
    }
  }

  registerFinish(body, address) {
    if (typeof body.login !== 'string' || !loginRule.test(body.login)) return [400, { error: 'login' }];
    const id = body.login.toLowerCase();
    if (this.accounts.has(id)) return [409, { error: 'taken' }];
    const keys = [`register:${address}`];
    const refused = this.limited(keys);
    if (refused) return refused;
    const record = fromB64u(body.record, 192);
    if (!record || this.accounts.size >= kMaxPending) return [400, { error: 'request' }];
    this.fail(keys); // counts towards the address's limit of new accounts
    this.accounts.set(id, { login: body.login, state: 'active', until: '', record, registered: true });
    saveRegistered(this.stateDir, this.accounts);
    return [201, { login: body.login }];
  }

  // For the game servers' side: a one-time code is good once.
  redeem(body) {
    const code = typeof body.code === 'string' ? this.codes.take(body.code) : undefined;
    return code === undefined ? [401, { error: 'unauthorised' }] : [200, { login: this.accounts.get(code.id).login }];
  }

  statusDocument(query) {
    const published = this.releases ? this.releases.read() : {};
    const s = { ...this.status, ...published, ...(this.switches.status ?? {}) };
    const doc = { world: s.world ?? 'up' };
    const asked = query.get('release');
    if (this.releases) {
      const number = this.releases.numberOf(asked);
      if (number !== undefined && s.number !== undefined && number < s.number) doc.release = 'old';
      else if (asked === s.current) doc.release = 'current';
    } else {
      doc.release = asked === s.current ? 'current' : 'old';
    }
    if (s.current) { doc.current = s.current; doc.number = s.number; }
    if (s.next) { doc.next = s.next; doc.next_number = s.next_number; }
    return [200, doc];
  }
}

// The releases published in a CDN tree: every i/*.quillmereindex, named by its identity (the
// BLAKE3-256 of its bytes before the 64-byte signature) with the release number of its header.
// Read again whenever the folder changes.
class PublishedReleases {
  constructor(folder) {
    this.folder = folder;
    this.stamp = null;
    this.numbers = new Map();
  }

  scan() {
    const dir = path.join(this.folder, 'i');
    let stamp;
    try {
      const next = path.join(this.folder, 'next');
      stamp = `${fs.statSync(dir).mtimeMs}/${fs.existsSync(next) ? fs.statSync(next).mtimeMs : 0}`;
    } catch {
      this.numbers = new Map();
      return;
    }
    if (stamp === this.stamp) return;
    this.stamp = stamp;
    this.numbers = new Map();
    for (const name of fs.readdirSync(dir)) {
      if (!name.endsWith('.quillmereindex')) continue;
      const bytes = fs.readFileSync(path.join(dir, name));
      if (bytes.length < 64 + 64 || bytes.subarray(0, 8).toString('latin1') !== 'QMVFSIDX') continue;
      const identity = Buffer.from(blake3(bytes.subarray(0, bytes.length - 64))).toString('hex');
      this.numbers.set(identity, Number(bytes.readBigUInt64LE(16)));
    }
    try {
      this.next = fs.readFileSync(path.join(this.folder, 'next'), 'utf8').trim();
    } catch {
      this.next = '';
    }
  }

  numberOf(identity) {
    this.scan();
    return this.numbers.get(identity);
  }

  read() {
    this.scan();
    const doc = {};
    for (const [identity, number] of this.numbers) {
      if (identity === this.next) continue; // published ahead, for the launchers to prepare
      if (doc.number === undefined || number > doc.number) { doc.current = identity; doc.number = number; }
    }
    if (this.next && this.numbers.has(this.next) && this.next !== doc.current) {
      doc.next = this.next;
      doc.next_number = this.numbers.get(this.next);
    }
    return doc;
  }
}

const routes = {
  '/v1/login/start': 'loginStart',
  '/v1/login/finish': 'loginFinish',
  '/v1/refresh': 'refreshToken',
  '/v1/exchange/new': 'newExchange',
  '/v1/signout': 'signOut',
  '/v1/exchange/redeem': 'redeem',
  '/v1/register/start': 'registerStart',
  '/v1/register/finish': 'registerFinish',
};

// --- the registration page -------------------------------------------------------------------
const kPageHeaders = {
  'Content-Security-Policy': "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; " +
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'",
  'X-Content-Type-Options': 'nosniff',
  'Referrer-Policy': 'no-referrer',
  'Cache-Control': 'no-store',
};
const kNoble = path.join(here, 'node_modules', '@noble');
const pageFiles = new Map(); // URL path -> [content type, bytes]

// The modules as the browser loads them: bare @noble imports point at this service's copies.
const forBrowser = (text) => text.replace(/(from\s*|import\s*)(['"])@noble\//g, '$1$2/modules/@noble/');

function pageFile(pathname) {
  if (pageFiles.has(pathname)) return pageFiles.get(pathname);
  let file = null;
  let type = 'text/javascript; charset=utf-8';
  let transform = forBrowser;
  let m;
  if (pathname === '/page/register.js') file = path.join(here, 'page', 'register.js');
  else if (pathname === '/page/page.css') {
    file = path.join(here, 'page', 'page.css');
    type = 'text/css; charset=utf-8';
    transform = (t) => t;
  } else if (pathname === '/modules/opaque.js') file = path.join(here, 'opaque.js');
  else if ((m = /^\/modules\/@noble\/((?:curves|hashes)\/(?:[a-z0-9_-]+\/)?[a-z0-9_-]+\.js)$/i.exec(pathname))) {
    file = path.join(kNoble, m[1]);
  }
  if (!file || !fs.existsSync(file)) return null;
  const entry = [type, Buffer.from(transform(fs.readFileSync(file, 'utf8')))];
  pageFiles.set(pathname, entry);
  return entry;
}

function servePage(pathname, res) {
  const lang = /^\/([a-z]{2}(?:-[a-z]{2,4})?)\/(?:index\.html)?$/i.exec(pathname);
  let entry;
  if (lang) {
    const html = fs.readFileSync(path.join(here, 'page', 'index.html'), 'utf8').replace('{{lang}}', lang[1].toLowerCase());
    entry = ['text/html; charset=utf-8', Buffer.from(html)];
  } else {
    entry = pageFile(pathname);
  }
  if (!entry) return send(res, 404, { error: 'path' });
  res.writeHead(200, { ...kPageHeaders, 'Content-Type': entry[0], 'Content-Length': entry[1].length });
  return res.end(entry[1]);
}

function send(res, status, payload) {
  if (payload === null) {
    res.writeHead(status).end();
    return;
  }
  const text = typeof payload === 'string' ? payload : JSON.stringify(payload);
  res.writeHead(status, { 'Content-Type': 'application/json', 'Content-Length': Buffer.byteLength(text) }).end(text);
}

// The body, or null when it passes kMaxBody (the connection is then closed after a 413).
async function readBody(req) {
  const chunks = [];
  let size = 0;
  for await (const chunk of req) {
    size += chunk.length;
    if (size > kMaxBody) return null;
    chunks.push(chunk);
  }
  return Buffer.concat(chunks).toString('utf8');
}

function tooLarge(res) {
  res.setHeader('Connection', 'close');
  send(res, 413, { error: 'body' });
}

async function handleControl(service, req, res) {
  const url = new URL(req.url, 'https://localhost');
  const raw = await readBody(req);
  if (raw === null) return tooLarge(res);
  const lastTo = (p) => service.requests.filter((r) => r.path === p).at(-1);
  if (url.pathname === '/control/switches' && req.method === 'POST') {
    let switches;
    try {
      switches = JSON.parse(raw || '{}');
    } catch {
      return send(res, 400, { error: 'json' });
    }
    service.reset(switches);
    return send(res, 200, service.switches);
  }
  if (url.pathname === '/control/switches') return send(res, 200, service.switches);
  if (url.pathname === '/control/last') {
    const last = lastTo(url.searchParams.get('path'));
    if (!last) return send(res, 404, { error: 'none' });
    res.writeHead(200, { 'Content-Type': 'text/plain', 'X-Request-Content-Type': last.contentType });
    return res.end(masked(last.body));
  }
  if (url.pathname === '/control/same' && req.method === 'POST') {
    const last = lastTo(url.searchParams.get('path'));
    return send(res, 200, { same: last !== undefined && last.body === raw });
  }
  if (url.pathname === '/control/count') {
    return send(res, 200, { count: service.requests.filter((r) => r.path === url.searchParams.get('path')).length });
  }
  if (url.pathname === '/control/requests') {
    const list = service.requests.map((r) => ({ ...r, body: masked(r.body) }));
    if (req.method === 'POST') service.requests = [];
    return send(res, 200, { requests: list });
  }
  return send(res, 404, { error: 'control' });
}

async function handle(service, req, res) {
  const url = new URL(req.url, 'https://localhost');
  const raw = await readBody(req);
  if (raw === null) return tooLarge(res);
  if (!url.pathname.startsWith('/v1/')) {
    return req.method === 'GET' ? servePage(url.pathname, res) : send(res, 404, { error: 'path' });
  }

  service.log({ method: req.method, path: url.pathname + url.search, body: raw,
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
  return send(res, ...service[method](body, req.socket.remoteAddress ?? ''));
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
  loadRegistered(options.state, accounts);
  const releases = options.releases ? new PublishedReleases(options.releases) : null;
  const service = new Service(server, accounts, config.status ?? {}, releases, options.state);
  service.switches = config.switches ?? {};

  const tls = { cert: fs.readFileSync(options.cert), key: fs.readFileSync(options.key) };
  const serve = (handler) => (req, res) => handler(service, req, res).catch((error) => {
    console.error(`identity service: ${error.stack}`);
    if (!res.headersSent) send(res, 500, { error: 'internal' });
  });
  const publicServer = https.createServer(tls, serve(handle));
  const controlServer = https.createServer(tls, serve(handleControl));
  publicServer.headersTimeout = 10_000;
  publicServer.requestTimeout = 30_000;
  const listening = (server, port) => new Promise((resolve) => server.listen(port, '127.0.0.1', resolve));
  await listening(publicServer, options.port);
  await listening(controlServer, 0);
  const port = publicServer.address().port;
  const control = controlServer.address().port;
  if (options.portsFile) fs.writeFileSync(options.portsFile, `public=${port}\ncontrol=${control}\n`);
  if (options.portFile) fs.writeFileSync(options.portFile, `${port}\n`);
  process.stdout.write(`${port}\n`);
  const stop = () => {
    controlServer.close();
    publicServer.close(() => process.exit(0));
  };
  process.on('SIGTERM', stop);
  process.on('SIGINT', stop);
}

main().catch((error) => {
  console.error(`identity service: ${error.message}`);
  process.exit(1);
});
