# Sourced by the scripts that need a Debian mirror: they take it from the
# machine's own apt sources, so no mirror's host is written into the project.

# Prints the first URI (and its Signed-By, if any) of the apt source that
# serves the release itself, in either source format.
release_mirror() {
    local codename=$1 f
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk -v suite="$codename" '
            BEGIN { RS = ""; FS = "\n" }
            {
                types = uris = suites = signed = ""
                for (i = 1; i <= NF; i++) {
                    if ($i ~ /^Types:/)     { types = $i;  sub(/^Types:[ \t]*/, "", types) }
                    if ($i ~ /^URIs:/)      { uris = $i;   sub(/^URIs:[ \t]*/, "", uris) }
                    if ($i ~ /^Suites:/)    { suites = $i; sub(/^Suites:[ \t]*/, "", suites) }
                    if ($i ~ /^Signed-By:/) { signed = $i; sub(/^Signed-By:[ \t]*/, "", signed) }
                }
                if ((" " types " ") ~ / deb / && (" " suites " ") ~ (" " suite " ")) {
                    split(uris, u, /[ \t]+/); print u[1], signed; exit
                }
            }' "$f"
    done
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | awk -v suite="$codename" '
        $1 == "deb" {
            signed = ""
            if ($2 ~ /^\[/) {
                for (i = 2; i <= NF; i++) { if ($i ~ /^signed-by=/) { signed = $i; sub(/^signed-by=/, "", signed); sub(/\]$/, "", signed) } if ($i ~ /\]$/) break }
                uri = $(i + 1); s = $(i + 2)
            } else { uri = $2; s = $3 }
            if (s == suite) { print uri, signed; exit }
        }'
}
