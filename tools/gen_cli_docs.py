#!/usr/bin/python3
"""Writes the zelvora tool's command reference for its manual page, and its
bash and zsh completions, from the command table the tool prints itself
(`zelvora --command-table`, see apps/zelvora/command_table.h). The build runs
it whenever the tool changes, so a new command or option is documented and
completed without another edit. ZELVORA is the built tool, run once for its
table.

    gen_cli_docs.py manual ZELVORA OUT.h2m
        the OPTIONS and COMMANDS sections, as a help2man include file
    gen_cli_docs.py bash|zsh ZELVORA LANG_INDEX OUT
        the bash or zsh completion; LANG_INDEX is the bundled data's
        lang/index.txt, whose languages (with "en") are the ones
        `data install` offers

Value names the completion knows: DIR (a folder), FILE (a file), LANG (a
bundled language) and "TEXT:a|b|c" (one of a, b and c).
"""

import subprocess
import sys
from dataclasses import dataclass, field


@dataclass
class Option:
    names: list
    value: str
    description: str


@dataclass
class Argument:
    name: str
    value: str
    many: bool
    description: str


@dataclass
class Command:
    path: str
    usage: str
    takes_parent_options: bool
    description: str
    options: list = field(default_factory=list)
    arguments: list = field(default_factory=list)
    subcommands: list = field(default_factory=list)


def read_table(tool):
    """The commands of the tool's table, the program's own first, in table
    order."""
    source = tool + " --command-table"
    table = subprocess.run([tool, "--command-table"], check=True, capture_output=True,
                           encoding="utf-8").stdout
    commands = {}
    order = []
    for number, line in enumerate(table.splitlines(), 1):
        fields = line.split("\t")
        kind = fields[0]
        expected = {"command": 5, "option": 5, "argument": 6}.get(kind)
        if expected != len(fields):
            sys.exit(f"{source}:{number}: not a command table record: {line!r}")
        if kind == "command":
            _, path, usage, parent, description = fields
            command = Command(path, usage, parent == "parent", description)
            commands[path] = command
            order.append(command)
            parent_path = path.rpartition(" ")[0]
            if parent_path in commands:
                commands[parent_path].subcommands.append(command)
            continue
        if fields[1] not in commands:
            sys.exit(f"{source}:{number}: {kind} of an unknown command {fields[1]!r}")
        if kind == "option":
            _, path, names, value, description = fields
            commands[path].options.append(Option(names.split(","), value, description))
        else:
            _, path, name, value, count, description = fields
            commands[path].arguments.append(Argument(name, value, count == "many", description))
    if not order:
        sys.exit(f"{source}: no commands")
    return order


def choices_of(value):
    """The values a value name allows, when it lists them ("TEXT:a|b")."""
    _, colon, listed = value.partition(":")
    return listed.split("|") if colon and listed else []


# ---- manual page


def roff(text):
    """Text for a roff line: backslashes and minus signs escaped, and a line
    that would begin with a control character protected."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text.startswith((".", "'")) else text


def value_roff(value):
    choices = choices_of(value)
    return "\\fI" + roff(value.partition(":")[0] if choices else value) + "\\fR"


def option_roff(option):
    names = ", ".join("\\fB" + roff(name) + "\\fR" for name in option.names)
    return names + (" " + value_roff(option.value) if option.value else "")


def described(description, value):
    choices = choices_of(value)
    if choices:
        description += ": one of " + ", ".join(choices)
    return roff(description)


def is_help(option):
    return "--help" in option.names


def manual(order, out):
    program = order[0]
    lines = ["[=OPTIONS]"]
    for option in program.options:
        lines += [".TP", option_roff(option), described(option.description, option.value)]
    lines += ["", "[COMMANDS]", ".PP"]
    if any(command.takes_parent_options for command in order[1:]):
        lines.append(roff("The options above may also follow a command's name."))
    lines.append(roff("Every command takes -h or --help for its own help."))
    for command in order[1:]:
        lines += [f'.SS "{roff(command.usage)}"', roff(command.description)]
        for argument in command.arguments:
            name = "\\fI" + roff(argument.name) + "\\fR" + (" ..." if argument.many else "")
            lines += [".TP", name, described(argument.description, argument.value)]
        for option in command.options:
            if not is_help(option):
                lines += [".TP", option_roff(option),
                          described(option.description, option.value)]
        if command.subcommands:
            lines += [".PP", roff("Its commands: " + ", ".join(
                sub.path for sub in command.subcommands) + ".")]
    out.write("\n".join(lines) + "\n")


# ---- shell completions


def languages_of(index_path):
    """"en" and the first field of every line of lang/index.txt."""
    languages = ["en"]
    with open(index_path, encoding="utf-8") as index:
        for line in index:
            language = line.rstrip("\n").split("|")[0]
            if language and language not in languages:
                languages.append(language)
    return languages


def shell_word(text):
    """`text` as one word of a bash or zsh script."""
    return "'" + text.replace("'", "'\\''") + "'"


def completion_tables(order, languages):
    """The tables both completions read, each a list of (key, value), keyed by
    the command's words from the program's name on:
      subs   its subcommands
      opts   the options it takes: its own, then those of the commands above
             it that it takes too
      vals   "COMMAND|OPTION": how the option's value is completed
      args   how its arguments are completed, in order
      many   set when its last argument repeats
      lists  the word lists the completions above name
      help   "COMMAND SUB" and "COMMAND|OPTION": their descriptions
    A completion is "files", "dirs", a word list's name, or "-" for none."""
    by_path = {command.path: command for command in order}
    lists = {}

    def action(value):
        base = value.partition(":")[0]
        if choices_of(value):
            words = " ".join(choices_of(value))
        elif base == "LANG":
            words = " ".join(languages)
        elif base in ("FILE", "DIR"):
            return base.lower() + "s"
        else:
            return "-"
        return lists.setdefault(words, f"w{len(lists)}")

    def taken_at(command):
        """Each option `command` takes, with the command that defines it."""
        taken = {}
        while command is not None:
            for option in command.options:
                for name in option.names:
                    taken.setdefault(name, option)
            parent = command.path.rpartition(" ")[0]
            command = by_path.get(parent) if command.takes_parent_options else None
        return taken

    tables = {name: [] for name in ("subs", "opts", "vals", "args", "many", "lists", "help")}
    for command in order:
        path = command.path
        if command.subcommands:
            tables["subs"].append((path, " ".join(s.path.split()[-1] for s in command.subcommands)))
            tables["help"] += [(sub.path, sub.description) for sub in command.subcommands]
        taken = taken_at(command)
        tables["opts"].append((path, " ".join(taken)))
        for name, option in taken.items():
            tables["help"].append((path + "|" + name, option.description))
            if option.value:
                tables["vals"].append((path + "|" + name, action(option.value)))
        if command.arguments:
            tables["args"].append(
                (path, " ".join(action(argument.value) for argument in command.arguments)))
            if command.arguments[-1].many:
                tables["many"].append((path, "1"))
    tables["lists"] = [(name, words) for words, name in lists.items()]
    return tables


def completion(shell, order, languages, out):
    tables = completion_tables(order, languages)
    program = order[0].path
    if shell == "bash":
        del tables["help"]
    lines = [f"#compdef {program}"] if shell == "zsh" else []
    lines += [
        f"# {shell} completion for {program}: its commands, options and their values.",
        "# Generated by tools/gen_cli_docs.py from the tool's command table and the",
        "# bundled languages; do not edit.",
        "",
        f"_{program}() {{",
        "  # See completion_tables in tools/gen_cli_docs.py.",
    ]
    for name, items in tables.items():
        entries = " ".join(f"[{shell_word(k)}]={shell_word(v)}" for k, v in items)
        lines.append(f"  local -A {name}=({entries})")
    body = BASH_BODY if shell == "bash" else ZSH_BODY
    lines += [body.replace("PROGRAM", shell_word(program)), "}"]
    if shell == "bash":
        lines.append(f"complete -F _{program} {program}")
    else:
        # Loaded from fpath by compinit, the file is the function's body;
        # sourced, it registers the function.
        lines += [f'if [[ $funcstack[1] == _{program} ]]; then',
                  f'  _{program} "$@"',
                  "else",
                  f"  compdef _{program} {program}",
                  "fi"]
    out.write("\n".join(lines) + "\n")


# The walk over the words before the cursor: the command they name, how many
# arguments it has been given, and whether the word at the cursor is an
# option's value. "--" ends the options; bash hands "--opt=value" over as the
# three words "--opt", "=" and "value".
BASH_BODY = r"""
  local cur=${COMP_WORDS[COMP_CWORD]} at=PROGRAM word want="" ended="" given=0 i
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ -n $want ]]; then
      [[ $word == "=" ]] || want=""
    elif [[ -z $ended && $word == "--" ]]; then
      ended=1
    elif [[ -z $ended && $word == -?* ]]; then
      want=${vals[$at|$word]}
    elif ((given == 0)) && [[ " ${subs[$at]} " == *" $word "* ]]; then
      at="$at $word"
    else
      given=$((given + 1))
    fi
  done
  if [[ -n $want && $cur == "=" ]]; then
    cur=""
  elif [[ -z $want && -z $ended && $cur == -* ]]; then
    want=options
  elif [[ -z $want ]] && ((given == 0)) && [[ -n ${subs[$at]} ]]; then
    want=commands
  elif [[ -z $want ]]; then
    local -a kinds=(${args[$at]})
    if ((given < ${#kinds[@]})); then
      want=${kinds[given]}
    elif [[ -n ${many[$at]} ]] && ((${#kinds[@]})); then
      want=${kinds[-1]}
    fi
  fi
  local IFS=$'\n'
  case $want in
    files) compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -f -- "$cur")) ;;
    dirs) compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -d -- "$cur")) ;;
    options) IFS=' '; COMPREPLY=($(compgen -W "${opts[$at]}" -- "$cur")) ;;
    commands) IFS=' '; COMPREPLY=($(compgen -W "${subs[$at]}" -- "$cur")) ;;
    w*) IFS=' '; COMPREPLY=($(compgen -W "${lists[$want]}" -- "$cur")) ;;
    *) COMPREPLY=() ;;
  esac"""

# The same walk in zsh, which keeps "--opt=value" one word and offers the
# commands and options with their descriptions.
ZSH_BODY = r"""
  local at=PROGRAM word want= ended= given=0 i
  local -a kinds described
  for ((i = 2; i < CURRENT; i++)); do
    word=${words[i]}
    if [[ -n $want ]]; then
      want=
    elif [[ -z $ended && $word == -- ]]; then
      ended=1
    elif [[ -z $ended && $word == -?*=* ]]; then
      :
    elif [[ -z $ended && $word == -?* ]]; then
      want=${vals[$at|$word]}
    elif ((given == 0)) && [[ " ${subs[$at]} " == *" $word "* ]]; then
      at="$at $word"
    else
      given=$((given + 1))
    fi
  done
  local cur=${words[CURRENT]}
  if [[ -z $want && -z $ended && $cur == -?*=* ]]; then
    want=${vals[$at|${cur%%=*}]}
    [[ -n $want ]] && compset -P '*='
  elif [[ -z $want && -z $ended && $cur == -* ]]; then
    want=options
  elif [[ -z $want ]] && ((given == 0)) && [[ -n ${subs[$at]} ]]; then
    want=commands
  elif [[ -z $want ]]; then
    kinds=(${=args[$at]})
    if ((given < ${#kinds})); then
      want=${kinds[given + 1]}
    elif [[ -n ${many[$at]} ]] && ((${#kinds})); then
      want=${kinds[-1]}
    fi
  fi
  case $want in
    files) _files ;;
    dirs) _files -/ ;;
    options)
      for word in ${=opts[$at]}; do described+=("$word:${help[$at|$word]}"); done
      _describe -t options option described ;;
    commands)
      for word in ${=subs[$at]}; do described+=("$word:${help[$at $word]}"); done
      _describe -t commands command described ;;
    w*) compadd -- ${=lists[$want]} ;;
    *) return 1 ;;
  esac"""


def main(argv):
    if len(argv) == 4 and argv[1] == "manual":
        order = read_table(argv[2])
        with open(argv[3], "w", encoding="utf-8") as out:
            manual(order, out)
    elif len(argv) == 5 and argv[1] in ("bash", "zsh"):
        order = read_table(argv[2])
        languages = languages_of(argv[3])
        with open(argv[4], "w", encoding="utf-8") as out:
            completion(argv[1], order, languages, out)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
