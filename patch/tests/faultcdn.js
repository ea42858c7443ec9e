// A CDN that misbehaves in the ways the patcher must refuse, over the release trees that
// make-releases writes. Node's https module only, with the Wine bench's localhost
// certificate; started by start-faultcdn.
//
//   /FAULT/PATH   the file ROOT/PATH, honouring one "bytes=a-b" range, with FAULT one of
//                 these, optionally followed by "-" and a token that starts a fresh count
//     ok        as a CDN answers: 206 to a range, 200 without one
//     corrupt2  the first two answers to each request (path and range) of a container or a
//               loose file ("c/", "f/") carry one flipped byte; later answers are good
//     corrupt3  the same for the first three answers
//     range200  a ranged request answered 200 with exactly the range's bytes
//     more      a ranged request answered 206 with 100 bytes more than asked
//     endless   every request (the index too) answered with the file's bytes followed by
//               pattern bytes without end, chunked, until the client gives up
//     drip      every request (the index too) answered with the right length, one byte a
//               second
//     stall     a container or a loose file answered with its headers and half its bytes,
//               then nothing until the client goes
// Index paths ("i/") are otherwise always answered well.
'use strict';

const fs = require('fs');
const https = require('https');
const path = require('path');

const [state, root, bench] = process.argv.slice(2);
if (!state || !root || !bench) {
  console.error('usage: node faultcdn.js STATE-DIR ROOT BENCH-CA-DIR');
  process.exit(2);
}
const answered = new Map();

function serve(req, res) {
  const m = /^\/(ok|corrupt2|corrupt3|range200|more|endless|drip|stall)(?:-[0-9a-z]+)?\/(.+)$/.exec(req.url);
  const file = m && path.join(root, path.normalize(m[2]));
  if (!m || !file.startsWith(path.resolve(root) + path.sep) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
    res.writeHead(404, { 'Content-Length': 9 });
    res.end('not found');
    return;
  }
  const fault = m[1];
  const bytes = fs.readFileSync(file);
  let first = 0;
  let last = bytes.length - 1;
  const range = /^bytes=(\d+)-(\d*)$/.exec(req.headers.range || '');
  if (range) {
    first = Number(range[1]);
    last = range[2] === '' ? bytes.length - 1 : Math.min(Number(range[2]), bytes.length - 1);
  }
  let body = Buffer.from(bytes.subarray(first, last + 1));
  const content = m[2].startsWith('c/') || m[2].startsWith('f/');
  const key = `${req.url} ${req.headers.range || ''}`;
  const seen = (answered.get(key) || 0) + 1;
  answered.set(key, seen);
  if (content && ((fault === 'corrupt2' && seen <= 2) || (fault === 'corrupt3' && seen <= 3)) && body.length > 0) {
    body[body.length >> 1] ^= 0x5a;
  }
  if (content && fault === 'more' && range) {
    body = Buffer.concat([body, Buffer.alloc(100, 7)]);
  }
  if (fault === 'endless') {
    res.writeHead(range ? 206 : 200, {});
    res.write(body);
    const more = Buffer.alloc(65536, 0x3c);
    const pump = () => {
      while (!res.destroyed && res.write(more)) {}
      if (!res.destroyed) res.once('drain', pump);
    };
    res.on('close', () => res.removeAllListeners('drain'));
    pump();
    return;
  }
  if (content && fault === 'stall') {
    res.writeHead(range ? 206 : 200, { 'Content-Length': body.length });
    res.write(body.subarray(0, body.length >> 1));
    return;
  }
  if (fault === 'drip') {
    res.writeHead(range ? 206 : 200, { 'Content-Length': body.length });
    let at = 0;
    const timer = setInterval(() => {
      if (res.destroyed || at >= body.length) {
        clearInterval(timer);
        if (!res.destroyed) res.end();
        return;
      }
      res.write(body.subarray(at, at + 1));
      at += 1;
    }, 1000);
    res.on('close', () => clearInterval(timer));
    return;
  }
  if (range && !(content && fault === 'range200')) {
    res.writeHead(206, { 'Content-Range': `bytes ${first}-${first + body.length - 1}/${bytes.length}`,
      'Content-Length': body.length });
  } else {
    res.writeHead(200, { 'Content-Length': body.length });
  }
  res.end(body);
}

const server = https.createServer({
  key: fs.readFileSync(path.join(bench, 'localhost.key')),
  cert: fs.readFileSync(path.join(bench, 'localhost.pem')),
  minVersion: 'TLSv1.2',
}, serve);
server.on('clientError', (err, socket) => socket.destroy());
server.listen(0, '127.0.0.1', () => {
  fs.writeFileSync(path.join(state, 'port.tmp'), `${server.address().port}\n`);
  fs.renameSync(path.join(state, 'port.tmp'), path.join(state, 'port'));
});
setTimeout(() => process.exit(0), 3 * 3600 * 1000).unref();
process.on('SIGTERM', () => process.exit(0));
