// The checking page: each form asks the JSON interface and shows the answer in the window's colours.
"use strict";

let login = null; // "Basic …" once the user has logged in; kept only while the page is open

function headers(extra) {
    const all = Object.assign({Accept: "application/json"}, extra);
    if (login)
        all.Authorization = login;
    return all;
}

// The path and request of a form's check, from its fields.
const requests = {
    iban: f => ({path: "iban/" + enc(f.iban) + query({bic: f.bic})}),
    account: f => ({path: "account" + query({country: f.country, bank_code: f.bank_code, account: f.account})}),
    bic: f => ({path: "bic/" + enc(f.bic)}),
    banks: f => ({path: "banks" + query({q: f.q, country: f.country, fragments: f.fragments})}),
    address: f => ({
        path: "address" + query({
            zip: f.zip, city: f.city, street: f.street, house_number: f.house_number, po_box: f.po_box,
            rewrite: f.rewrite
        })
    }),
    vat: f => ({path: "vat/" + enc(f.id) + query({vies: f.vies})}),
    confirm: f => ({path: "vat/confirmations", method: "POST", body: JSON.stringify(dropEmpty(f))}),
    journal: f => ({path: "journal" + query({id: f.id, from: f.from, to: f.to})}),
};

function enc(text) {
    return encodeURIComponent(text.replace(/\s+/g, ""));
}

function dropEmpty(fields) {
    return Object.fromEntries(Object.entries(fields).filter(([, value]) => value !== undefined && value !== ""));
}

function query(fields) {
    const given = new URLSearchParams(dropEmpty(fields)).toString();
    return given ? "?" + given : "";
}

function fieldsOf(form) {
    const fields = {};
    for (const element of form.elements)
        if (element.name && (element.type !== "checkbox" || element.checked))
            fields[element.name] = element.value.trim();
    return fields;
}

// German names of the answers' fields; others show as they are named.
const names = {
    result: "Ergebnis", valid: "Gültig", iban: "IBAN", bic: "BIC", bank: "Bank", code: "Bankleitzahl", name: "Name",
    zip: "Postleitzahl", city: "Ort", street: "Straße", district: "Ortsteil", sepa: "SEPA", sct: "SCT", sdd: "SDD",
    b2b: "B2B", scc: "SCC", source: "Quelle", date: "Stand", data: "Daten", valid_from: "Gültig ab",
    bic_name: "Bank des BIC", rewritten: "Berichtigt", street_46: "Straße (46)", street_22: "Straße (22)",
    country_code: "Land", vies: "VIES", trader: "Unternehmen",
    superseded: "Neuere Ausgabe", places: "Orte", former_places: "Frühere Orte", new_bank_code: "Neue Bankleitzahl",
    vat_id: "USt-IdNr.", country: "Land", number: "Nummer", address: "Anschrift", service: "Dienst",
    request_id: "Kennung", qualified: "Qualifiziert", status: "Status", message: "Meldung", matches: "Abgleich",
    id: "Journal-Nr.", request_time: "Anfragezeit", fault: "Antwort des Dienstes", time_local: "Zeit",
    tries: "Versuche", type: "Typ", banks: "Banken", count: "Anzahl", time: "Zeit",
};

function text(value) {
    if (value === true)
        return "ja";
    if (value === false)
        return "nein";
    if (Array.isArray(value))
        return value.map(text).join("; ");
    if (value !== null && typeof value === "object")
        return Object.entries(value)
            .filter(([, inner]) => inner !== null && inner !== "")
            .map(([key, inner]) => (names[key] || key) + ": " + text(inner))
            .join(", ");
    return String(value ?? "");
}

// "2026-12-11T10:41:24+01:00" as "11.12.2026 10:41:24" (the service's local time), a date alone likewise.
function germanTime(iso) {
    const parts = /^(\d{4})-(\d\d)-(\d\d)(?:T(\d\d:\d\d:\d\d))?/.exec(iso || "");
    return parts ? parts[3] + "." + parts[2] + "." + parts[1] + (parts[4] ? " " + parts[4] : "") : iso;
}

const serviceNames = {vies: "VIES", bzst: "BZSt"};

// What a service's match code means, in the window's words.
const matchWords = {
    vies: {1: "stimmt überein", 2: "stimmt nicht überein", 3: "nicht geprüft"},
    bzst: {
        A: "stimmt überein", B: "stimmt nicht überein", C: "nicht angefragt", D: "vom Mitgliedstaat nicht mitgeteilt"
    },
};

// A journal record's fields as a person reads them.
function readable(record) {
    const words = matchWords[record.service] || {};
    const matches = Object.entries(record.matches || {})
        .filter(([, code]) => code)
        .map(([field, code]) => [field, words[code] || "Code " + code]);
    return Object.assign({}, record, {
        service: serviceNames[record.service] || record.service,
        matches: matches.length ? Object.fromEntries(matches) : null,
        request_time: germanTime(record.request_time),
        valid_from: germanTime(record.valid_from),
        time_local: germanTime(record.time_local),
    });
}

function element(tag, content, className) {
    const made = document.createElement(tag);
    if (content !== undefined)
        made.textContent = content;
    if (className)
        made.className = className;
    return made;
}

// A confirmation's verdict in the words and colours of the window's confirmation dialog.
function confirmation(record) {
    if (record.status === "valid")
        return record.qualified ? ["Gültig", "pass"] : ["Gültig, nicht qualifiziert", "open"];
    return record.status === "invalid" ? ["Ungültig", "fail"] : ["Nicht geprüft", "open"];
}

function proofLink(id, caption = "Nachweis (PDF)") {
    const link = element("a", caption);
    link.setAttribute("aria-label", "Nachweis Nr. " + id + " (PDF)");
    link.href = "/api/v1/journal/" + encodeURIComponent(id) + "/proof.pdf";
    link.addEventListener("click", downloadWithLogin);
    return link;
}

// A table wider or longer than its form scrolls in its own box, which the keyboard reaches too.
function scrolling(table, label) {
    const box = element("div", undefined, "scroll");
    box.tabIndex = 0;
    box.setAttribute("aria-label", label);
    box.appendChild(table);
    return box;
}

// The journal's records as a table, each with a link to its PDF proof.
function journalTable(records) {
    const table = element("table");
    const head = table.insertRow();
    for (const caption of ["Nr.", "Zeit", "USt-IdNr.", "Ergebnis", "Dienst", "Name", "Ort", "Nachweis"])
        head.appendChild(element("th", caption));
    for (const record of records) {
        const row = table.insertRow();
        const [verdict, tone] = confirmation(record);
        const shown = readable(record);
        for (const value of [shown.id, shown.time_local, shown.vat_id, verdict, shown.service, shown.name, shown.city])
            row.insertCell().textContent = text(value);
        row.cells[3].className = tone;
        row.insertCell().appendChild(proofLink(record.id, "PDF"));
    }
    return scrolling(table, "Einträge im Journal");
}

// A link the browser would follow without the login: fetched with it and handed over as a download.
async function downloadWithLogin(event) {
    if (!login)
        return;
    event.preventDefault();
    const link = event.currentTarget;
    const answer = await fetch(link.href, {headers: headers({Accept: "application/pdf"}), credentials: "omit"});
    if (!answer.ok)
        return;
    const saved = element("a");
    saved.href = URL.createObjectURL(await answer.blob());
    saved.download = link.pathname.split("/").slice(-2).join("-");
    saved.click();
    URL.revokeObjectURL(saved.href);
}

function show(result, verdict, tone, details) {
    result.className = "result " + tone;
    result.replaceChildren(element("p", verdict, "verdict"));
    if (details)
        result.appendChild(details);
    result.focus();
}

// What a confirmation shows of its journal record; the rest is in the proof.
const confirmationFields = ["id", "vat_id", "service", "request_id", "request_time", "matches", "valid_from"];

// The banks a search found, as a table of at most kShownBanks rows.
const kShownBanks = 100;

function bankTable(banks) {
    const table = element("table");
    const head = table.insertRow();
    for (const caption of ["BLZ", "BIC", "Name", "PLZ", "Ort"])
        head.appendChild(element("th", caption));
    for (const bank of banks.slice(0, kShownBanks)) {
        const row = table.insertRow();
        for (const value of [bank.code, bank.bic, bank.name, bank.zip, bank.city])
            row.insertCell().textContent = text(value);
    }
    const list = scrolling(table, "Gefundene Banken");
    if (banks.length > kShownBanks)
        list.appendChild(element("p", "… und " + (banks.length - kShownBanks) + " weitere"));
    return list;
}

function detailList(answer, only) {
    const list = element("dl");
    for (const [key, value] of Object.entries(answer)) {
        const shownElsewhere = ["check", "result", "result_text", "valid", "verdict", "banks"].includes(key);
        const empty = value === null || value === undefined || value === "" || (Array.isArray(value) && !value.length);
        if (shownElsewhere || empty || (only && !only.includes(key)))
            continue;
        list.append(element("dt", names[key] || key), element("dd", text(value)));
    }
    return list.childElementCount ? list : null;
}

// A problem answer (RFC 9457) or a check's answer, in words and colours.
function present(result, status, answer) {
    if (status === 401) {
        login = null;
        document.body.dataset.login = "1";
        showLogin("Anmeldung erforderlich: " + (answer.detail || answer.title || ""));
    }
    // A confirmation that no service answered is kept in the journal: not checked yet, not a fault.
    if (answer.title && answer.status && answer.journal_id) {
        show(result, "Nicht geprüft", "open",
             detailList({message: answer.title, fault: answer.fault, id: answer.journal_id}));
        result.appendChild(proofLink(answer.journal_id));
        return;
    }
    if (answer.title && answer.status)
        return show(result, "Fehler: " + (answer.detail || answer.title), "fault");
    if (Array.isArray(answer.records)) {
        const count = answer.records.length;
        const verdict = count ? count + (count === 1 ? " Eintrag" : " Einträge") : "Keine Einträge";
        return show(result, verdict + " im Journal", "pass", count ? journalTable(answer.records) : null);
    }
    if (answer.qualified !== undefined) {
        const [verdict, tone] = confirmation(answer);
        show(result, verdict + ": " + answer.message, tone, detailList(readable(answer), confirmationFields));
        if (answer.id)
            result.appendChild(proofLink(answer.id));
        return;
    }
    // A search passes when it found banks, as in the window.
    const passed = Array.isArray(answer.banks) ? answer.banks.length > 0 : answer.valid;
    show(result, answer.result + " – " + answer.result_text, passed ? "pass" : "fail", detailList(answer));
    if (Array.isArray(answer.banks) && answer.banks.length)
        result.appendChild(bankTable(answer.banks));
}

async function check(form) {
    const result = form.querySelector(".result");
    const request = requests[form.dataset.check](fieldsOf(form));
    const button = form.querySelector("button");
    button.disabled = true;
    result.className = "result";
    result.textContent = "Prüfe …";
    try {
        const answer = await fetch("/api/v1/" + request.path, {
            method: request.method || "GET",
            headers: headers(request.body ? {"Content-Type": "application/json"} : {}),
            body: request.body,
            credentials: "omit",
        });
        const type = answer.headers.get("Content-Type") || "";
        present(result, answer.status, type.includes("json") ? await answer.json() : {
            status: answer.status,
            title: "keine Antwort der Prüfschnittstelle",
        });
    } catch (error) {
        show(result, "Der Dienst antwortet nicht: " + error.message, "fault");
    } finally {
        button.disabled = false;
    }
}

function showLogin(message) {
    const form = document.getElementById("login");
    form.hidden = false;
    if (message)
        show(form.querySelector(".result"), message, "fault");
    else
        document.getElementById("login-user").focus();
}

// The login is tried once on a cheap check, so that a typing error shows at once and not at the first real check.
async function logIn(form) {
    const fields = fieldsOf(form);
    const result = form.querySelector(".result");
    const bytes = new TextEncoder().encode(fields.user + ":" + form.elements.password.value);
    login = "Basic " + btoa(String.fromCharCode(...bytes));
    const answer = await fetch("/api/v1/postal-codes/10115", {headers: headers(), credentials: "omit"});
    if (answer.status === 401 || answer.status === 429) {
        login = null;
        const problem = await answer.json().catch(() => ({}));
        return show(result, problem.detail || problem.title || "Anmeldung fehlgeschlagen", "fault");
    }
    form.hidden = true;
    document.body.dataset.login = "done";
    await showInfo();
    document.querySelector("#checks input").focus();
}

// The details of the service a login was needed for, from the page itself.
async function showInfo() {
    const answer = await fetch("/", {headers: headers({Accept: "text/html"}), credentials: "omit"});
    const page = new DOMParser().parseFromString(await answer.text(), "text/html");
    const info = page.getElementById("info");
    if (answer.ok && info)
        document.getElementById("info").replaceWith(document.adoptNode(info));
}

document.addEventListener("DOMContentLoaded", () => {
    for (const form of document.querySelectorAll("form.check"))
        form.addEventListener("submit", event => {
            event.preventDefault();
            (form.id === "login" ? logIn : check)(form);
        });
    if (document.body.dataset.login === "1")
        showLogin();
});
