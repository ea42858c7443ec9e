// The client side of OPAQUE registration: the password is blinded and stretched here with the
// launcher's suite and key stretching, and only the finished record goes to the service.
import { argon2Ksf, finishRegistration, registrationRequest } from '/modules/opaque.js';

const loginRule = /^[0-9A-Za-z]{2,30}$/;
const asciiRule = /^[\x00-\x7f]+$/;

const b64u = (bytes) => btoa(String.fromCharCode(...bytes)).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
const fromB64u = (text) => Uint8Array.from(atob(text.replace(/-/g, '+').replace(/_/g, '/')), (c) => c.charCodeAt(0));

async function call(path, body) {
  const answer = await fetch(path, { method: 'POST', headers: { 'Content-Type': 'application/json' },
                                     body: JSON.stringify(body) });
  const json = await answer.json().catch(() => ({}));
  return { status: answer.status, json };
}

function explain({ status, json }) {
  if (json.error === 'taken') return 'That login is taken.';
  if (json.error === 'login') return 'A login is 2 to 30 letters and digits.';
  if (json.error === 'limited') return `Too many accounts from here. Try again in ${json.retry} seconds.`;
  return `The service refused the account (HTTP ${status} ${json.error ?? ''}).`;
}

async function create(event) {
  event.preventDefault();
  const result = document.getElementById('result');
  const button = document.getElementById('create');
  const login = document.getElementById('login').value;
  const typed = document.getElementById('password');
  const again = document.getElementById('again');
  if (!loginRule.test(login)) {
    result.textContent = 'A login is 2 to 30 letters and digits.';
    return;
  }
  if (!asciiRule.test(typed.value)) {
    result.textContent = 'A password is ASCII.';
    return;
  }
  if (typed.value !== again.value) {
    result.textContent = 'The two passwords differ.';
    return;
  }
  const password = new TextEncoder().encode(typed.value);
  typed.value = '';
  again.value = '';
  button.disabled = true;
  result.textContent = 'Creating the account…';
  try {
    const { blind, request } = registrationRequest(password);
    const started = await call('/v1/register/start', { login, request: b64u(request) });
    if (started.status !== 200) {
      result.textContent = explain(started);
      return;
    }
    const record = await finishRegistration({ password, blind, response: fromB64u(started.json.response),
                                              ksf: argon2Ksf });
    const finished = await call('/v1/register/finish', { login, record: b64u(record) });
    result.textContent = finished.status === 201
      ? `The account ${finished.json.login} is ready. Sign in from the launcher.`
      : explain(finished);
  } catch (error) {
    result.textContent = `The account could not be made: ${error.message}`;
  } finally {
    password.fill(0);
    button.disabled = false;
  }
}

document.getElementById('register-form').addEventListener('submit', create);
document.body.dataset.ready = 'yes';
