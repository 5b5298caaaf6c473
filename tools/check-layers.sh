#!/bin/bash
# Layering check: every #include "..." in the sources names a folder that its
# own folder may use, and portable code (any */portable/ folder) includes no
# Windows header and no project header outside a portable/ folder.
#
#   check-layers.sh [ROOT]      (ROOT defaults to the tree this script is in)
#   check-layers.sh --table     prints the table below as Markdown
#
# Prints each offending line as FILE:LINE: #include ... (reason) and exits 1
# when there is one; exits 0 when the tree keeps its layers. The same table
# stands in docs/architecture.md between the markers of LAYER_TABLE_BEGIN and
# LAYER_TABLE_END; a copy there that differs from the one printed by --table
# counts as an offence too, so the map cannot drift from what is enforced.
set -u

# Each folder may include itself and the folders listed here; "*" is any.
# "idl" stands for the interface headers generated from idl/quillbox.idl.
# A folder with sources must have a row.
LAYERS=(
  "base:"
  "rastrum: base"
  "metadata: base"
  "com: base idl"
  "core: base rastrum metadata com idl"
  "modifiers: base rastrum metadata com core idl"
  "output: base rastrum com core idl"
  "collections: base com idl"
  "showreel: base rastrum output"
  "server: *"
  "host: server idl"
  "install: *"
  "bench: *"
  "fuzz: base rastrum metadata modifiers output server"
  "tests: *"
  "examples: *"
)

# Headers the build generates, and the layer each counts as.
GENERATED=(
  "quillbox.h: idl"
  "registry_scripts.rc: server"
  "unserved_classes.h: server"
)

# Windows headers (matched case-blind against the name in <...>), which
# portable code must not include.
WINDOWS_HEADERS='^(windows|windef|winbase|winnt|winuser|wingdi|winerror|winreg|winver|winnls|wincrypt|winsock2?|ws2tcpip|minwindef|objbase|objidl|objidlbase|ole2|oleauto|olectl|oleidl|oaidl|ocidl|unknwn|wtypes|wtypesbase|combaseapi|comdef|comutil|commctrl|commdlg|propidl|servprov|guiddef|basetyps|rpc|rpcndr|rpcdce|shlwapi|shellapi|shlobj|shtypes|gdiplus|gdiplus[a-z]*|intsafe|strsafe|tchar|mmsystem|psapi|dbghelp|atl[a-z]*)\.h$|^(wrl|winrt)/'

LAYER_TABLE_BEGIN='<!-- layer table: made by tools/check-layers.sh --table -->'
LAYER_TABLE_END='<!-- end of layer table -->'

# The layer table as Markdown, in the order above.
layer_table() {
  local row folder uses
  printf '| folder | may include |\n|---|---|\n'
  for row in "${LAYERS[@]}"; do
    folder="${row%%:*}"
    read -ra uses <<<"${row#*:}"
    case " ${uses[*]} " in
      *" * "*) uses="any folder" ;;
      "  ") uses="nothing else" ;;
      *) uses="$(printf '`%s/`, ' "${uses[@]}")"; uses="${uses%, }" ;;
    esac
    printf '| `%s/` | %s |\n' "$folder" "$uses"
  done
}

if [ "${1:-}" = --table ]; then
  layer_table
  exit 0
fi

SOURCE_FILES='\.(c|cc|cpp|cxx|h|hh|hpp|hxx|inl|ipp|rc)$'

root="${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
root="$(cd "$root" && pwd)" || exit 2

declare -A allowed generated
for row in "${LAYERS[@]}"; do
  read -ra words <<<"${row#*:}"
  allowed[${row%%:*}]=" ${words[*]} "
done
for row in "${GENERATED[@]}"; do
  read -ra words <<<"${row#*:}"
  generated[${row%%:*}]="${words[*]}"
done

# The sources: what git tracks or would track, else every file outside
# .git and build trees.
list_sources() {
  if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git -C "$root" ls-files --cached --others --exclude-standard
  else
    (cd "$root" && find . \( -name .git -o -name 'build*' \) -prune -o -type f -print | sed 's|^\./||')
  fi | grep -E "$SOURCE_FILES" | sort -u
}

# The layer of a path relative to the root: its top folder ("" at the root).
layer_of() { case "$1" in */*) printf '%s\n' "${1%%/*}" ;; *) printf '\n' ;; esac; }

# Normalises a relative path (a/b/../c -> a/c); prints nothing when it leaves
# the root.
normalise() {
  local IFS=/ part parts out=()
  read -ra parts <<<"$1"
  for part in "${parts[@]}"; do
    case "$part" in
      ''|.) ;;
      ..) [ ${#out[@]} -eq 0 ] && return; unset 'out[-1]' ;;
      *) out+=("$part") ;;
    esac
  done
  printf '%s\n' "${out[*]}"
}

offending=0
checked=0
report() {  # FILE LINE TEXT REASON
  printf '%s:%s: %s  (%s)\n' "$1" "$2" "$3" "$4"
  offending=$((offending + 1))
}

INCLUDE_ANGLE='include[[:space:]]*<([^>]+)>'
INCLUDE_QUOTE='include[[:space:]]*"([^"]+)"'

declare -A missing_row
while IFS= read -r file; do
  from="$(layer_of "$file")"
  if [ -z "$from" ] || [ -z "${allowed[$from]+x}" ]; then
    [ -n "${missing_row[${from:-.}]+x}" ] && continue
    missing_row[${from:-.}]=1
    printf "%s: folder '%s' has no row in the layer table\n" "$file" "${from:-.}"
    offending=$((offending + 1))
    continue
  fi
  portable=0
  case "/$file" in */portable/*) portable=1 ;; esac

  while IFS= read -r hit; do
    [ -z "$hit" ] && continue
    lineno="${hit%%:*}"
    text="${hit#*:}"
    text="${text#"${text%%[![:space:]]*}"}"
    checked=$((checked + 1))
    if [[ "$text" =~ $INCLUDE_ANGLE ]]; then
      name="${BASH_REMATCH[1]}"
      if [ $portable -eq 1 ] && [[ "${name,,}" =~ $WINDOWS_HEADERS ]]; then
        report "$file" "$lineno" "$text" "portable code includes a Windows header"
      fi
      continue
    fi
    [[ "$text" =~ $INCLUDE_QUOTE ]] || continue
    name="${BASH_REMATCH[1]}"

    # Resolved as the compiler does: beside the including file, then from
    # the root (the include root of every target); else a generated header.
    target="" to=""
    here="$(dirname "$file")"
    [ "$here" = . ] && here=""
    for candidate in "${here:+$here/}$name" "$name"; do
      candidate="$(normalise "$candidate")"
      if [ -n "$candidate" ] && [ -f "$root/$candidate" ]; then
        target="$candidate"
        to="$(layer_of "$candidate")"
        break
      fi
    done
    if [ -z "$target" ]; then
      to="${generated[$(basename "$name")]-}"
      if [ -z "$to" ]; then
        report "$file" "$lineno" "$text" "names no file of the tree and no generated header"
        continue
      fi
    fi

    if [ $portable -eq 1 ]; then
      case "/$target" in
        */portable/*) ;;
        *) report "$file" "$lineno" "$text" "portable code includes a header outside portable/"; continue ;;
      esac
    fi
    rule="${allowed[$from]}"
    if [ "$to" != "$from" ] && [[ "$rule" != *" * "* ]] && [[ "$rule" != *" $to "* ]]; then
      report "$file" "$lineno" "$text" "$from may not include ${to:-the root}"
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' "$root/$file")
done < <(list_sources)

# The map's copy of the table.
map="$root/docs/architecture.md"
if [ -f "$map" ]; then
  copy="$(sed -n "\|^$LAYER_TABLE_BEGIN\$|,\|^$LAYER_TABLE_END\$|p" "$map" | sed '1d;$d')"
  if [ "$copy" != "$(layer_table)" ]; then
    printf '%s: the layer table differs from the one enforced here (write it with %s --table)\n' \
      "docs/architecture.md" "tools/check-layers.sh"
    offending=$((offending + 1))
  fi
fi

echo "layers: $checked includes checked, $offending offending"
[ "$offending" -eq 0 ]
