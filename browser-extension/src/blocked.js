// Passes a navigation that a redirect rule stopped on to Quillharbour's block page, with the
// address it was going to as `from`. Only Quillharbour's own page on this computer is opened, so
// no site can use this page to send a tab elsewhere.
"use strict";

const page = new URLSearchParams(location.search).get("page") || "";
const from = location.hash.slice(1);
// The block page server reads requests up to 16 KiB; a longer address is left out and the block
// page then steps back instead of returning.
const MAX_FROM = 8 * 1024;
if (/^http:\/\/127\.0\.0\.1:[0-9]{1,5}\/blocked\?[^#]*&from=$/.test(page)) {
  const encoded = encodeURIComponent(from);
  location.replace(page + (encoded.length <= MAX_FROM ? encoded : ""));
}
