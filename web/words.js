// The words: every text the page shows comes from the message tables,
// in the language chosen.

export const $ = id => document.getElementById(id);
export const element = (tag, props, ...children) => {
  const e = Object.assign(document.createElement(tag), props);
  e.append(...children);
  return e;
};
let messages = null, rtl = []; // every language's table, once unpacked; those written right to left
let lang, number, plural, list; // the language chosen, and its ways with numbers and lists

// The tables come packed by the build (the keys once, each language's texts
// in their order; raw deflate, then base64), a third of their size; the
// browser unpacks them itself. Each language is then offered in the list,
// by its own name.
export async function unpack() {
  const packed = Uint8Array.from(atob($('messages').textContent.trim()), c => c.charCodeAt(0));
  const stream = new Blob([packed]).stream().pipeThrough(new DecompressionStream('deflate-raw'));
  const { keys, texts, rtl: right } = JSON.parse(await new Response(stream).text());
  messages = Object.fromEntries(Object.entries(texts).map(([code, list]) =>
    [code, Object.fromEntries(keys.map((key, i) => [key, list[i]]))]));
  rtl = right;
  for (const code of Object.keys(messages))
    $('lang').append(element('option', { value: code, lang: code, textContent: messages[code].language }));
}

// A message in the chosen language, or in English where its table has none.
// A number among the values is written the reader's way, a value [message,
// values] is a message of its own, a value { list } a list of names in the
// language's way, and a message with forms for counts takes the one for
// exactly n (=0), else the one its language uses for n.
function text(key, values = {}) {
  let message = messages[lang][key] || messages.en[key];
  if (typeof message === 'object')
    message = message['=' + values.n] || message[plural.select(values.n)] || message.other;
  return message.replace(/\{(\w+)\}/g, (_, name) => {
    const value = values[name];
    return typeof value === 'number' ? number.format(value) : Array.isArray(value) ? text(...value)
         : value?.list ? list.format(value.list) : value;
  });
}
// Names as a list, { list }, for a message's values.
export const names = list => ({ list });

// Shows a message in an element, which keeps it, so that a change of
// language shows it anew. The page's fixed texts name theirs in data-m,
// with any values in other data- attributes.
export function say(e, key, values = {}) {
  e.values = values;
  e.dataset.m = key;
  return show(e);
}
function show(e) { // the element's message, in the language chosen
  const message = text(e.dataset.m, e.values || e.dataset), parts = [];
  let at = 0;
  for (const found of message.matchAll(DATA)) {
    parts.push(message.slice(at, found.index), whole(found));
    at = found.index + found[0].length;
  }
  e.replaceChildren(...parts, message.slice(at));
  return e;
}
// What a message holds that must stay whole on its line, with the
// punctuation around it (and a hyphen that joins it to a word): a file's name (DUKE3D.EXE, DUKE3D(1).EXE,
// DUKE3D.BAK.part) or SHA-256, left to right in every language and never
// hyphenated (a name too long for a narrow screen, such as a leftover's, may
// break); and a number joined to its unit by a no-break space, which moves
// to the next line whole, and is parted between number and unit only where
// it is wider than the line, the punctuation after it going with the unit.
// A unit is a word with its marks, or in scripts without spaces a run of
// katakana or one character.
const DATA = /([(\[«„“‘「（]*)(?:(\w[\w()-]*(?:\.[\w-]+)*\.(?:EXE|BAK|part|crswap)\b|SHA-256)|(\p{N}(?:[\p{N}.,\u00a0\u202f\u066c]*\p{N})?\u00a0(?:[\p{sc=Katakana}ー]+|[\p{sc=Han}\p{sc=Hiragana}]|(?:[^\P{L}\p{sc=Han}\p{sc=Hiragana}\p{sc=Katakana}]|\p{M})+)))([-.,:;!?)\]»”’。、，：；）」]*)/giu;
const whole = ([, open, name, size, close]) => element('span', { className: 'whole' }, open, ...name ?
  [element('span', { className: name.length > 16 ? 'name long' : 'name', dir: 'ltr' }, ...parted(name)), close] :
  [element('span', { className: 'size' }, size.replace(/\u00a0(?=\P{N}*$)/u, ' '), close)]);
// A long name may break before its second and later extensions, and only there.
const parted = name => name.split(/(?=\.)/).flatMap((part, i) => i > 1 ? [element('wbr', {}), part] : [part]);
export function plain(e, data) { // a text that is the same in every language
  delete e.dataset.m;
  e.textContent = data;
}

// The language: the address's (#lang=de), else the first of the reader's
// that the page has, by the whole tag and then by the language alone; else
// English. Tags are compared as text, not parsed: some browsers report
// their locale's name (such as C), which is no tag at all.
export function preferred(codes = Object.keys(messages)) {
  const asked = [new URLSearchParams(location.hash.slice(1)).get('lang'), ...(navigator.languages || [navigator.language])];
  for (const tag of asked.filter(Boolean).map(t => String(t).toLowerCase())) {
    const found = codes.find(code => code.toLowerCase() === tag) ||
                  codes.find(code => code.split('-')[0] === tag.split(/[-_]/)[0]);
    if (found) return found;
  }
  return 'en';
}

// Every text on the page, anew in the language given.
export function speak(code) {
  lang = code;
  number = new Intl.NumberFormat(code);
  plural = new Intl.PluralRules(code);
  list = new Intl.ListFormat(code, { type: 'conjunction' });
  document.documentElement.lang = code;
  document.documentElement.dir = rtl.includes(code) ? 'rtl' : 'ltr';
  $('lang').value = code;
  document.title = text('title');
  document.querySelectorAll('[data-m]').forEach(show);
}

// A number of bytes, as a message.
export const size = n => ['bytes', { n }];
