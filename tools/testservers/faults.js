// A small HTTPS server that misbehaves on request, for what a real CDN or identity service
// will not do on its own. Node's https module only; started by start-faults (read its
// comment). One process listens on several ports that differ only in their certificate:
//
//   good       localhost, from the bench's test CA (trusted in the Wine prefix)
//   untrusted  localhost, from a CA nobody trusts (organisation "Untrusted Test CA")
//   expired    localhost, from the bench's CA, valid only in 2020
//   wrongname  wrong.example, from the bench's CA
//   tls12      like good, but TLS 1.2 at most
//
// Every port answers the same paths (N, MS and S are decimal numbers):
//   /echo...          200; the body is the request as received: "METHOD TARGET\n", one
//                     "name: value\n" per header line in arrival order, "\n", the body bytes
//   /status/S         status S with the body "status S" (none for 204 and 304)
//   /bytes/N          200 with N bytes of the pattern (byte i is i % 251), ranges ignored
//   /range/N          a resource of N pattern bytes that honours one "bytes=" range as a CDN
//                     does: 206 with Content-Range, 416 past the end, 200 without a range
//   /more/N           206 to a range, but N bytes more than asked (honestly framed)
//   /short/N          Content-Length N, then half the bytes and the connection is cut
//   /reset            the connection is reset as soon as the request has arrived
//   /stall/MS         nothing for MS milliseconds, then 200 "late"
//   /stall-body/MS    200 with Content-Length 8, four bytes, MS milliseconds of nothing,
//                     then the rest
//   /chunked/N        200 with N pattern bytes in chunks, without Content-Length
//   /chunked-cut/N    the same, but the connection is cut after half the bytes, before the
//                     last chunk
//   /redirect/S       status S (301, 302, 303, 307, 308) with Location /echo
//   /drip/N/MS        200 with Content-Length N, one byte every MS milliseconds
'use strict';

const fs = require('fs');
const https = require('https');
const path = require('path');

const state = process.argv[2];
if (!state) {
  console.error('usage: node faults.js STATE-DIR');
  process.exit(2);
}
const certs = path.join(state, 'certs');
const bench = process.argv[3];

function pattern(from, count) {
  const bytes = Buffer.alloc(count);
  for (let i = 0; i < count; i++) bytes[i] = (from + i) % 251;
  return bytes;
}

// "bytes=a-b" or "bytes=a-" against a size: [first, last] inclusive, 'bad', or null (none).
function parseRange(header, size) {
  if (!header) return null;
  const m = /^bytes=(\d+)-(\d*)$/.exec(header);
  if (!m) return null;
  const first = Number(m[1]);
  const last = m[2] === '' ? size - 1 : Math.min(Number(m[2]), size - 1);
  if (first >= size || last < first) return 'bad';
  return [first, last];
}

function handle(req, res) {
  const chunks = [];
  req.on('data', (c) => chunks.push(c));
  req.on('end', () => answer(req, res, Buffer.concat(chunks)));
}

function answer(req, res, body) {
  const url = req.url;
  let m;
  if (url.startsWith('/echo')) {
    let text = `${req.method} ${url}\n`;
    for (let i = 0; i < req.rawHeaders.length; i += 2) text += `${req.rawHeaders[i]}: ${req.rawHeaders[i + 1]}\n`;
    const out = Buffer.concat([Buffer.from(text + '\n'), body]);
    res.writeHead(200, { 'Content-Length': out.length });
    res.end(out);
  } else if ((m = /^\/status\/(\d+)$/.exec(url))) {
    const status = Number(m[1]);
    if (status === 204 || status === 304) {
      res.writeHead(status);
      res.end();
    } else {
      const out = Buffer.from(`status ${status}`);
      res.writeHead(status, { 'Content-Length': out.length });
      res.end(out);
    }
  } else if ((m = /^\/bytes\/(\d+)$/.exec(url))) {
    const n = Number(m[1]);
    res.writeHead(200, { 'Content-Length': n });
    res.end(pattern(0, n));
  } else if ((m = /^\/range\/(\d+)$/.exec(url))) {
    const size = Number(m[1]);
    const range = parseRange(req.headers.range, size);
    if (range === 'bad') {
      res.writeHead(416, { 'Content-Range': `bytes */${size}`, 'Content-Length': 0 });
      res.end();
    } else if (range) {
      const [first, last] = range;
      res.writeHead(206, { 'Content-Range': `bytes ${first}-${last}/${size}`, 'Content-Length': last - first + 1 });
      res.end(pattern(first, last - first + 1));
    } else {
      res.writeHead(200, { 'Content-Length': size });
      res.end(pattern(0, size));
    }
  } else if ((m = /^\/more\/(\d+)$/.exec(url))) {
    const extra = Number(m[1]);
    const range = /^bytes=(\d+)-(\d+)$/.exec(req.headers.range || '');
    const first = range ? Number(range[1]) : 0;
    const count = (range ? Number(range[2]) - first + 1 : 0) + extra;
    res.writeHead(206, { 'Content-Range': `bytes ${first}-${first + count - 1}/*`, 'Content-Length': count });
    res.end(pattern(first, count));
  } else if ((m = /^\/short\/(\d+)$/.exec(url))) {
    const n = Number(m[1]);
    res.writeHead(200, { 'Content-Length': n });
    res.write(pattern(0, Math.floor(n / 2)), () => setTimeout(() => req.socket.destroy(), 50));
  } else if (url === '/reset') {
    const socket = req.socket._parent || req.socket;
    if (typeof socket.resetAndDestroy === 'function') socket.resetAndDestroy();
    else socket.destroy();
  } else if ((m = /^\/stall\/(\d+)$/.exec(url))) {
    const timer = setTimeout(() => {
      res.writeHead(200, { 'Content-Length': 4 });
      res.end('late');
    }, Number(m[1]));
    res.on('close', () => clearTimeout(timer));
  } else if ((m = /^\/stall-body\/(\d+)$/.exec(url))) {
    res.writeHead(200, { 'Content-Length': 8 });
    res.write('1234');
    const timer = setTimeout(() => res.end('5678'), Number(m[1]));
    res.on('close', () => clearTimeout(timer));
  } else if ((m = /^\/chunked\/(\d+)$/.exec(url))) {
    const n = Number(m[1]);
    res.writeHead(200, { 'Content-Type': 'application/octet-stream' });
    for (let at = 0; at < n; at += 1000) res.write(pattern(at, Math.min(1000, n - at)));
    res.end();
  } else if ((m = /^\/chunked-cut\/(\d+)$/.exec(url))) {
    const n = Math.floor(Number(m[1]) / 2);
    res.writeHead(200, { 'Content-Type': 'application/octet-stream' });
    for (let at = 0; at < n; at += 1000) res.write(pattern(at, Math.min(1000, n - at)));
    res.write(Buffer.alloc(0), () => setTimeout(() => req.socket.destroy(), 50));
  } else if ((m = /^\/redirect\/(\d+)$/.exec(url))) {
    res.writeHead(Number(m[1]), { Location: '/echo', 'Content-Length': 0 });
    res.end();
  } else if ((m = /^\/drip\/(\d+)\/(\d+)$/.exec(url))) {
    let left = Number(m[1]);
    res.writeHead(200, { 'Content-Length': left });
    const timer = setInterval(() => {
      res.write('.');
      if (--left === 0) {
        clearInterval(timer);
        res.end();
      }
    }, Number(m[2]));
    res.on('close', () => clearInterval(timer));
  } else {
    res.writeHead(404, { 'Content-Length': 9 });
    res.end('not found');
  }
}

function read(name) {
  return fs.readFileSync(path.join(certs, name));
}

const kinds = {
  good: { key: fs.readFileSync(path.join(bench, 'localhost.key')), cert: fs.readFileSync(path.join(bench, 'localhost.pem')) },
  untrusted: { key: read('untrusted.key'), cert: read('untrusted.pem') },
  expired: { key: read('expired.key'), cert: read('expired.pem') },
  wrongname: { key: read('wrongname.key'), cert: read('wrongname.pem') },
};
kinds.tls12 = { ...kinds.good, maxVersion: 'TLSv1.2' };

const ports = {};
let pending = Object.keys(kinds).length;
for (const [kind, options] of Object.entries(kinds)) {
  const server = https.createServer({ ...options, minVersion: 'TLSv1.2' }, handle);
  server.on('clientError', (err, socket) => socket.destroy());
  server.listen(0, '127.0.0.1', () => {
    ports[kind] = server.address().port;
    if (--pending === 0) {
      const text = Object.entries(ports).map(([k, p]) => `${k}=${p}\n`).join('');
      fs.writeFileSync(path.join(state, 'ports.tmp'), text);
      fs.renameSync(path.join(state, 'ports.tmp'), path.join(state, 'ports'));
    }
  });
}

// A server left behind by a run that never cleaned up ends by itself.
setTimeout(() => process.exit(0), 3 * 3600 * 1000).unref();
process.on('SIGTERM', () => process.exit(0));
