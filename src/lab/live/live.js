// The live page: every bench's newest test, kept current by the server's event stream.
// Every text from the server is set as text (textContent), never as markup.
"use strict";
(function () {
  var snapshot = null;
  // The server's clock minus this browser's, from the newest snapshot: a browser whose clock
  // is wrong still tells a silent bench right.
  var offsetMs = 0;
  var source = null;
  var retryMs = 1000;

  function el(tag, className, text) {
    var e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined && text !== null) e.textContent = String(text);
    return e;
  }

  function serverNow() { return Date.now() + offsetMs; }

  function two(n) { return (n < 10 ? "0" : "") + n; }
  // The time of day, with the date when it is not today's.
  function clock(ms) {
    var d = new Date(ms);
    var today = new Date(serverNow());
    var time = two(d.getHours()) + ":" + two(d.getMinutes()) + ":" + two(d.getSeconds());
    if (d.toDateString() === today.toDateString()) return time;
    return d.getFullYear() + "-" + (d.getMonth() + 1) + "-" + d.getDate() + " " + time;
  }
  function ago(ms) {
    var s = Math.max(0, Math.round(ms / 1000));
    if (s < 60) return s + " 秒前";
    if (s < 3600) return Math.floor(s / 60) + " 分 " + (s % 60) + " 秒前";
    return Math.floor(s / 3600) + " 小时 " + Math.floor((s % 3600) / 60) + " 分前";
  }

  function fact(list, name, value, className) {
    list.appendChild(el("dt", null, name));
    var dd = el("dd", null, null);
    var span = el("span", className || null, value);
    dd.appendChild(span);
    list.appendChild(dd);
    return span;
  }

  function card(bench) {
    var c = el("section", "card", null);
    c.setAttribute("aria-label", "实验台 " + bench.bench);
    c.appendChild(el("h2", null, "实验台 " + bench.bench));
    var facts = el("dl", "facts", null);
    var stateSpan = fact(facts, "状态", bench.state, "state");
    var minute = bench.minute === null || bench.minute === undefined ? "-" : bench.minute;
    fact(facts, "时间", "第 " + minute + " / " + bench.testMinutes + " min");
    fact(facts, "温度", bench.temperature ? bench.temperature + " ℃" : "-");
    var heard = fact(facts, "最后通信", "", "heard");
    fact(facts, "测试人", bench.tester || "-", "wide");
    fact(facts, "测试单位", bench.organisation || "-", "wide");
    c.appendChild(facts);
    var table = el("table", null, null);
    var head = el("tr", null, null);
    ["通道", "电流(mA)", "电量(C)"].forEach(function (h) { head.appendChild(el("th", null, h)); });
    var thead = el("thead", null, null);
    thead.appendChild(head);
    table.appendChild(thead);
    var body = el("tbody", null, null);
    bench.channels.forEach(function (ch, i) {
      var row = el("tr", ch.inUse ? null : "off", null);
      row.appendChild(el("td", null, i + 1));
      row.appendChild(el("td", null, ch.inUse ? (ch.current || "-") : "未用"));
      row.appendChild(el("td", null, ch.inUse ? (ch.charge || "-") : ""));
      body.appendChild(row);
    });
    table.appendChild(body);
    c.appendChild(table);
    return { bench: bench, card: c, state: stateSpan, heard: heard };
  }

  var shown = [];

  // The state and the time since the bench was last heard, against the server's clock.
  function tick() {
    if (!snapshot) return;
    var now = serverNow();
    shown.forEach(function (s) {
      var silent = now - s.bench.lastHeardMs;
      var lost = s.bench.running && silent >= snapshot.silentAfterMs;
      s.state.textContent = lost ? "失联" : s.bench.state;
      s.state.className = "state" + (lost ? " lost" : s.bench.running ? " running" :
        s.bench.state === "暂停" ? " paused" : "");
      s.card.className = "card" + (lost ? " lost" : "");
      s.heard.textContent = clock(s.bench.lastHeardMs) + "（" + ago(silent) + "）";
    });
  }

  function show(data) {
    snapshot = data;
    offsetMs = data.serverTimeMs - Date.now();
    var status = document.getElementById("status");
    status.textContent = data.status || ("已更新 " + clock(data.serverTimeMs));
    status.className = data.status ? "problem" : "";
    var list = document.getElementById("benches");
    while (list.firstChild) list.removeChild(list.firstChild);
    shown = data.benches.map(card);
    shown.forEach(function (s) { list.appendChild(s.card); });
    document.getElementById("empty").hidden = data.benches.length > 0 || !!data.status;
    document.body.setAttribute("data-version", String(data.version));
    tick();
  }

  function connect() {
    source = new EventSource("/live/events");
    source.onmessage = function (e) {
      retryMs = 1000;
      show(JSON.parse(e.data));
    };
    source.onerror = function () {
      var status = document.getElementById("status");
      status.textContent = "与服务器的连接中断，正在重新连接…";
      status.className = "problem";
      // The browser reconnects by itself after a dropped stream; a refused one (the server
      // restarting, too many viewers) is closed for good and is opened again here.
      if (source.readyState === EventSource.CLOSED) {
        source = null;
        setTimeout(connect, retryMs);
        retryMs = Math.min(retryMs * 2, 30000);
      }
    };
  }

  document.addEventListener("DOMContentLoaded", function () {
    connect();
    setInterval(tick, 1000);
  });
})();
