// Reports the active tab of the browser's focused window to Quillharbour, and keeps the browser
// from loading the sites it blocks. Quillharbour is reached through native messaging: the browser
// starts the program's relay, which passes messages to the running program. While no program
// answers, no rule stays in force: quitting Quillharbour turns blocking off.
"use strict";

const api = globalThis.browser ?? globalThis.chrome;
const HOST_NAME = "com.morrowfield.quillharbour";
const PROTOCOL = 1;
const RETRY_MS = 5000;
// The browser refuses native messages over 1 MiB from its side of the relay's limit; an address
// this long is reported as none rather than cut.
const MAX_URL_LENGTH = 512 * 1024;

let port = null;
let retryTimer = null;
let lastReport = "";
// The hello being sent: the program reads a tab report only from an extension that said hello,
// so no report may overtake it.
let greeting = Promise.resolve();
let appliedSites = "[]";
// The domains the browser's own rules send to the block page now, once they are in force.
let ruledDomains = [];

// What was caught and let go, for whoever reads the extension's console; it changes nothing.
function noteSwallowed(what, error) {
  console.debug(`Quillharbour: ${what}:`, error);
}

function send(message) {
  if (!port) return;
  try {
    port.postMessage(message);
  } catch (e) {
    dropPort();
  }
}

function dropPort() {
  port = null;
  watchFocus(false);
  lastReport = "";
  clearRules().then(sendBlockPagesBack);
  scheduleConnect();
}

function scheduleConnect() {
  if (retryTimer !== null) return;
  retryTimer = setTimeout(() => {
    retryTimer = null;
    connect();
  }, RETRY_MS);
}

function connect() {
  if (port) return;
  let p;
  try {
    p = api.runtime.connectNative(HOST_NAME);
  } catch (e) {
    scheduleConnect();
    return;
  }
  port = p;
  p.onMessage.addListener(onMessage);
  p.onDisconnect.addListener(() => {
    if (port === p) dropPort();
  });
  greeting = hello();
  report();
}

async function browserDescription() {
  if (api.runtime.getBrowserInfo) {
    const info = await api.runtime.getBrowserInfo();
    return { browser: info.name, browserVersion: info.version };
  }
  const brands = (navigator.userAgentData && navigator.userAgentData.brands) || [];
  const named = brands.filter((b) => !/Not.A.Brand/i.test(b.brand));
  const pick = named.find((b) => b.brand !== "Chromium") || named[0] || { brand: "Chromium", version: "" };
  return { browser: pick.brand, browserVersion: pick.version };
}

async function hello() {
  let description = { browser: "", browserVersion: "" };
  let privateAllowed = false;
  try {
    description = await browserDescription();
  } catch (e) {
    // Unnamed: the program still hears the hello.
    noteSwallowed("no browser description", e);
  }
  try {
    privateAllowed = !!(await api.extension.isAllowedIncognitoAccess());
  } catch (e) {
    // Not told: private windows count as not allowed.
    noteSwallowed("private window access unknown", e);
  }
  send({
    type: "hello",
    protocol: PROTOCOL,
    browser: description.browser,
    browserVersion: description.browserVersion,
    extensionVersion: api.runtime.getManifest().version,
    privateWindowsAllowed: privateAllowed,
  });
}

// The active tab of the last focused window, and whether that window has the focus now. A window
// the extension may not see (a private one it is not allowed in) counts as no focus.
let reportCount = 0;
// Chromium does not tell the extension when another program takes the focus, nor, once that has
// happened, when its window gets the focus back; and on Wayland the program cannot see the window
// in front. So while the answer matters, a window in front or a web page that counts once it is,
// look again every second.
const FOCUS_CHECK_MS = 1000;
let focusCheck = null;

function watchFocus(matters) {
  if (matters && focusCheck === null) focusCheck = setInterval(report, FOCUS_CHECK_MS);
  else if (!matters && focusCheck !== null) {
    clearInterval(focusCheck);
    focusCheck = null;
  }
}

async function report() {
  if (!port) return;
  // Events come in bursts and each look is asynchronous: only the look started last may speak, or
  // an older answer arriving late would overwrite the current tab.
  const mine = ++reportCount;
  let message = { type: "tab", tabId: -1, url: "", focused: false };
  try {
    const win = await api.windows.getLastFocused({ windowTypes: ["normal"] });
    const [tab] = await api.tabs.query({ active: true, windowId: win.id });
    const url = (tab && (ruledAway(tab.pendingUrl) ? tab.url : tab.pendingUrl || tab.url)) || "";
    message = {
      type: "tab",
      tabId: tab ? tab.id : -1,
      url: url.length <= MAX_URL_LENGTH ? url : "",
      focused: !!win.focused,
    };
  } catch (e) {
    // No window to look at (the last one closing): no tab, no focus.
    noteSwallowed("no window to report", e);
  }
  await greeting;
  if (mine !== reportCount) return;
  watchFocus(port !== null && (message.focused || /^https?:/i.test(message.url)));
  const text = JSON.stringify(message);
  if (text === lastReport) return;
  lastReport = text;
  send(message);
}

// A navigation under way to a site the rules block is already on its way to the block page:
// reported as the address it is leaving, the program would send it there a second time and
// start the navigation over.
function ruledAway(address) {
  if (!address || ruledDomains.length === 0) return false;
  let host;
  try {
    host = new URL(address).hostname.toLowerCase();
  } catch (e) {
    return false;
  }
  return ruledDomains.some((d) => host === d || host.endsWith("." + d));
}

function ruleFor(site, index) {
  // A redirect rule cannot encode the address it stopped: it goes to Quillharbour's page as it
  // was, after `url=`, which the page server reads to the end. The browser never sends a
  // fragment; it stays on the block page's own address.
  return {
    id: index + 1,
    priority: 1,
    action: { type: "redirect", redirect: { regexSubstitution: site.page.replace(/&from=$/, "&url=") + "\\0" } },
    condition: { requestDomains: [site.domain], regexFilter: "^.+$", resourceTypes: ["main_frame"] },
  };
}

async function replaceRules(sites) {
  // Whatever happens below, the old rules may be gone already.
  ruledDomains = [];
  const existing = await api.declarativeNetRequest.getDynamicRules();
  await api.declarativeNetRequest.updateDynamicRules({
    removeRuleIds: existing.map((r) => r.id),
    addRules: sites.map(ruleFor),
  });
  ruledDomains = sites.map((s) => s.domain.toLowerCase());
}

// Settles once the rules are gone, so that nothing sent back meets them on its way.
function clearRules() {
  appliedSites = "[]";
  return replaceRules([]).catch((e) => noteSwallowed("rules not cleared", e));
}

async function applySites(sites) {
  const valid = (Array.isArray(sites) ? sites : []).filter(
    (s) => s && typeof s.domain === "string" && typeof s.page === "string" && isPageToFill(s.page)
  );
  const text = JSON.stringify(valid);
  if (text === appliedSites) return;
  appliedSites = text;
  try {
    await replaceRules(valid);
  } catch (e) {
    appliedSites = "[]";
  }
}

function isBlockPage(address) {
  return /^http:\/\/127\.0\.0\.1:[0-9]{1,5}\/blocked\?/.test(address);
}

// The page of a blocked list: the block page with an empty `from` at its end.
function isPageToFill(address) {
  return isBlockPage(address) && /^[^#]*&from=$/.test(address);
}

// The address a block page came from, as the page itself would return to it: a web address away
// from this machine, or nothing. The page carries it encoded in `from`, or, straight from a
// redirect rule, as it was after `url=`.
function returnAddress(page) {
  const query = page.slice(page.indexOf("?") + 1).split("#")[0];
  let address = null;
  const raw = query.indexOf("&url=");
  if (raw >= 0) address = page.slice(page.indexOf("?") + 1 + raw + 5);
  else
    for (const item of query.split("&"))
      if (item.startsWith("from=")) {
        try {
          address = decodeURIComponent(item.slice(5));
        } catch (e) {
          return null;
        }
      }
  if (!address) return null;
  let url;
  try {
    url = new URL(address);
  } catch (e) {
    return null;
  }
  const host = url.hostname.toLowerCase();
  if (url.protocol !== "http:" && url.protocol !== "https:") return null;
  if (host === "" || host === "127.0.0.1" || host === "localhost" || host === "[::1]") return null;
  return address;
}

// Blocking has ended with the program: every tab on a block page goes back to its site, as the
// page itself does when a block ends, instead of waiting on a server that is gone.
async function sendBlockPagesBack() {
  let tabs = [];
  try {
    tabs = await api.tabs.query({});
  } catch (e) {
    noteSwallowed("tabs not listed", e);
  }
  for (const tab of tabs) {
    const shown = tab.pendingUrl || tab.url || "";
    if (!isBlockPage(shown)) continue;
    const address = returnAddress(shown);
    if (address) api.tabs.update(tab.id, { url: address }).catch((e) => noteSwallowed("tab not returned", e));
  }
}

// The browser's own page for extensions, which it lets only an extension open.
function isExtensionsPage(address) {
  return /^(chrome|edge|brave|vivaldi|opera):\/\/extensions\/?(\?id=[a-p]{32})?$/.test(address);
}

async function openPage(message) {
  let ok = false;
  try {
    const tab = await api.tabs.create({ url: message.url, active: true });
    await api.windows.update(tab.windowId, { focused: true });
    ok = true;
  } catch (e) {
    noteSwallowed("page not opened", e);
  }
  send({ type: "done", id: message.id, ok });
}

// Acts on a tab only while it still shows the address the program read.
async function onTab(message, act) {
  let ok = false;
  try {
    const tab = await api.tabs.get(message.tabId);
    const current = tab.pendingUrl || tab.url;
    if (current === message.ifURL) {
      await act(tab);
      ok = true;
    }
  } catch (e) {
    // The tab is gone or refused the change: reported as not done.
    noteSwallowed("tab not changed", e);
  }
  send({ type: "done", id: message.id, ok });
}

function onMessage(message) {
  if (!message || typeof message !== "object") return;
  switch (message.type) {
    case "blocked":
      applySites(message.sites);
      break;
    case "redirect":
      if (typeof message.to === "string" && isBlockPage(message.to))
        onTab(message, (tab) => api.tabs.update(tab.id, { url: message.to }));
      else send({ type: "done", id: message.id, ok: false });
      break;
    case "close":
      onTab(message, (tab) => api.tabs.remove(tab.id));
      break;
    case "open":
      if (typeof message.url === "string" && isExtensionsPage(message.url)) openPage(message);
      else send({ type: "done", id: message.id, ok: false });
      break;
    case "absent":
      // The relay runs but the program does not: nothing may stay blocked.
      lastReport = "";
      clearRules().then(sendBlockPagesBack);
      break;
    case "present":
      // What was said before the relay reached the program went nowhere: all of it again.
      lastReport = "";
      greeting = hello();
      report();
      break;
  }
}

api.tabs.onActivated.addListener(report);
api.tabs.onUpdated.addListener((tabId, change) => {
  if (change.url !== undefined || change.status !== undefined) report();
});
api.tabs.onRemoved.addListener(report);
api.windows.onFocusChanged.addListener(report);
api.runtime.onStartup.addListener(connect);
api.runtime.onInstalled.addListener(connect);
connect();
