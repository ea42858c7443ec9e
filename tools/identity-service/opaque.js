// The server side of OPAQUE-3DH (ristretto255-SHA512 OPRF, HKDF/HMAC-SHA-512) on the noble
// primitives, independent of the launcher's C++ client. Registration runs here too: the
// service registers its accounts itself from their passwords.
import { ristretto255, ristretto255_hasher, ristretto255_oprf } from '@noble/curves/ed25519.js';
import { argon2idAsync } from '@noble/hashes/argon2.js';
import { expand, extract } from '@noble/hashes/hkdf.js';
import { hmac } from '@noble/hashes/hmac.js';
import { sha512 } from '@noble/hashes/sha2.js';
import { concatBytes, randomBytes, utf8ToBytes } from '@noble/hashes/utils.js';

const { Point } = ristretto255;
const oprf = ristretto255_oprf.oprf;

const Nn = 32;
const Nh = 64;
const Npk = 32;

// The launcher's key stretching: Argon2id v0x13, 64 MiB, 3 passes, 4 lanes, 64 bytes, salt zeroes(16).
export const argon2Ksf = (y) => argon2idAsync(y, new Uint8Array(16), { t: 3, m: 65536, p: 4, dkLen: 64 });
export const identityKsf = async (y) => y;

const u16 = (n) => Uint8Array.of(n >> 8, n & 0xff);
const withLength = (bytes) => concatBytes(u16(bytes.length), bytes);

export function equalBytes(a, b) {
  if (a.length !== b.length) return false;
  let diff = 0;
  for (let i = 0; i < a.length; i++) diff |= a[i] ^ b[i];
  return diff === 0;
}

const xor = (a, b) => a.map((v, i) => v ^ b[i]);
const hkdfExpand = (prk, info, length) => expand(sha512, prk, info, length);
const hkdfExtract = (ikm) => extract(sha512, ikm, new Uint8Array(0));
const mac = (key, message) => hmac(sha512, key, message);

function expandLabel(secret, label, context, length) {
  const full = utf8ToBytes('OPAQUE-' + label);
  const info = concatBytes(u16(length), Uint8Array.of(full.length), full, Uint8Array.of(context.length), context);
  return hkdfExpand(secret, info, length);
}

const deriveDhKeyPair = (seed) => oprf.deriveKeyPair(seed, utf8ToBytes('OPAQUE-DeriveDiffieHellmanKeyPair'));

function oprfKey(oprfSeed, credentialId) {
  const seed = hkdfExpand(oprfSeed, concatBytes(credentialId, utf8ToBytes('OprfKey')), 32);
  return oprf.deriveKeyPair(seed, utf8ToBytes('OPAQUE-DeriveKeyPair')).secretKey;
}

const scalarOf = (bytes) => Point.Fn.fromBytes(bytes);
const dh = (secret, publicBytes) => Point.fromBytes(publicBytes).multiply(scalarOf(secret)).toBytes();

function cleartextCredentials(serverPublicKey, clientPublicKey, serverIdentity, clientIdentity) {
  const sid = serverIdentity ?? serverPublicKey;
  const cid = clientIdentity ?? clientPublicKey;
  return { serverPublicKey, sid, cid, bytes: concatBytes(serverPublicKey, withLength(sid), withLength(cid)) };
}

// Registration in its three steps, as the browser and the service split it: the client
// blinds the password, the service evaluates it under the login's OPRF key, and the client
// finishes the record, so the password never leaves the client. blind and envelopeNonce may
// be fixed (vectors).
const h2gDst = () => concatBytes(utf8ToBytes('HashToGroup-OPRFV1-'), Uint8Array.of(0), utf8ToBytes('-ristretto255-SHA512'));

export function registrationRequest(password, blind) {
  if (blind) {
    return { blind, request: ristretto255_hasher.hashToCurve(password, { DST: h2gDst() }).multiply(scalarOf(blind)).toBytes() };
  }
  const { blind: fresh, blinded } = oprf.blind(password);
  return { blind: fresh, request: blinded };
}

// The service's step: the evaluated element followed by the server's public key.
export function registrationResponse({ request, credentialId, serverPublicKey, oprfSeed }) {
  return concatBytes(oprf.blindEvaluate(oprfKey(oprfSeed, credentialId), request), serverPublicKey);
}

// The record the service keeps: client public key, masking key, envelope (nonce and tag).
export async function finishRegistration({ password, blind, response, ksf, serverIdentity, clientIdentity,
                                           envelopeNonce }) {
  const evaluated = response.subarray(0, 32);
  const serverPublicKey = response.subarray(32, 64);
  const y = oprf.finalize(password, blind, evaluated);
  const randomizedPassword = hkdfExtract(concatBytes(y, await ksf(y)));
  const nonce = envelopeNonce ?? randomBytes(Nn);
  const maskingKey = hkdfExpand(randomizedPassword, utf8ToBytes('MaskingKey'), Nh);
  const authKey = hkdfExpand(randomizedPassword, concatBytes(nonce, utf8ToBytes('AuthKey')), Nh);
  const seed = hkdfExpand(randomizedPassword, concatBytes(nonce, utf8ToBytes('PrivateKey')), 32);
  const clientPublicKey = deriveDhKeyPair(seed).publicKey;
  const cleartext = cleartextCredentials(serverPublicKey, clientPublicKey, serverIdentity, clientIdentity);
  const authTag = mac(authKey, concatBytes(nonce, cleartext.bytes));
  return concatBytes(clientPublicKey, maskingKey, nonce, authTag);
}

// Registration all on one side (the service's own accounts, the vectors).
export async function register({ password, credentialId, serverPublicKey, oprfSeed, ksf, serverIdentity,
                                 clientIdentity, blind, envelopeNonce }) {
  const { blind: blindBytes, request } = registrationRequest(password, blind);
  const response = registrationResponse({ request, credentialId, serverPublicKey, oprfSeed });
  const record = await finishRegistration({ password, blind: blindBytes, response, ksf, serverIdentity,
                                            clientIdentity, envelopeNonce });
  return { request, response, record };
}

// A record for a login that does not exist: its answers must look like a real one's.
export function fakeRecord(clientPublicKey = oprf.generateKeyPair().publicKey, maskingKey = randomBytes(Nh)) {
  return concatBytes(clientPublicKey, maskingKey, new Uint8Array(96));
}

// KE2 for a KE1; returns the KE2 and what the finish step checks. Fixed nonces and seeds for vectors.
export function respond({ ke1, record, credentialId, serverPrivateKey, serverPublicKey, oprfSeed, context,
                          serverIdentity, clientIdentity, maskingNonce, serverNonce, serverKeyshareSeed }) {
  if (ke1.length !== 96 || record.length !== 192) throw new Error('bad sizes');
  const blinded = ke1.subarray(0, 32);
  const clientShare = ke1.subarray(64, 96);
  const clientPublicKey = record.subarray(0, 32);
  const maskingKey = record.subarray(32, 96);
  const envelope = record.subarray(96, 192);

  const evaluated = oprf.blindEvaluate(oprfKey(oprfSeed, credentialId), blinded); // refuses the identity
  const mNonce = maskingNonce ?? randomBytes(Nn);
  const pad = hkdfExpand(maskingKey, concatBytes(mNonce, utf8ToBytes('CredentialResponsePad')), Npk + Nn + Nh);
  const credentialResponse = concatBytes(evaluated, mNonce, xor(concatBytes(serverPublicKey, envelope), pad));

  const cleartext = cleartextCredentials(serverPublicKey, clientPublicKey, serverIdentity, clientIdentity);
  const sNonce = serverNonce ?? randomBytes(Nn);
  const { secretKey: shareSecret, publicKey: serverShare } = deriveDhKeyPair(serverKeyshareSeed ?? randomBytes(32));
  const preamble = concatBytes(utf8ToBytes('OPAQUEv1-'), withLength(context), withLength(cleartext.cid), ke1,
                               withLength(cleartext.sid), credentialResponse, sNonce, serverShare);
  if (Point.fromBytes(clientShare).equals(Point.ZERO)) throw new Error('identity key share');
  const ikm = concatBytes(dh(shareSecret, clientShare), dh(serverPrivateKey, clientShare), dh(shareSecret, clientPublicKey));
  const prk = hkdfExtract(ikm);
  const preambleHash = sha512(preamble);
  const handshakeSecret = expandLabel(prk, 'HandshakeSecret', preambleHash, Nh);
  const sessionKey = expandLabel(prk, 'SessionKey', preambleHash, Nh);
  const serverMac = mac(expandLabel(handshakeSecret, 'ServerMAC', new Uint8Array(0), Nh), preambleHash);
  const expectedClientMac = mac(expandLabel(handshakeSecret, 'ClientMAC', new Uint8Array(0), Nh),
                                sha512(concatBytes(preamble, serverMac)));
  return { ke2: concatBytes(credentialResponse, sNonce, serverShare, serverMac), expectedClientMac, sessionKey };
}

// Checks this module against the published OPAQUE vectors (identity KSF, context "OPAQUE-POC").
export async function selfTest(vectors) {
  const hex = (s) => Uint8Array.from(Buffer.from(s, 'hex'));
  const failures = [];
  const check = (name, got, want) => { if (Buffer.from(got).toString('hex') !== want) failures.push(name); };
  for (const [name, v] of Object.entries(vectors)) {
    const common = {
      credentialId: hex(v.credential_identifier), serverPublicKey: hex(v.server_public_key),
      serverPrivateKey: hex(v.server_private_key), oprfSeed: hex(v.oprf_seed), context: hex(v.Context),
      serverIdentity: v.server_identity ? hex(v.server_identity) : undefined,
      clientIdentity: v.client_identity ? hex(v.client_identity) : undefined,
      maskingNonce: hex(v.masking_nonce), serverNonce: hex(v.server_nonce),
      serverKeyshareSeed: hex(v.server_keyshare_seed),
    };
    let record;
    if (name.startsWith('Real')) {
      const reg = await register({ ...common, password: hex(v.password), ksf: identityKsf,
                                   blind: hex(v.blind_registration), envelopeNonce: hex(v.envelope_nonce) });
      check(`${name} registration_request`, reg.request, v.registration_request);
      check(`${name} registration_response`, reg.response, v.registration_response);
      check(`${name} registration_upload`, reg.record, v.registration_upload);
      record = reg.record;
    } else {
      record = fakeRecord(hex(v.client_public_key), hex(v.masking_key));
    }
    const answer = respond({ ...common, ke1: hex(v.KE1), record });
    check(`${name} KE2`, answer.ke2, v.KE2);
    if (v.KE3) {
      check(`${name} KE3`, answer.expectedClientMac, v.KE3);
      check(`${name} session_key`, answer.sessionKey, v.session_key);
    }
  }
  return failures;
}
