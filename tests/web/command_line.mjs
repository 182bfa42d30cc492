// What the command line makes of a file: the reference for the module and the page.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

// Runs `quarnel NAME` in a fresh folder, as a user converting a file beside
// itself. Output is kept byte for byte (latin1: one character per byte).
export function runCommandLine(cli, name, bytes) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'quarnel-web-'));
  try {
    fs.writeFileSync(path.join(folder, name), bytes);
    const run = spawnSync(cli, [name], { cwd: folder, encoding: 'latin1' });
    const targetPath = path.join(folder, `QZ_${name}`);
    const target = fs.existsSync(targetPath) ? fs.readFileSync(targetPath) : null;
    return { status: run.status, stdout: run.stdout, stderr: run.stderr, target };
  } finally {
    fs.rmSync(folder, { recursive: true, force: true });
  }
}
