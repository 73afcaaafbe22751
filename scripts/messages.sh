# Sourced by the scripts that run before zorvik-cli is built (scripts/run, scripts/install-deps): their
# sentences come from zorvik-cli's catalogue, in the language zorvik speaks (ZORVIK_LANGUAGE: German
# unless it names English), so that they speak one language with the window from their first line.
#
#   say KEY [ARG...]   prints the sentence KEY to standard error, each %s filled with the next ARG

zorvik_catalogue() {
  local root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  local setting=${ZORVIK_LANGUAGE:-}
  setting=${setting,,}
  case "$setting" in
    en | en_* | en-*) echo "$root/resources/rszorvik.cli.CliBundle.properties" ;;
    *) echo "$root/resources/rszorvik.cli.CliBundle_de.properties" ;;
  esac
}

say() {
  local key=$1
  shift
  local line
  line=$(grep -m 1 -F "$key=" "$(zorvik_catalogue)" | grep -m 1 "^${key//./\\.}=") || {
    echo "say: the catalogue has no sentence $key" >&2
    return 1
  }
  local text=${line#*=}
  local arg
  for arg in "$@"; do
    text=${text/\%s/"$arg"}
  done
  # The catalogue writes every other character as \uXXXX, which printf turns into UTF-8 in a UTF-8 locale.
  LC_ALL=C.UTF-8 printf '%b\n' "$text" >&2
}
