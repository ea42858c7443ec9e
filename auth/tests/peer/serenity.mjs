// A third party's opinion of the OPAQUE client core: @serenity-kit/opaque's server (its own
// registration, with the launcher's Argon2id parameters) signs in the C++ client run through
// opaque_peer. That library takes no context, so the client runs with an empty one.
//   node serenity.mjs PATH-TO-opaque_peer
import { execFileSync } from 'node:child_process';
import { createRequire } from 'node:module';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const require = createRequire(path.join(here, '../../../tools/identity-service/package.json'));
const opaque = require('@serenity-kit/opaque');
await opaque.ready;

const peer = process.argv[2];
const hex = (b64u) => Buffer.from(b64u, 'base64url').toString('hex');
const b64u = (h) => Buffer.from(h, 'hex').toString('base64url');
const run = (...args) => execFileSync(peer, args, { encoding: 'utf8' }).trim().split(' ');

const password = 'correct horse battery staple';
const serverSetup = opaque.server.createSetup();
const userIdentifier = 'rowan';
const { clientRegistrationState, registrationRequest } = opaque.client.startRegistration({ password });
const { registrationResponse } = opaque.server.createRegistrationResponse({ serverSetup, userIdentifier, registrationRequest });
const { registrationRecord } = opaque.client.finishRegistration({
  clientRegistrationState, registrationResponse, password,
  keyStretching: { 'argon2id-custom': { iterations: 3, memory: 65536, parallelism: 4 } },
});

let failures = 0;
const expect = (ok, what) => { if (!ok) { failures++; console.error(`FAILED: ${what}`); } else console.log(`ok: ${what}`); };

function signIn(clientPassword) {
  const [state, ke1] = run('start', clientPassword);
  const { serverLoginState, loginResponse } = opaque.server.startLogin({
    serverSetup, registrationRecord, startLoginRequest: b64u(ke1), userIdentifier });
  const [code, ke3, key] = run('finish', state, clientPassword, hex(loginResponse));
  return { code, ke3, key, serverLoginState };
}

const good = signIn(password);
expect(good.code === '0', `the right password signs in (code ${good.code})`);
if (good.code === '0') {
  const { sessionKey } = opaque.server.finishLogin({ serverLoginState: good.serverLoginState, finishLoginRequest: b64u(good.ke3) });
  expect(hex(sessionKey) === good.key, 'both sides hold the same session key');
}
const wrong = signIn('correct horse battery stapler');
expect(wrong.code === '5', `a wrong password is an invalid login (code ${wrong.code})`);
process.exit(failures === 0 ? 0 : 1);
