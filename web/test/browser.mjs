// What the page's browser tests and bench/page_time.mjs share: the page's
// folder served on 127.0.0.1, and the system's Chromium started headless.
import { existsSync, readFileSync, statSync } from 'node:fs';
import { extname, join } from 'node:path';
import { createServer } from 'node:http';

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm' };

// Serves `folder` on 127.0.0.1; resolves to { server, origin }.
export function serve(folder) {
  const server = createServer((request, response) => {
    const path = join(folder, decodeURIComponent(new URL(request.url, 'http://x').pathname).replace(/\/$/, '/index.html'));
    if (!path.startsWith(folder) || !existsSync(path) || statSync(path).isDirectory()) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'Content-Type': TYPES[extname(path)] ?? 'application/octet-stream' });
    response.end(readFileSync(path));
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve({ server, origin: `http://127.0.0.1:${server.address().port}` })));
}

// Starts Chromium at `executablePath` with a fresh profile in `profile`,
// with nothing of its own reaching the network.
export function launch(puppeteer, executablePath, profile) {
  return puppeteer.launch({
    executablePath,
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', `--user-data-dir=${profile}`],
  });
}
