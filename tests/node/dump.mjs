// Reads an Access file with mdb-reader and prints what it sees as JSON, for the tests that
// compare it with our engine and with libmdb:
//   {"tables": [{"name": ..., "columns": [{"name": ..., "type": ...}], "rows": [[...], ...]}]}
// Tables are the user tables in the order mdb-reader lists them. Every value is text in a
// locale-free form, or null:
//   integers and decimals plain ("-12.5"); single and double numbers as their shortest
//   round-trip digits, never with an exponent; currency as a plain decimal without trailing
//   zeros; dates as "YYYY-MM-DD HH:MM:SS" (".mmm" added when the milliseconds are not zero);
//   yes/no as "true"/"false"; GUIDs as "{...}" in upper case; binary and OLE values as lower
//   case hex. Attachments and multi-valued fields (complex columns) are kept in other tables and
//   print null.
// Usage: node dump.mjs <file> [password]
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

// Digits and exponent of a number's shortest text, expanded without an exponent.
function plainNumber(text) {
  const m = /^(-?)(\d+)(?:\.(\d+))?(?:e([+-]\d+))?$/.exec(text);
  if (!m) return text; // Infinity, NaN
  const [, sign, whole, fraction = "", exp = "0"] = m;
  let digits = whole + fraction;
  let point = whole.length + Number(exp);
  if (point <= 0) {
    digits = "0".repeat(1 - point) + digits;
    point = 1;
  } else if (point > digits.length) {
    digits = digits + "0".repeat(point - digits.length);
  }
  return canonicalDecimal(sign + digits.slice(0, point) + "." + digits.slice(point));
}

// A decimal text without leading zeros, trailing fraction zeros or a negative zero.
function canonicalDecimal(text) {
  let negative = text.startsWith("-");
  let body = negative ? text.slice(1) : text;
  let [whole, fraction = ""] = body.split(".");
  whole = whole.replace(/^0+/, "") || "0";
  fraction = fraction.replace(/0+$/, "");
  if (whole === "0" && fraction === "") negative = false;
  return (negative ? "-" : "") + whole + (fraction ? "." + fraction : "");
}

// The shortest digits that read back as the same single-precision number.
function singleText(value) {
  if (!Number.isFinite(value)) return String(value);
  for (let p = 1; p <= 9; ++p) {
    const candidate = Number(value.toPrecision(p));
    if (Math.fround(candidate) === value) return plainNumber(String(candidate));
  }
  return plainNumber(String(value));
}

function two(n) {
  return String(n).padStart(2, "0");
}

// mdb-reader turns the stored day number into a date as if the time of day counted backwards
// before 1899-12-30; the stored number's whole part is the day and its fraction the time of that
// day whatever the sign, so -1.25 is 1899-12-29 06:00.
function dateText(read) {
  if (Number.isNaN(read.getTime())) return null;
  const stored = read.getTime() / 86400000 + 25569;
  const whole = Math.trunc(stored);
  const ms = (whole - 25569) * 86400000 + Math.round(Math.abs(stored - whole) * 86400000);
  const date = new Date(ms);
  const year = date.getUTCFullYear();
  let text = `${String(year).padStart(4, "0")}-${two(date.getUTCMonth() + 1)}-${two(date.getUTCDate())}` +
    ` ${two(date.getUTCHours())}:${two(date.getUTCMinutes())}:${two(date.getUTCSeconds())}`;
  if (date.getUTCMilliseconds() !== 0) text += "." + String(date.getUTCMilliseconds()).padStart(3, "0");
  return text;
}

function valueText(type, value) {
  if (value === null || value === undefined) return null;
  switch (type) {
    case "boolean": return value ? "true" : "false";
    case "byte":
    case "integer":
    case "long":
    case "bigint": return String(value);
    case "float": return singleText(value);
    case "double": return plainNumber(String(value));
    case "currency":
    case "numeric": return canonicalDecimal(String(value));
    case "datetime": return dateText(value);
    case "repid": return String(value).toUpperCase();
    case "binary":
    case "ole": return Buffer.from(value).toString("hex");
    case "complex": return null;
    default: return String(value);
  }
}

const [file, password] = process.argv.slice(2);
if (!file) {
  process.stderr.write("usage: node dump.mjs <file> [password]\n");
  process.exit(2);
}
try {
  const reader = new MDBReader(readFileSync(file), password ? { password } : undefined);
  const tables = reader.getTableNames().map((name) => {
    const table = reader.getTable(name);
    const columns = table.getColumns().map((c) => ({ name: c.name, type: c.type }));
    const rows = table.getData().map((row) => columns.map((c) => valueText(c.type, row[c.name])));
    return { name, columns, rows };
  });
  process.stdout.write(JSON.stringify({ tables }) + "\n");
} catch (error) {
  process.stderr.write(`mdb-reader cannot read '${file}': ${error && error.message}\n`);
  process.exit(1);
}
