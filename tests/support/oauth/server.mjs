// A private authorization server for the tests, on 127.0.0.1 at a free port.
//
//   node server.mjs [--access-token-ttl=SECONDS] [--refresh-token-ttl=SECONDS]
//
// Prints its issuer URL as the first line on stdout once it answers, then
// serves until killed. Clients:
//   "ternbell"  a native public client: PKCE (S256) required, any loopback
//               port for http://127.0.0.1/ (and localhost, [::1]), the
//               authorization code, refresh token and device grants;
//               refresh tokens rotate on every use.
//   "dovecot"   a confidential client ("dovecot-secret") for introspection.
// Scopes: openid, offline_access, email, mail; every grant gets a refresh
// token. The sign-in pages take any login name as the account id (the
// mailbox's address) with no password; a consent page follows.
//
// Test-only routes (no browser needed):
//   POST /test/mint    form "account" [, "scope"]: a new grant for the
//                      ternbell client; answers like a token endpoint
//                      (access_token, refresh_token, expires_in, token_type)
//   POST /test/revoke  form "account": ends every grant of that account
//   GET  /test/stats   counts of token endpoint requests by grant type,
//                      granted or refused
import http from 'node:http';
import { randomBytes } from 'node:crypto';
import Provider from 'oidc-provider';

const options = Object.fromEntries(process.argv.slice(2)
  .map((a) => /^--([^=]+)=(.*)$/u.exec(a)).filter(Boolean).map((m) => [m[1], m[2]]));
const accessTokenTtl = Number(options['access-token-ttl'] ?? 3600);
const refreshTokenTtl = Number(options['refresh-token-ttl'] ?? 14 * 24 * 3600);
const clientId = 'ternbell';
const allScopes = 'openid offline_access email mail';

const html = (s) => String(s).replace(/[&<>"']/gu, (c) => `&#${c.charCodeAt(0)};`);
const page = (title, body) => `<!DOCTYPE html><html><head><meta charset="utf-8"><title>${html(title)}</title></head><body><h1>${html(title)}</h1>${body}</body></html>`;

async function readForm(req) {
  const chunks = [];
  let size = 0;
  for await (const chunk of req) {
    size += chunk.length;
    if (size > 65536) throw new Error('form too large');
    chunks.push(chunk);
  }
  return new URLSearchParams(Buffer.concat(chunks).toString('utf8'));
}

function sendJson(res, status, body) {
  const text = Buffer.from(JSON.stringify(body));
  res.writeHead(status, {
    'content-type': 'application/json', 'cache-control': 'no-store', 'content-length': text.length,
  });
  res.end(text);
}

const server = http.createServer();
await new Promise((resolve) => { server.listen(0, '127.0.0.1', resolve); });
const issuer = `http://127.0.0.1:${server.address().port}`;

const provider = new Provider(issuer, {
  clients: [
    {
      client_id: clientId,
      application_type: 'native',
      token_endpoint_auth_method: 'none',
      redirect_uris: ['http://127.0.0.1/', 'http://localhost/', 'http://[::1]/'],
      grant_types: ['authorization_code', 'refresh_token', 'urn:ietf:params:oauth:grant-type:device_code'],
      response_types: ['code'],
      client_name: 'ternbell tests',
    },
    {
      client_id: 'dovecot',
      client_secret: 'dovecot-secret',
      token_endpoint_auth_method: 'client_secret_basic',
      redirect_uris: [],
      grant_types: [],
      response_types: [],
    },
  ],
  scopes: ['openid', 'offline_access', 'email', 'mail'],
  claims: { openid: ['sub'], email: ['email'] },
  cookies: { keys: [randomBytes(32).toString('hex')] },
  pkce: { required: () => true },
  // The ID token names the account, so a client can say who signed in.
  conformIdTokenClaims: false,
  features: {
    devInteractions: { enabled: false },
    deviceFlow: {
      enabled: true,
      charset: 'base-20',
      async userCodeInputSource(ctx, form) {
        ctx.body = page('Enter the code', form);
      },
      async userCodeConfirmSource(ctx, form, client, deviceInfo, userCode) {
        ctx.body = page('Confirm the code', `<p>${html(userCode)}</p>${form}`);
      },
      async successSource(ctx) {
        ctx.body = page('Signed in', '<p>You may close this page.</p>');
      },
    },
    introspection: {
      enabled: true,
      // Only the mail server may ask about tokens.
      allowedPolicy: async (ctx, client) => client.clientId === 'dovecot',
    },
    revocation: { enabled: true },
  },
  ttl: {
    AccessToken: accessTokenTtl,
    AuthorizationCode: 60,
    DeviceCode: 600,
    Grant: refreshTokenTtl,
    Interaction: 600,
    RefreshToken: refreshTokenTtl,
    Session: 3600,
    IdToken: 3600,
  },
  rotateRefreshToken: () => true,
  // Introspection names the mailbox as "email" too, where a mail server
  // looks for the user by default.
  extraTokenClaims: async (ctx, token) => ({ email: token.accountId }),
  issueRefreshToken: async (ctx, client) => client.grantTypeAllowed('refresh_token'),
  async findAccount(ctx, sub) {
    return { accountId: sub, claims: async () => ({ sub, email: sub }) };
  },
  async loadExistingGrant(ctx) {
    const grantId = ctx.oidc.result?.consent?.grantId
      || ctx.oidc.session.grantIdFor(ctx.oidc.client.clientId);
    return grantId ? ctx.oidc.provider.Grant.find(grantId) : undefined;
  },
});

// Token endpoint requests by grant type, whether granted or refused.
const stats = {};
const count = (ctx) => {
  const type = ctx.oidc?.params?.grant_type ?? ctx.request?.body?.grant_type ?? 'unknown';
  stats[type] = (stats[type] ?? 0) + 1;
};
provider.on('grant.success', count);
provider.on('grant.error', count);

async function newGrant(accountId, scope) {
  const grant = new provider.Grant({ accountId, clientId });
  grant.addOIDCScope(scope);
  return grant;
}

async function interaction(req, res, uid) {
  const details = await provider.interactionDetails(req, res);
  if (details.uid !== uid) throw new Error('interaction mismatch');
  const { prompt, params } = details;
  if (req.method === 'GET') {
    res.writeHead(200, { 'content-type': 'text/html; charset=utf-8' });
    if (prompt.name === 'login') {
      res.end(page('Sign in', `<form method="post" action="/interaction/${html(uid)}">`
        + '<input type="text" name="login" value=""/><input type="hidden" name="step" value="login"/>'
        + '<button type="submit">Sign in</button></form>'));
    } else {
      res.end(page('Allow access', `<p>${html(params.client_id)} asks for ${html(params.scope)}</p>`
        + `<form method="post" action="/interaction/${html(uid)}">`
        + '<input type="hidden" name="step" value="consent"/><button type="submit">Allow</button></form>'));
    }
    return;
  }
  const form = await readForm(req);
  let result;
  if (form.get('step') === 'login') {
    const login = form.get('login');
    if (!login) throw new Error('no login name');
    result = { login: { accountId: login } };
  } else {
    const grant = details.grantId
      ? await provider.Grant.find(details.grantId)
      : await newGrant(details.session.accountId, '');
    grant.addOIDCScope(String(params.scope ?? '').split(' ').filter((s) => allScopes.split(' ').includes(s)).join(' '));
    result = { consent: { grantId: await grant.save() } };
  }
  await provider.interactionFinished(req, res, result, { mergeWithLastSubmission: true });
}

async function mint(req, res) {
  const form = await readForm(req);
  const accountId = form.get('account');
  if (!accountId) {
    sendJson(res, 400, { error: 'invalid_request' });
    return;
  }
  const scope = form.get('scope') || allScopes;
  const client = await provider.Client.find(clientId);
  const grant = await newGrant(accountId, scope);
  const grantId = await grant.save();
  const base = { accountId, client, grantId, scope, gty: 'authorization_code' };
  const accessToken = await new provider.AccessToken(base).save();
  const refreshToken = await new provider.RefreshToken({ ...base, rotations: 0 }).save();
  sendJson(res, 200, {
    access_token: accessToken, refresh_token: refreshToken,
    token_type: 'Bearer', expires_in: accessTokenTtl, scope,
  });
}

// Grants live in the adapter's memory; ending one ends its tokens.
const grantsByAccount = new Map();
provider.on('grant.saved', (grant) => {
  const ids = grantsByAccount.get(grant.accountId) ?? new Set();
  ids.add(grant.jti);
  grantsByAccount.set(grant.accountId, ids);
});

async function revokeAccount(req, res) {
  const form = await readForm(req);
  const ids = grantsByAccount.get(form.get('account')) ?? new Set();
  for (const id of ids) {
    await provider.Grant.adapter.destroy(id);
    for (const model of ['AccessToken', 'RefreshToken']) {
      await provider[model].adapter.revokeByGrantId(id);
    }
  }
  grantsByAccount.delete(form.get('account'));
  sendJson(res, 200, { revoked: ids.size });
}

const callback = provider.callback();
server.on('request', async (req, res) => {
  try {
    const url = new URL(req.url, issuer);
    const m = /^\/interaction\/([^/]+)$/u.exec(url.pathname);
    if (m) {
      await interaction(req, res, m[1]);
    } else if (url.pathname === '/test/mint' && req.method === 'POST') {
      await mint(req, res);
    } else if (url.pathname === '/test/revoke' && req.method === 'POST') {
      await revokeAccount(req, res);
    } else if (url.pathname === '/test/stats') {
      sendJson(res, 200, stats);
    } else {
      callback(req, res);
    }
  } catch (error) {
    if (!res.headersSent) {
      res.writeHead(500, { 'content-type': 'text/plain' });
    }
    res.end(String(error?.message ?? error));
  }
});

process.stdout.write(`${issuer}\n`);
// The test holds our standard input open: when it ends, however it ends, so do we.
process.stdin.on('end', () => process.exit(0));
process.stdin.on('error', () => process.exit(0));
process.stdin.resume();
