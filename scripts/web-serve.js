#!/usr/bin/env node
// Serves a folder of static files on 127.0.0.1 (loopback only) for the web
// build: the cross-origin isolation headers that let a page share memory
// between threads, unless --no-isolation; files only, no listings, nothing
// outside the folder.
//
//   node scripts/web-serve.js [--root DIR] [--port N] [--no-isolation]
//
// Prints "Serving DIR on http://127.0.0.1:PORT/" once it listens (port 0
// picks a free one) and runs until it is stopped.
'use strict';
const http = require('http');
const fs = require('fs');
const path = require('path');

const TYPES = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8', '.wasm': 'application/wasm',
  '.png': 'image/png', '.json': 'application/json', '.css': 'text/css; charset=utf-8', '.txt': 'text/plain'
};

function parse(argv) {
  const options = {root: path.join(__dirname, '..', 'build-web', 'dist'), port: 8000, isolation: true};
  for (let i = 0; i < argv.length; ++i) {
    const arg = argv[i];
    if (arg === '--root' && i + 1 < argv.length) options.root = argv[++i];
    else if (arg === '--port' && i + 1 < argv.length && /^\d+$/.test(argv[i + 1])) options.port = Number(argv[++i]);
    else if (arg === '--no-isolation') options.isolation = false;
    else {
      process.stderr.write(`web-serve: unknown or incomplete option "${arg}"\n` +
                           'usage: web-serve.js [--root DIR] [--port N] [--no-isolation]\n');
      process.exit(2);
    }
  }
  options.root = path.resolve(options.root);
  return options;
}

function serve(options) {
  return http.createServer((request, response) => {
    const headers = {'Cache-Control': 'no-store'};
    if (options.isolation) {
      headers['Cross-Origin-Opener-Policy'] = 'same-origin';
      headers['Cross-Origin-Embedder-Policy'] = 'require-corp';
    }
    let name;
    try {
      name = decodeURIComponent(new URL(request.url, 'http://127.0.0.1').pathname);
    } catch (e) {
      name = null;
    }
    if (name !== null && name.endsWith('/')) name += 'index.html';
    const file = name === null ? null : path.join(options.root, path.normalize(name));
    const inside = file !== null && (file === options.root || file.startsWith(options.root + path.sep));
    if (request.method !== 'GET' && request.method !== 'HEAD') {
      response.writeHead(405, headers);
      return response.end();
    }
    fs.stat(inside ? file : '', (error, info) => {
      if (error || !info.isFile()) {
        response.writeHead(404, Object.assign({'Content-Type': 'text/plain'}, headers));
        return response.end('not found\n');
      }
      headers['Content-Type'] = TYPES[path.extname(file).toLowerCase()] || 'application/octet-stream';
      headers['Content-Length'] = info.size;
      response.writeHead(200, headers);
      if (request.method === 'HEAD') return response.end();
      fs.createReadStream(file).pipe(response);
    });
  });
}

if (require.main === module) {
  const options = parse(process.argv.slice(2));
  const server = serve(options);
  server.on('error', (e) => {
    process.stderr.write(`web-serve: cannot listen on 127.0.0.1:${options.port}: ${e.message}\n`);
    process.exit(1);
  });
  server.listen(options.port, '127.0.0.1', () => {
    process.stdout.write(`Serving ${options.root} on http://127.0.0.1:${server.address().port}/\n`);
  });
}

module.exports = {serve};
