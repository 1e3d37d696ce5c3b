// An OAuth 2.0 authorization server on loopback for the sign-in tests, built
// on oidc-provider: the authorization code flow with PKCE (S256) required,
// rotating refresh tokens, opaque access tokens that live a few seconds,
// token introspection for Dovecot and token revocation.
//
//   node provider.mjs STATE_DIR
//
// It listens on 127.0.0.1 at a port the system picks and writes
// STATE_DIR/port once it accepts connections. Environment:
//   OSTREL_OAUTH_ACCESS_TTL   access token lifetime in seconds (default 4)
//   OSTREL_OAUTH_PASSWORD     the password of every test user (default "secret")
//   OSTREL_OAUTH_INTROSPECTION_SECRET  the secret of the "dovecot" client
//
// Users are oauth01 .. oauth09. The client "ostrel-test" is a public native
// client: any port on http://127.0.0.1/ is a valid redirect (RFC 8252).
import { writeFileSync, renameSync } from 'node:fs';
import { join } from 'node:path';
import Provider, { errors } from 'oidc-provider';

const stateDir = process.argv[2];
if (!stateDir) {
  console.error('usage: node provider.mjs STATE_DIR');
  process.exit(2);
}
const accessTtl = Number(process.env.OSTREL_OAUTH_ACCESS_TTL || 4);
const password = process.env.OSTREL_OAUTH_PASSWORD || 'secret';
const introspectionSecret = process.env.OSTREL_OAUTH_INTROSPECTION_SECRET || 'dovecot-secret';
const resource = 'urn:ostrel:test:mail';
const knownUser = (login) => /^oauth0[1-9]$/.test(login);

const html = (title, body) => `<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>${title}</title></head>
<body><h1>${title}</h1>${body}</body></html>`;

const escape = (text) => String(text).replace(/[&<>"']/g, (c) => `&#${c.charCodeAt(0)};`);

async function formBody(req) {
  const chunks = [];
  for await (const chunk of req) chunks.push(chunk);
  return new URLSearchParams(Buffer.concat(chunks).toString('utf8'));
}

// Binds to port 0 first so that the issuer can name the port the system chose.
const { createServer } = await import('node:http');
const server = createServer();
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const { port } = server.address();
const issuer = `http://127.0.0.1:${port}`;

const provider = new Provider(issuer, {
  clients: [
    {
      client_id: 'ostrel-test',
      application_type: 'native',
      token_endpoint_auth_method: 'none',
      grant_types: ['authorization_code', 'refresh_token'],
      response_types: ['code'],
      redirect_uris: ['http://127.0.0.1/'],
    },
    {
      client_id: 'dovecot',
      client_secret: introspectionSecret,
      token_endpoint_auth_method: 'client_secret_basic',
      grant_types: [],
      response_types: [],
      redirect_uris: [],
    },
  ],
  async findAccount(ctx, id) {
    return knownUser(id) ? { accountId: id, claims: async () => ({ sub: id }) } : undefined;
  },
  interactions: { url: (ctx, interaction) => `/interaction/${interaction.uid}` },
  features: {
    devInteractions: { enabled: false },
    introspection: { enabled: true },
    revocation: { enabled: true },
    resourceIndicators: {
      enabled: true,
      defaultResource: async () => resource,
      useGrantedResource: async () => true,
      getResourceServerInfo: async (ctx, indicator) => {
        if (indicator !== resource) throw new errors.InvalidTarget();
        return { scope: 'mail', accessTokenFormat: 'opaque', accessTokenTTL: accessTtl };
      },
    },
  },
  pkce: { required: () => true },
  issueRefreshToken: async (ctx, client) => client.grantTypeAllowed('refresh_token'),
  ttl: { AccessToken: accessTtl, RefreshToken: 24 * 3600, Grant: 24 * 3600, Session: 3600 },
});

// The login and consent pages a person (here: the browser driver) goes through.
provider.use(async (ctx, next) => {
  const match = ctx.path.match(/^\/interaction\/([^/]+)(?:\/(login|allow|deny))?$/);
  if (!match) return next();
  const [, uid, step] = match;
  const details = await provider.interactionDetails(ctx.req, ctx.res);
  if (details.uid !== uid) ctx.throw(400, 'interaction mismatch');

  if (!step) {
    ctx.type = 'html';
    if (details.prompt.name === 'login') {
      const problem = ctx.query.failed ? '<p id="problem">Wrong login or password.</p>' : '';
      ctx.body = html('Sign in to the test provider', `${problem}
<form method="post" action="/interaction/${uid}/login">
<input id="login" name="login" value="${escape(details.params.login_hint || '')}">
<input id="password" name="password" type="password">
<button id="sign-in" type="submit">Sign in</button></form>`);
    } else {
      ctx.body = html('Allow Ostrel to read your mail?', `
<form method="post" action="/interaction/${uid}/allow"><button id="allow" type="submit">Allow</button></form>
<a id="deny" href="/interaction/${uid}/deny">Deny</a>`);
    }
    return undefined;
  }
  if (step === 'deny') {
    return provider.interactionFinished(ctx.req, ctx.res,
      { error: 'access_denied', error_description: 'the user denied access' },
      { mergeWithLastSubmission: false });
  }
  if (ctx.method !== 'POST') ctx.throw(405);
  const form = await formBody(ctx.req);
  if (step === 'login') {
    const login = form.get('login');
    if (!knownUser(login) || form.get('password') !== password) {
      return ctx.redirect(`/interaction/${uid}?failed=1`);
    }
    return provider.interactionFinished(ctx.req, ctx.res, { login: { accountId: login } },
      { mergeWithLastSubmission: false });
  }
  const grant = details.grantId
    ? await provider.Grant.find(details.grantId)
    : new provider.Grant({ accountId: details.session.accountId, clientId: details.params.client_id });
  const { missingOIDCScope, missingResourceScopes } = details.prompt.details;
  if (missingOIDCScope) grant.addOIDCScope(missingOIDCScope.join(' '));
  for (const [indicator, scopes] of Object.entries(missingResourceScopes || {})) {
    grant.addResourceScope(indicator, scopes.join(' '));
  }
  return provider.interactionFinished(ctx.req, ctx.res, { consent: { grantId: await grant.save() } },
    { mergeWithLastSubmission: true });
});

server.on('request', provider.callback());
// Dovecot keeps its connection for introspection open between logins; one that
// Node closed after its default five idle seconds can swallow the next request.
server.keepAliveTimeout = 0;
const portFile = join(stateDir, 'port');
writeFileSync(`${portFile}.new`, `${port}\n`);
renameSync(`${portFile}.new`, portFile);
console.log(`oidc-provider listening on ${issuer}, access tokens live ${accessTtl} s`);
for (const signal of ['SIGTERM', 'SIGINT']) process.on(signal, () => process.exit(0));
