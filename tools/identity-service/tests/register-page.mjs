// The registration page end to end: headless Chromium creates an account on the page the
// service serves, the service is checked to have received no password, and the launcher's own
// sign-in code (qmid under Wine) then signs in with it.
//
//   node register-page.mjs STATE-DIR QMID-EXE WINE-RUN
//
// STATE-DIR is the identity service's (its "ports" file names the public and control ports).
import { spawn, spawnSync } from 'node:child_process';
import { randomBytes } from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

if (typeof WebSocket === 'undefined') { // Node 20 has it behind a flag
  const again = spawnSync(process.execPath, ['--experimental-websocket', ...process.argv.slice(1)], { stdio: 'inherit' });
  process.exit(again.status ?? 1);
}

const [state, qmid, wineRun] = process.argv.slice(2);
if (!wineRun) {
  console.error('usage: node register-page.mjs STATE-DIR QMID-EXE WINE-RUN');
  process.exit(2);
}
const ports = Object.fromEntries(fs.readFileSync(path.join(state, 'ports'), 'utf8').trim().split('\n')
  .map((line) => line.split('=')));
const base = `https://localhost:${ports.public}`;
const control = `https://localhost:${ports.control}`;
process.env.NODE_TLS_REJECT_UNAUTHORIZED = '0'; // the bench's test CA; node's own calls to the control port

const fail = (message) => {
  console.error(`register-page: ${message}`);
  process.exitCode = 1;
};
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// --- Chromium over the DevTools protocol ----------------------------------------------------
const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'qm-chromium-'));
const browser = spawn('chromium', ['--headless=new', '--no-sandbox', '--disable-gpu', '--ignore-certificate-errors',
  `--user-data-dir=${profile}`, '--remote-debugging-port=0', 'about:blank'],
  { stdio: ['ignore', 'ignore', 'pipe'], detached: true }); // a process group of its own, helpers included
const cleanUp = async () => {
  if (browser.pid !== undefined && browser.exitCode === null && browser.signalCode === null) {
    const ended = new Promise((resolve) => browser.once('exit', resolve));
    try {
      process.kill(-browser.pid, 'SIGKILL');
    } catch {
      browser.kill('SIGKILL');
    }
    await ended;
  }
  // A helper that was still writing into the profile may take a moment to end.
  fs.rmSync(profile, { recursive: true, force: true, maxRetries: 20, retryDelay: 100 });
};

async function devtools() {
  let text = '';
  for await (const chunk of browser.stderr) {
    text += chunk;
    const m = /DevTools listening on (ws:\/\/[^\s]+)/.exec(text);
    if (m) return new URL(m[1]).port;
  }
  throw new Error(`chromium ended: ${text}`);
}

class Page {
  constructor(socket) {
    this.socket = socket;
    this.next = 1;
    this.waiting = new Map();
    socket.addEventListener('message', (event) => {
      const message = JSON.parse(event.data);
      const done = this.waiting.get(message.id);
      if (done) {
        this.waiting.delete(message.id);
        done(message);
      }
    });
  }
  static async open(port) {
    const targets = await (await fetch(`http://127.0.0.1:${port}/json/list`)).json();
    const target = targets.find((t) => t.type === 'page');
    const socket = new WebSocket(target.webSocketDebuggerUrl);
    await new Promise((resolve, reject) => {
      socket.addEventListener('open', resolve);
      socket.addEventListener('error', reject);
    });
    return new Page(socket);
  }
  send(method, params = {}) {
    const id = this.next++;
    this.socket.send(JSON.stringify({ id, method, params }));
    return new Promise((resolve) => this.waiting.set(id, resolve));
  }
  async evaluate(expression) {
    const answer = await this.send('Runtime.evaluate', { expression, returnByValue: true, awaitPromise: true });
    return answer.result?.result?.value;
  }
  async until(expression, test, seconds) {
    for (let i = 0; i < seconds * 10; i++) {
      const value = await this.evaluate(expression);
      if (test(value)) return value;
      await sleep(100);
    }
    return this.evaluate(expression);
  }
}

const login = `Page${randomBytes(4).toString('hex')}`;
const password = `page password ${randomBytes(6).toString('hex')}`;

try {
  const page = await Page.open(await devtools());
  await page.send('Page.navigate', { url: `${base}/en/#register` });
  if (await page.until('document.body?.dataset.ready', (v) => v === 'yes', 30) !== 'yes') {
    throw new Error('the page did not load its script');
  }
  const shown = await page.evaluate("getComputedStyle(document.getElementById('forgot')).display");
  if (shown !== 'none') fail(`the #forgot section shows on #register (${shown})`);
  await page.evaluate(`(() => {
    document.getElementById('login').value = ${JSON.stringify(login)};
    document.getElementById('password').value = ${JSON.stringify(password)};
    document.getElementById('again').value = ${JSON.stringify(password)};
    document.getElementById('create').click();
  })()`);
  const result = await page.until("document.getElementById('result').textContent",
    (v) => typeof v === 'string' && !v.startsWith('Creating') && v !== '', 180);
  if (result !== `The account ${login} is ready. Sign in from the launcher.`) throw new Error(`the page says "${result}"`);

  // Taken logins are refused on the page too.
  await page.evaluate(`(() => {
    document.getElementById('password').value = 'x';
    document.getElementById('again').value = 'x';
    document.getElementById('create').click();
  })()`);
  const taken = await page.until("document.getElementById('result').textContent", (v) => v === 'That login is taken.', 30);
  if (taken !== 'That login is taken.') fail(`a second registration says "${taken}"`);

  // The service saw neither the password nor anything but its blinded form.
  const seen = await (await fetch(`${control}/control/requests`)).text();
  if (seen.includes(password) || seen.includes(Buffer.from(password).toString('base64url'))) {
    fail('the password reached the service');
  }
  if (!seen.includes('/v1/register/finish')) fail('the page did not finish its registration through the service');

  // The launcher's code signs in with the account.
  const signIn = spawnSync(wineRun, [qmid, base, login, 'login'], { input: `${password}\n`, encoding: 'utf8',
                                                                     timeout: 240_000 });
  if (!/^login SignedIn \d+ ms login=/m.test(signIn.stdout)) {
    fail(`qmid did not sign in: ${signIn.stdout}${signIn.stderr}`);
  }
  const wrong = spawnSync(wineRun, [qmid, base, login, 'login'], { input: 'not it\n', encoding: 'utf8',
                                                                   timeout: 240_000 });
  if (!/^login Unauthorised /m.test(wrong.stdout)) fail(`a wrong password was not refused: ${wrong.stdout}`);
  if (process.exitCode !== 1) console.log(`register-page: ${login} registered in Chromium and signed in under Wine`);
} catch (error) {
  fail(error.message);
} finally {
  await cleanUp();
}
