# Draws the demo's timeline as SVG: the PPS offset per UTCTime message, from
# the server's "PPS offset from UTC" events until the PPS settles and from
# the NTP samples (real - clock) once the feed runs, with the steps of the
# discipline marked.
#   awk -v rate=R -v clock_error=S -v shift_at=N -v shift_ms=X \
#       -f timeline.awk events.jsonl simulator.log > timeline.svg
# Plain POSIX awk: Debian's default is mawk.

FNR == 1 { file++ }

# Every message before the settling one gives one such event, in order.
file == 1 && /PPS offset from UTC/ {
    match($0, /PPS offset from UTC [-+0-9.e]+ ns/)
    split(substr($0, RSTART, RLENGTH), f, " ")
    pps[++npps] = f[5] / 1000
}

# The simulator's lines of a message follow its "Processing" line.
file == 2 && /cbUTCTime : Processing UTC Time message/ { msg++ }
file == 2 && /sim: system clock stepped by/ && !m0 { m0 = msg; step = $6 }
file == 2 && /NTP: ntpshm_put/ {
    # sec.nsec has more digits than a double holds: subtract the parts.
    split($4, r, "."); split($6, c, ".")
    ntp[msg] = ((r[1] - c[1]) * 1e9 + (r[2] - c[2])) / 1000
    if (!first_ntp) first_ntp = msg
    if (!shifted && shift_at && msg >= shift_at) shifted = msg
}

function floor(x) { return x == int(x) || x >= 0 ? int(x) : int(x) - 1 }
function nice(span,   p, m) {
    p = exp(floor(log(span / 5) / log(10)) * log(10))
    m = span / 5 / p
    return (m < 1.5 ? 1 : m < 3.5 ? 2 : m < 7.5 ? 5 : 10) * p
}
function X(m) { return L + m * (R - L) / (n + 1) }
function Y(v) { return B - (v - ylo) / (yhi - ylo) * (B - T) }
function text(x, y, s, attrs) {
    printf "<text x=\"%.1f\" y=\"%.1f\"%s>%s</text>\n", x, y, attrs ? " " attrs : "", s
}
function line(x1, y1, x2, y2, attrs) {
    printf "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" %s/>\n", x1, y1, x2, y2, attrs
}
function dot(m, v, colour) {
    printf "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3\" fill=\"%s\"/>\n", X(m), Y(v), colour
}
function vmark(m, label, colour,   x) {
    x = X(m)
    line(x, T, x, B, "stroke=\"" colour "\" stroke-dasharray=\"4 3\"")
    # Turned a quarter back, the glyphs stand left of their baseline.
    text(x + 10, T + 4, label, "font-size=\"10\" fill=\"" colour "\" text-anchor=\"end\" transform=\"rotate(-90 " sprintf("%.1f %.1f", x + 10, T + 4) ")\"")
}

END {
    if (msg == 0) { print "timeline.awk: no UTCTime message in the simulator's log" > "/dev/stderr"; exit 1 }
    W = 960; H = 580; L = 80; R = 920; T = 70; B = 450
    n = msg
    lo = 0; hi = 0
    for (i = 1; i <= npps; i++) { if (pps[i] < lo) lo = pps[i]; if (pps[i] > hi) hi = pps[i] }
    for (m in ntp) { if (ntp[m] < lo) lo = ntp[m]; if (ntp[m] > hi) hi = ntp[m] }
    if (hi - lo < 1) hi = lo + 1
    # The data keeps to the lower part; the steps' labels take the top.
    s = nice((hi - lo) / 0.6)
    ylo = floor(lo / s) * s
    yhi = ylo + s * floor((hi - ylo) / 0.6 / s + 0.999)

    print "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
    printf "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"12\">\n", W, H, W, H
    printf "<rect width=\"%d\" height=\"%d\" fill=\"white\"/>\n", W, H
    text(W / 2, 26, "Chronavel on a simulated board: PPS offset per UTCTime message", "font-size=\"17\" font-weight=\"bold\" text-anchor=\"middle\"")
    sub_ = sprintf("rate %s; the system clock starts %s s off", rate, clock_error)
    if (m0) sub_ = sub_ sprintf(", stepped by %s s at message %d", step, m0)
    if (shift_at) sub_ = sub_ sprintf("; the source tells UTC %+g ms from message %d", shift_ms, shift_at)
    text(W / 2, 48, sub_, "font-size=\"12\" fill=\"#444\" text-anchor=\"middle\"")

    # Grid, axes and their labels.
    for (i = 0; ylo + i * s <= yhi + s / 2; i++) {
        v = ylo + i * s
        line(L, Y(v), R, Y(v), "stroke=\"#e4e4e4\"")
        text(L - 6, Y(v) + 4, sprintf("%g", v), "text-anchor=\"end\"")
    }
    xs = n <= 80 ? 5 : 10
    for (m = xs; m <= n; m += xs) {
        line(X(m), B, X(m), B + 5, "stroke=\"black\"")
        text(X(m), B + 18, m, "text-anchor=\"middle\"")
    }
    line(L, B, R, B, "stroke=\"black\""); line(L, T, L, B, "stroke=\"black\"")
    text((L + R) / 2, B + 38, "UTCTime message, as received by the server", "text-anchor=\"middle\"")
    text(24, (T + B) / 2, "offset (µs)", "text-anchor=\"middle\" transform=\"rotate(-90 24 " (T + B) / 2 ")\"")

    # The schedule, counted from the settling message, and the source's shift.
    if (m0) {
        split("0 2 18 20 22 30 31 46 47", ks, " ")
        split("clock stepped|1PPS interrupt on|ntpd started|ntpd priority|NTP fed from here|PHC set to TAI|PPS slave, PTP clock|ptp4l started|grandmaster settings", what, "|")
        for (i = 1; i in ks; i++)
            if (m0 + ks[i] <= n) vmark(m0 + ks[i], "step " ks[i] ": " what[i], "#666")
    }
    if (shift_at && shift_at <= n) vmark(shift_at, sprintf("source %+g ms", shift_ms), "#d62728")

    # The data: events until the PPS settled, then the NTP feed.
    for (i = 1; i <= npps; i++) dot(i, pps[i], "#1f77b4")
    pts = ""
    for (m = 1; m <= n; m++) if (m in ntp) pts = pts sprintf(" %.1f,%.1f", X(m), Y(ntp[m]))
    if (pts != "") printf "<polyline points=\"%s\" fill=\"none\" stroke=\"#2ca02c\" stroke-width=\"1.5\"/>\n", substr(pts, 2)
    for (m = 1; m <= n; m++) if (m in ntp) dot(m, ntp[m], "#2ca02c")
    if (first_ntp) text(X(first_ntp), Y(ntp[first_ntp]) - 9, sprintf("%+.3f µs", ntp[first_ntp]), "fill=\"#1d6b1d\"")
    if (shifted) text(X(shifted), Y(ntp[shifted]) - 9, sprintf("%+.3f µs", ntp[shifted]), "fill=\"#1d6b1d\"")

    # Legend.
    y = B + 66
    printf "<circle cx=\"%d\" cy=\"%d\" r=\"4\" fill=\"#1f77b4\"/>\n", L, y - 4
    text(L + 10, y, "PPS offset from UTC, from the server's events until the PPS settles")
    printf "<circle cx=\"%d\" cy=\"%d\" r=\"4\" fill=\"#2ca02c\"/>\n", L + 470, y - 4
    text(L + 480, y, "NTP sample fed: real − clock (simulator)")
    y += 22
    line(L - 6, y - 4, L + 6, y - 4, "stroke=\"#666\" stroke-dasharray=\"4 3\"")
    text(L + 10, y, "step k of the discipline, at the settling message + k")
    line(L + 464, y - 4, L + 476, y - 4, "stroke=\"#d62728\" stroke-dasharray=\"4 3\"")
    text(L + 480, y, "the time source's offset changes")
    print "</svg>"
}
