# Prints scripts/bench.sh's table from its figures ("name value" lines:
# times in seconds, memory in kilobytes). Variables: cores, start, end (the
# load averages at the start and at the end of the run).

{ v[$1] = $2 }

function known(name) { return (name in v) && v[name] >= 0 }

function duration(s) {
    if (s < 0.01) return sprintf("%.2f ms", s * 1000)
    if (s < 1) return sprintf("%.1f ms", s * 1000)
    return sprintf("%.2f s", s)
}

function line(n, what, mine, base, ratio, target, met) {
    printf "%-2s %-40s %-20s %-24s %-7s %-14s %s\n", n, what, mine, base, ratio, target, met
}

# Times against a baseline time; the ratio is ours over the baseline's. The
# baseline is the figure's own (name.base) unless another is named; a limit
# of 0 shows the ratio alone.
function slower(n, what, name, label, limit, base) {
    if (base == "")
        base = name ".base"
    goal = limit > 0 ? "<= " limit "x" : ""
    if (!known(name) || !known(base) || v[base] == 0) {
        line(n, what, "failed", "", "", goal, "NO")
        return
    }
    r = v[name] / v[base]
    line(n, what, duration(v[name]), duration(v[base]) " " label, sprintf("%.2fx", r),
         goal, limit == 0 ? "" : r <= limit ? "yes" : "NO")
}

# The hex dump is judged by its speed: the baseline's time over ours.
function faster(n, what, name, limit) {
    if (!known(name) || !known("hexdump.base") || v[name] == 0) {
        line(n, what, "failed", "", "", ">= " limit "x", "NO")
        return
    }
    r = v["hexdump.base"] / v[name]
    line(n, what, duration(v[name]), duration(v["hexdump.base"]) " xxd", sprintf("%.1fx", r),
         ">= " limit "x", r >= limit ? "yes" : "NO")
}

# A second baseline, for what bounds a row: a ratio without a target.
function beside(what, name, base, label) {
    if (known(name) && known(base) && v[base] > 0)
        line("", what, "", duration(v[base]) " " label, sprintf("%.2fx", v[name] / v[base]), "", "")
}

function within(n, what, name, limit) {
    ok = known(name) && v[name] < limit
    line(n, what, known(name) ? duration(v[name]) : "failed", "", "", "< " duration(limit), ok ? "yes" : "NO")
}

# Requests per second under wrk against nginx serving the same bytes (or
# the baseline `label` names); a target of 0 shows the ratio alone.
function served(what, name, base, target, label) {
    if (label == "") label = "nginx"
    goal = target > 0 ? ">= " target "x rate" : ""
    if (!known(name ".rps") || !known(base ".rps") || v[base ".rps"] == 0) {
        line(7, what, "failed", "", "", goal, "NO")
        return
    }
    r = v[name ".rps"] / v[base ".rps"]
    line(7, what, sprintf("%.0f req/s", v[name ".rps"]), sprintf("%.0f req/s %s", v[base ".rps"], label),
         sprintf("%.2fx", r), goal, target == 0 ? "" : r >= target ? "yes" : "NO")
    line("", "  p99 latency; errors (ours, " label "'s)", duration(v[name ".p99"]) "; " v[name ".errors"],
         duration(v[base ".p99"]) "; " v[base ".errors"],
         v[base ".p99"] > 0 ? sprintf("%.2fx", v[name ".p99"] / v[base ".p99"]) : "", "no errors",
         v[name ".errors"] == 0 ? "yes" : "NO")
}

function megabytes(kb) { return sprintf("%.1f MB", kb / 1024) }

# Working set growth over one step (since the state measured before it):
# within 1 MB counts as none.
function grown(what, when, since) {
    if (!known("memory." when ".ws") || !known("memory." since ".ws")) {
        line(9, what, "failed", "", "", "no growth", "NO")
        return
    }
    d = v["memory." when ".ws"] - v["memory." since ".ws"]
    line(9, what, sprintf("%+.1f MB", d / 1024), "", "", "no growth", d <= 1024 ? "yes" : "NO")
}

function objects(kind, name) {
    before = v["memory.warm." name] + 0; after = v["memory.view." name] + 0
    line(9, kind " objects warmed up -> after", before " -> " after, "", "", "no growth",
         known("memory.view." name) && after <= before ? "yes" : "NO")
}

END {
    printf "Quillet benchmarks: each row is measured in this run beside its baseline. The figures are this\n"
    printf "machine's (%s cores, load %s at the start, %s at the end); the ratios carry over.\n\n", cores, start, end
    line("#", "Measure", "Quillet", "Baseline", "Ratio", "Target", "Met")
    slower(1, "Automatic conversion, 3 x 1 MB copied", "convert", "copying twice", 3)
    slower(2, "Undo snapshot and Undo, 24 x 4 MB", "undo", "memcpy", 3)
    beside("  against plain clipboard calls", "undo", "undo.win32", "Win32")
    faster(3, "Hex dump of 64 MB, native", "hexdump.native", 10)
    faster(3, "Hex dump of 64 MB, under Wine", "hexdump.wine", 10)
    slower(4, "LoadClipboardPNG, 4000 x 3000 photo", "png", "libpng", 1.3)
    slower(4, "LoadClipboardJPEG, 4000 x 3000 photo", "jpeg", "libjpeg-turbo", 1.3)
    slower(5, "HTTP client, 1 MB chunked reply", "http", "curl", 2)
    beside("  against plain Winsock calls", "http", "http.win32", "Winsock")
    within(6, "Synchronisation, 10 clippings up", "sync.upload", 1)
    within(6, "Synchronisation, 10 clippings down", "sync.download", 1)
    slower("", "  10 clippings up over TLS", "sync.tls.upload", "HTTP", 0, "sync.upload")
    slower("", "  10 clippings down over TLS", "sync.tls.download", "HTTP", 0, "sync.download")
    served("Service act=list, wrk 64 conn., 10 s", "wrk.list", "wrk.list.base", 0.5)
    served("Service act=getdata, wrk 64 conn., 10 s", "wrk.getdata", "wrk.getdata.base", 0.5)
    served("  act=list on PostgreSQL, one instance", "wrk.pg", "wrk.pg.base", 0)
    served("  act=list on PostgreSQL, two + nginx", "wrk.cluster", "wrk.pg.base", 0)
    served("  act=list over TLS, keep-alive off", "wrk.tls", "wrk.tls.base", 0, "HTTP")
    slower(8, "Start-up to the main window", "startup", "notepad", 1.5)
    line(9, "Working set idle; warmed up", megabytes(v["memory.idle.ws"]) "; " megabytes(v["memory.warm.ws"]),
         "", "", "", "")
    grown("  over a 100 MB snapshot and Undo", "undo", "warm")
    grown("  over 1,000 automatic conversions", "convert", "undo")
    grown("  over 1,000 viewer refreshes", "view", "convert")
    objects("GDI", "gdi")
    objects("USER", "user")
    slower(10, "Paste key to the plain text in a program", "paste.text", "Ctrl+V", 0, "paste.base")
    slower(10, "  to the formatted copy given back", "paste.restored", "Ctrl+V", 0, "paste.base")
    slower(11, "Sealing a 1 MB clipping part", "seal", "openssl", 10)
    beside("  against CNG's AES-GCM alone", "seal", "seal.cng", "CNG")
    within(11, "Sealing key: PBKDF2, 600,000 rounds", "seal.derive", 1)
    beside("  against Python's PBKDF2", "seal.derive", "seal.derive.base", "Python")
}
