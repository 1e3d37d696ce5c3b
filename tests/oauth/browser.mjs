// The test session's web browser: headless Chromium, driven like a person
// through the test provider's sign-in and consent pages.
//
//   node browser.mjs URL
//
// What the person does comes from the file OSTREL_BROWSER_PLAN, one line:
//   allow LOGIN PASSWORD   sign in and allow access (the usual case)
//   deny LOGIN PASSWORD    sign in, then press Deny
//   close LOGIN PASSWORD   sign in, then close the browser without answering
// Each run appends one line to OSTREL_BROWSER_LOG saying how far it got (never
// an address: the last one holds the authorization code).
import { appendFileSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import puppeteer from 'puppeteer-core';

const url = process.argv[2];
const [action, login, password] = readFileSync(process.env.OSTREL_BROWSER_PLAN, 'utf8').trim().split(/\s+/);
const note = (text) => appendFileSync(process.env.OSTREL_BROWSER_LOG, `${action} ${login}: ${text}\n`);

// The program's loopback address, where the provider sends the browser last.
const programOrigin = new URL(new URL(url).searchParams.get('redirect_uri')).origin;

const profile = mkdtempSync(join(tmpdir(), 'ostrel-browser-'));
const browser = await puppeteer.launch({
  executablePath: '/usr/bin/chromium',
  userDataDir: profile,
  // Without the background-networking flags Chromium keeps trying hosts this
  // machine's closed network refuses.
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
try {
  const page = await browser.newPage();
  page.setDefaultTimeout(20000);
  await page.goto(url);
  if (await page.$('#password')) {
    await page.$eval('#login', (field) => { field.value = ''; });
    await page.type('#login', login);
    await page.type('#password', password);
    await Promise.all([page.waitForNavigation(), page.click('#sign-in')]);
  }
  if (!(await page.$('#allow'))) {
    note(`no consent page; the page says: ${(await page.$eval('body', (b) => b.innerText)).slice(0, 200)}`);
  } else if (action === 'close') {
    note('closed the browser at the consent page');
  } else {
    const answer = action === 'deny' ? '#deny' : '#allow';
    const arrived = page.waitForResponse((response) => response.url().startsWith(programOrigin));
    await page.click(answer);
    const response = await arrived;
    note(`answered ${answer.slice(1)}; the program's page answered ${response.status()}`);
  }
} catch (error) {
  note(`failed: ${error.message}`);
} finally {
  await browser.close();
  rmSync(profile, { recursive: true, force: true });
}
